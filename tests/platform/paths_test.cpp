// Where no output can go: a folder on a read-only mount (and one that does not exist yet below
// it) is refused; a writable temporary folder is not.
#include <gtest/gtest.h>

#include "platform/paths.h"
#include "tests/support/testdirs.h"

TEST(Paths, FoldersOnReadOnlyMountsAreRefusedAndWritableOnesAreNot) {
  testsupport::TempDir dir;
  EXPECT_FALSE(platform::FolderOnReadOnlyMedia(dir.Path()));
  EXPECT_FALSE(platform::FolderOnReadOnlyMedia(dir.File("not/yet/there")));
  const std::string readOnly = testsupport::ReadOnlyMountPoint();
  if (readOnly.empty()) GTEST_SKIP() << "this process sees no read-only mount";
  EXPECT_TRUE(platform::FolderOnReadOnlyMedia(readOnly)) << readOnly;
  EXPECT_TRUE(platform::FolderOnReadOnlyMedia(readOnly + "/not/yet/there")) << readOnly;
}
