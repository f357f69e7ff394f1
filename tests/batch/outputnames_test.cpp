// Output names, the progress window's shortened file name and the rule that decides whether a
// row needs the per-frame hook.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "batch/batchcontroller.h"
#include "batch/filesrecord.h"
#include "batch/outputnames.h"
#include "platform/prompt.h"
#include "profiles/settings.h"
#include "tests/support/testdirs.h"

namespace {

namespace fs = std::filesystem;

struct TNameCase {
  const char* name;
  const char* source;
  std::vector<std::string> existing;  // files already in the output folder
  std::set<std::string> taken;        // names given to earlier rows (relative to the folder)
  bool danglingLink = false;          // "clip_(new).mp4" is a link to nothing
  const char* expected;
};

TEST(OutputNames, FirstFreeNameInTheOutputFolder) {
  // A source name as long as a name may be: its output names are cut so that they, and their
  // part files, fit the 255 bytes a name may have, each keeping its whole suffix.
  const std::string longStem(251, 'a');
  const std::string longSource = "/in/" + longStem + ".avi";
  const std::string longFirst = longStem.substr(0, 240) + "_(new).mp4";
  const std::string longSecond = longStem.substr(0, 238) + "_(new_1).mp4";
  const TNameCase cases[] = {
      {"empty folder", "/in/clip.avi", {}, {}, false, "clip_(new).mp4"},
      {"two earlier outputs exist", "/clips/clip.avi", {"clip_(new).mp4", "clip_(new_1).mp4"}, {},
       false, "clip_(new_2).mp4"},
      {"a gap is filled", "/in/clip.avi", {"clip_(new).mp4", "clip_(new_2).mp4"}, {}, false,
       "clip_(new_1).mp4"},
      {"an earlier row of the batch took the name", "/other/clip.mkv", {"clip_(new_1).mp4"},
       {"clip_(new).mp4"}, false, "clip_(new_2).mp4"},
      {"a link to nothing is not overwritten", "/in/clip.avi", {}, {}, true, "clip_(new_1).mp4"},
      {"only the last extension is replaced", "/in/clip.part.avi", {}, {}, false,
       "clip.part_(new).mp4"},
      {"a name without extension", "/in/clip", {"clip_(new).mp4"}, {}, false, "clip_(new_1).mp4"},
      {"a long name is cut to fit", longSource.c_str(), {}, {}, false, longFirst.c_str()},
      {"a long name's next number is cut further", longSource.c_str(), {longFirst}, {}, false,
       longSecond.c_str()},
      {"a part file left by an unfinished conversion takes its name", "/in/clip.avi",
       {"clip_(new).mp4.part"}, {}, false, "clip_(new_1).mp4"},
  };
  for (const TNameCase& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempDir dir;
    const std::string out = dir.File("out");
    fs::create_directories(out);
    for (const std::string& name : c.existing) testsupport::WriteText(out + "/" + name, "x");
    if (c.danglingLink) fs::create_symlink(dir.File("nowhere"), out + "/clip_(new).mp4");
    std::set<std::string> takenPaths;  // the set views them
    for (const std::string& name : c.taken) takenPaths.insert(out + "/" + name);
    const batch::TTakenNames taken(takenPaths.begin(), takenPaths.end());
    const std::string settings = dir.File(profiles::kSettingsFileName);
    // The stored folder may end with a separator.
    profiles::TSettings(settings).SetOutPutDir(out + "/");

    platform::TScriptedPrompt prompt;
    platform::TPromptScope scope(prompt);
    EXPECT_EQ(batch::MakeOutputFileName(settings, c.source, ".mp4", taken),
              out + "/" + c.expected);
    EXPECT_TRUE(prompt.Texts().empty());
  }
}

TEST(OutputNames, MissingFolderIsCreatedAndAnImpossibleOneFallsBackToTheDefault) {
  testsupport::TempDir dir;
  const std::string settings = dir.File(profiles::kSettingsFileName);
  platform::TScriptedPrompt prompt;
  platform::TPromptScope scope(prompt);

  const std::string nested = dir.File("a/b/c");
  profiles::TSettings(settings).SetOutPutDir(nested);
  EXPECT_EQ(batch::MakeOutputFileName(settings, "/in/x.avi", ".avi"), nested + "/x_(new).avi");
  EXPECT_TRUE(fs::is_directory(nested));
  EXPECT_TRUE(prompt.Texts().empty());

  // A folder below a plain file can never be made; the default folder in the home folder is
  // used and stored instead.
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  setenv("HOME", dir.Path().c_str(), 1);
  testsupport::WriteText(dir.File("file"), "x");
  const std::string impossible = dir.File("file/sub");
  profiles::TSettings(settings).SetOutPutDir(impossible);
  const std::string name = batch::MakeOutputFileName(settings, "/in/x.avi", ".avi");
  setenv("HOME", savedHome.c_str(), 1);

  const std::string fallback = dir.File("videoconverter");
  EXPECT_EQ(name, fallback + "/x_(new).avi");
  EXPECT_TRUE(fs::is_directory(fallback));
  EXPECT_EQ(profiles::TSettings(settings).OutPutDir(), fallback);
  ASSERT_EQ(prompt.Shown().size(), 1u);
  EXPECT_EQ(prompt.Shown()[0].text, "Cannot create output directory:" + impossible +
                                        ".It will create default directory " + fallback + "!");
  EXPECT_EQ(prompt.Shown()[0].title, "Warning");
}

TEST(OutputNames, ClaimsAndCommitsNeverTakeAFileThatIsThere) {
  testsupport::TempDir dir;
  const std::string out = dir.File("out");
  const std::string settings = dir.File(profiles::kSettingsFileName);
  profiles::TSettings(settings).SetOutPutDir(out);
  platform::TScriptedPrompt prompt;
  platform::TPromptScope scope(prompt);

  // A claim is the empty part file; the next claim of the same source takes the next number.
  const std::string first = batch::ClaimOutputFileName(settings, "/in/clip.avi", ".mp4");
  EXPECT_EQ(first, out + "/clip_(new).mp4");
  EXPECT_TRUE(fs::is_regular_file(first + ".part"));
  EXPECT_EQ(fs::file_size(first + ".part"), 0u);
  EXPECT_FALSE(fs::exists(first));
  const std::string second = batch::ClaimOutputFileName(settings, "/in/clip.avi", ".mp4");
  EXPECT_EQ(second, out + "/clip_(new_1).mp4");

  // Committing moves the part file to its name...
  testsupport::WriteText(first + ".part", "first");
  EXPECT_EQ(batch::CommitOutputFile(first, "/in/clip.avi", ".mp4"), first);
  EXPECT_EQ(testsupport::ReadText(first), "first");
  EXPECT_FALSE(fs::exists(first + ".part"));
  // ... and never over a file that appeared meanwhile: the output takes the next free name,
  // passing over names that exist or are claimed.
  testsupport::WriteText(second + ".part", "second");
  testsupport::WriteText(second, "somebody else's");
  testsupport::WriteText(out + "/clip_(new_2).mp4.part", "");
  EXPECT_EQ(batch::CommitOutputFile(second, "/in/clip.avi", ".mp4"), out + "/clip_(new_3).mp4");
  EXPECT_EQ(testsupport::ReadText(second), "somebody else's");
  EXPECT_EQ(testsupport::ReadText(out + "/clip_(new_3).mp4"), "second");

  // A claim that cannot be made says where and why.
  profiles::TSettings(settings).SetOutPutDir("/proc/self");
  EXPECT_THROW(batch::ClaimOutputFileName(settings, "/in/clip.avi", ".mp4"), std::runtime_error);
}

TEST(ProgressFileText, LongPathsKeepTheirFirst44CharactersAndExtension) {
  const std::string fifty = "/v/" + std::string(43, 'a') + ".mp4";  // 50 characters
  EXPECT_EQ(batch::ProgressFileText(fifty), fifty);
  const std::string sixty = "/v/" + std::string(53, 'b') + ".mp4";
  ASSERT_EQ(sixty.size(), 60u);
  EXPECT_EQ(batch::ProgressFileText(sixty), sixty.substr(0, 44) + "...mp4");
  // Characters, not bytes: 60 Cyrillic letters are cut after the 44th letter.
  std::string cyrillic;
  for (int i = 0; i < 56; ++i) cyrillic += "ж";
  cyrillic = "/" + cyrillic + ".avi";  // 61 characters, 117 bytes
  std::string first44 = "/";
  for (int i = 0; i < 43; ++i) first44 += "ж";
  EXPECT_EQ(batch::ProgressFileText(cyrillic), first44 + "...avi");
}

TEST(HasEffects, OnlyChangedValuesOrAWatermarkAskForTheHook) {
  struct TCase {
    const char* name;
    void (*edit)(batch::TlvFilesRecord&);
    bool hook;
  };
  const TCase cases[] = {
      {"new row", [](batch::TlvFilesRecord&) {}, false},
      {"neutral values set explicitly",
       [](batch::TlvFilesRecord& r) {
         r.Brightness = 255;
         r.Contrast = 0;
         r.Saturation = 255;
         r.Exposure = 0;
         r.ImageAlpha = 10;  // the image's weight alone is no watermark
       },
       false},
      {"brightness", [](batch::TlvFilesRecord& r) { r.Brightness = 256; }, true},
      {"contrast", [](batch::TlvFilesRecord& r) { r.Contrast = -1; }, true},
      {"saturation", [](batch::TlvFilesRecord& r) { r.Saturation = 0; }, true},
      {"exposure", [](batch::TlvFilesRecord& r) { r.Exposure = 20; }, true},
      {"text", [](batch::TlvFilesRecord& r) { r.MarkText = "x"; }, true},
      {"image", [](batch::TlvFilesRecord& r) { r.MarkImageFile = "/m.bmp"; }, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    batch::TlvFilesRecord record;
    c.edit(record);
    EXPECT_EQ(batch::HasEffects(record), c.hook);
  }
}

}  // namespace
