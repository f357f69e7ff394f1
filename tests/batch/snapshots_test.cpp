// Snapshot files: which files the four flags write, what an independent reader finds in them
// (format, size, colours), the JPEG quality, replacing earlier snapshots whole, a file that
// cannot be written, the snapshot folder's fallback, and a snapshot without a frame.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "batch/snapshots.h"
#include "platform/prompt.h"
#include "profiles/settings.h"
#include "tests/support/ffprobe.h"
#include "tests/support/testdirs.h"

namespace {

namespace fs = std::filesystem;

// A picture of one colour with a diagonal gradient in its green channel, so the JPEG quality
// has detail to spend bytes on.
media::TBitmap Picture(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
  media::TBitmap bitmap(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      row[x * 3] = b;
      row[x * 3 + 1] = static_cast<uint8_t>(g + ((x * 7 + y * 13) % 32));
      row[x * 3 + 2] = r;
    }
  }
  return bitmap;
}

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

// The average R, G, B of a picture file as the ffmpeg tool decodes it (scaled to 1x1).
std::vector<int> AverageColour(const std::string& file) {
  std::string out;
  const int status = testsupport::RunTool({"ffmpeg", "-v", "error", "-i", file, "-vf",
                                           "scale=1:1:flags=area", "-f", "rawvideo", "-pix_fmt",
                                           "rgb24", "-"},
                                          &out);
  if (status != 0 || out.size() != 3) return {};
  return {static_cast<uint8_t>(out[0]), static_cast<uint8_t>(out[1]),
          static_cast<uint8_t>(out[2])};
}

struct TSnapshotRig {
  testsupport::TempDir dir;
  std::string settingsFile = dir.File(profiles::kSettingsFileName);
  std::string folder = dir.File("snaps");
  profiles::TSettings settings{settingsFile};
  platform::TScriptedPrompt prompt;
  platform::TPromptScope scope{prompt};
  TSnapshotRig() { settings.SetSnapOutPutDir(folder); }
  void Flags(int full, int small, int bmp, int jpg) const {
    const platform::TIniFile& ini = settings.File();
    ini.WriteInteger(profiles::kSettingsSection, profiles::kSnapFullSizeKey, full);
    ini.WriteInteger(profiles::kSettingsSection, profiles::kSnapSmallSizeKey, small);
    ini.WriteInteger(profiles::kSettingsSection, profiles::kSnapBmpKey, bmp);
    ini.WriteInteger(profiles::kSettingsSection, profiles::kSnapJpgKey, jpg);
  }
};

struct TFlagCase {
  const char* name;
  int full, small, bmp, jpg;
  std::set<std::string> expected;
};

}  // namespace

TEST(Snapshots, EachKindIsWrittenOnlyWhenBothOfItsFlagsAreExactlyOne) {
  const TFlagCase cases[] = {
      {"every flag on", 1, 1, 1, 1,
       {"Snapshot_full.bmp", "Snapshot_small.bmp", "Snapshot_full.jpg", "Snapshot_small.jpg"}},
      {"no BMP: the two JPEG files", 1, 1, 0, 1, {"Snapshot_full.jpg", "Snapshot_small.jpg"}},
      {"no JPEG", 1, 1, 1, 0, {"Snapshot_full.bmp", "Snapshot_small.bmp"}},
      {"full size only", 1, 0, 1, 1, {"Snapshot_full.bmp", "Snapshot_full.jpg"}},
      {"small size only, as JPEG", 0, 1, 0, 1, {"Snapshot_small.jpg"}},
      {"a flag of 2 is not on", 2, 1, 1, 2, {"Snapshot_small.bmp"}},
      {"no format", 1, 1, 0, 0, {}},
  };
  const media::TBitmap full = Picture(200, 100, 200, 40, 30);
  const media::TBitmap small = Picture(96, 72, 20, 40, 220);
  for (const TFlagCase& c : cases) {
    SCOPED_TRACE(c.name);
    TSnapshotRig rig;
    rig.Flags(c.full, c.small, c.bmp, c.jpg);
    const batch::TSnapshotFiles result = batch::WriteSnapshots(rig.settingsFile, full, small);
    EXPECT_EQ(result.Error, "");
    EXPECT_EQ(result.Folder, rig.folder);
    EXPECT_EQ(FilesIn(rig.folder), c.expected);  // and no temporary file is left behind
    std::set<std::string> written;
    for (const std::string& path : result.Written) written.insert(path);
    std::set<std::string> expectedPaths;
    for (const std::string& name : c.expected) expectedPaths.insert(rig.folder + "/" + name);
    EXPECT_EQ(written, expectedPaths);
    EXPECT_TRUE(rig.prompt.Texts().empty());

    // Each file holds its own picture, as an independent reader decodes it: the format, the
    // size, and the colours in their right channels.
    for (const std::string& name : c.expected) {
      SCOPED_TRACE(name);
      const std::string path = rig.folder + "/" + name;
      const bool isFull = name.find("full") != std::string::npos;
      const bool isJpeg = name.ends_with(".jpg");
      const media::TBitmap& source = isFull ? full : small;
      testsupport::FFprobe probe(path);
      ASSERT_TRUE(probe.Ok()) << probe.Errors();
      EXPECT_EQ(probe.CodecName(0), isJpeg ? "mjpeg" : "bmp");
      EXPECT_EQ(probe.Width(0), source.Width());
      EXPECT_EQ(probe.Height(0), source.Height());
      const std::vector<int> average = AverageColour(path);
      ASSERT_EQ(average.size(), 3u);
      const std::vector<int> expected = isFull ? std::vector<int>{200, 55, 30}
                                               : std::vector<int>{20, 55, 220};
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(average[i], expected[i], 8) << "channel " << i;
    }
  }
}

TEST(Snapshots, JpegQualityComesFromTheSettingAndEarlierSnapshotsAreReplaced) {
  TSnapshotRig rig;
  rig.Flags(1, 0, 1, 1);
  const media::TBitmap red = Picture(320, 240, 220, 30, 20);
  const std::string jpg = rig.folder + "/" + batch::kSnapshotFullJpg;
  const std::string bmp = rig.folder + "/" + batch::kSnapshotFullBmp;

  // Missing "jpgCmp" is 30; a higher quality spends more bytes on the same picture.
  batch::WriteSnapshots(rig.settingsFile, red, {});
  const auto atDefault = fs::file_size(jpg);
  rig.settings.SetJpgCmp(30);
  batch::WriteSnapshots(rig.settingsFile, red, {});
  EXPECT_EQ(fs::file_size(jpg), atDefault);
  rig.settings.SetJpgCmp(95);
  batch::WriteSnapshots(rig.settingsFile, red, {});
  const auto atHigh = fs::file_size(jpg);
  EXPECT_GT(atHigh, atDefault * 3 / 2);
  // Out of range values are held to 1…100 rather than refused.
  rig.settings.SetJpgCmp(500);
  EXPECT_EQ(batch::WriteSnapshots(rig.settingsFile, red, {}).Error, "");
  EXPECT_GT(fs::file_size(jpg), atHigh);

  // The next snapshot of another picture replaces both files with it.
  const media::TBitmap blue = Picture(160, 90, 10, 20, 230);
  batch::WriteSnapshots(rig.settingsFile, blue, {});
  media::TBitmap reread;
  ASSERT_TRUE(reread.LoadFromBMP(bmp));
  ASSERT_EQ(reread.Width(), 160);
  EXPECT_EQ(reread.ScanLine(45)[2], 10);
  EXPECT_EQ(reread.ScanLine(45)[0], 230);
  testsupport::FFprobe probe(jpg);
  EXPECT_EQ(probe.Width(0), 160);
  EXPECT_EQ(FilesIn(rig.folder),
            (std::set<std::string>{batch::kSnapshotFullBmp, batch::kSnapshotFullJpg}));
}

TEST(Snapshots, AFileThatCannotBeWrittenIsReportedAndTheOthersAreStillWritten) {
  TSnapshotRig rig;
  rig.Flags(1, 1, 1, 1);
  // A folder holding a file stands where the full BMP should go: it cannot be replaced.
  const std::string blocked = rig.folder + "/" + batch::kSnapshotFullBmp;
  fs::create_directories(blocked);
  testsupport::WriteText(blocked + "/keep", "x");
  const batch::TSnapshotFiles result =
      batch::WriteSnapshots(rig.settingsFile, Picture(64, 48, 1, 2, 3), Picture(32, 24, 1, 2, 3));
  EXPECT_NE(result.Error.find("Cannot write " + blocked + ": "), std::string::npos)
      << result.Error;
  EXPECT_EQ(result.Written.size(), 3u);
  EXPECT_EQ(testsupport::ReadText(blocked + "/keep"), "x");
  EXPECT_EQ(FilesIn(rig.folder),
            (std::set<std::string>{batch::kSnapshotFullBmp, batch::kSnapshotSmallBmp,
                                   batch::kSnapshotFullJpg, batch::kSnapshotSmallJpg}));
}

TEST(Snapshots, AnUncreatableFolderFallsBackToTheDefaultAndWithoutAFrameNothingHappens) {
  TSnapshotRig rig;
  rig.Flags(1, 1, 0, 1);
  testsupport::WriteText(rig.dir.File("file"), "x");
  const std::string impossible = rig.dir.File("file/snaps");
  rig.settings.SetSnapOutPutDir(impossible);

  // Without a frame: no file, no folder, no warning.
  const batch::TSnapshotFiles none = batch::WriteSnapshots(rig.settingsFile, {}, {});
  EXPECT_EQ(none.Folder, "");
  EXPECT_TRUE(none.Written.empty());
  EXPECT_TRUE(rig.prompt.Texts().empty());

  // The default folder lives in the home folder: a temporary one here.
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  setenv("HOME", rig.dir.Path().c_str(), 1);
  const batch::TSnapshotFiles result =
      batch::WriteSnapshots(rig.settingsFile, Picture(64, 48, 1, 2, 3), Picture(32, 24, 1, 2, 3));
  setenv("HOME", savedHome.c_str(), 1);

  const std::string fallback = rig.dir.File("videoconverter");
  EXPECT_EQ(result.Folder, fallback);
  EXPECT_EQ(result.Error, "");
  EXPECT_EQ(FilesIn(fallback),
            (std::set<std::string>{batch::kSnapshotFullJpg, batch::kSnapshotSmallJpg}));
  EXPECT_EQ(rig.settings.SnapOutPutDir(), fallback);
  ASSERT_EQ(rig.prompt.Shown().size(), 1u);
  EXPECT_EQ(rig.prompt.Shown()[0].text, "Cannot create output directory:" + impossible +
                                            ".It will create default directory " + fallback + "!");
  EXPECT_EQ(rig.prompt.Shown()[0].title, "Warning");
  EXPECT_EQ(rig.prompt.Shown()[0].icon, platform::TPromptIcon::Warning);
}
