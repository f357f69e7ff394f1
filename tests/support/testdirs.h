// Folders and files for tests: a fresh temporary folder per test (removed afterwards), the
// locations of the sample media and build outputs, and whole-file reads and writes.
#pragma once

#include <string>

namespace testsupport {

// A new empty folder under the system's temporary folder; removed with everything in it when the
// object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  // Path() + "/" + name.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Where tests/fixtures put the sample media.
std::string FixtureDir();
std::string Fixture(const std::string& name);
// The build folder (for test helper binaries).
std::string BinaryDir();

// The mount point of some read-only mount this process sees, "" when there is none.
std::string ReadOnlyMountPoint();

// A file's whole content as bytes ("" when it cannot be read) / replaced by the text.
std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

}  // namespace testsupport
