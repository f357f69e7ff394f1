#include "profiles/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "profiles/globalobject.h"
#include "tests/support/testdirs.h"

namespace {

using testsupport::ReadText;
using testsupport::WriteText;

using profiles::TSettings;

// One reading of the settings file, as text so that every key fits one table.
using Reader = std::function<std::string(const TSettings&)>;

Reader Int(int (TSettings::*get)() const) {
  return [get](const TSettings& s) { return std::to_string((s.*get)()); };
}
Reader Text(std::string (TSettings::*get)() const) {
  return [get](const TSettings& s) { return (s.*get)(); };
}

class SettingsTest : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::string path = dir.File("keltovideoconverter.ini");
  TSettings settings{path};
};

TEST_F(SettingsTest, EveryKeyHasItsDefaultOnAnEmptyFile) {
  WriteText(path, "");
  const std::string outputFolder = platform::DefaultOutputFolder();
  const struct {
    const char* name;
    Reader read;
    std::string expected;
  } cases[] = {
      {"OutPutDir", Text(&TSettings::OutPutDir), outputFolder},
      {"FormatCode", Int(&TSettings::FormatCode), "1"},
      {"FormatName in the profile box", Text(&TSettings::FormatName),
       "Apple iPod Video MPEG-4 Movie (*.mp4)"},
      {"FormatName remembered", Text(&TSettings::RememberedFormatName), "iPod Video MPEG-4"},
      {"volume", Int(&TSettings::Volume), "0"},
      {"mute", Int(&TSettings::Mute), "0"},
      {"skinIndex for the theme", Int(&TSettings::ThemeSkinIndex), "0"},
      {"skinIndex for the menu tick", Int(&TSettings::MenuSkinIndex), "1"},
      {"priority", Int(&TSettings::Priority), "1"},
      {"SnapOutPutDir", Text(&TSettings::SnapOutPutDir), outputFolder},
      {"snapFullSize", Int(&TSettings::SnapFullSize), "1"},
      {"snapSmallSize", Int(&TSettings::SnapSmallSize), "1"},
      {"snapBmp", Int(&TSettings::SnapBmp), "1"},
      {"snapJpg", Int(&TSettings::SnapJpg), "1"},
      {"jpgCmp", Int(&TSettings::JpgCmp), "30"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.read(settings), c.expected) << c.name;
  for (int group = 0; group < 28; ++group) EXPECT_TRUE(settings.GroupCollapsed(group)) << group;
  EXPECT_EQ(ReadText(path), "") << "reading must not write";
}

// Stored values, their range rules, and key and section names in any letter case.
TEST_F(SettingsTest, StoredValuesFollowTheRangeRulesAndIgnoreNameCase) {
  const struct {
    const char* file;
    Reader read;
    std::string expected;
  } cases[] = {
      {"[settings]\nvolume=200\n", Int(&TSettings::Volume), "64"},
      {"[settings]\nvolume=-1\n", Int(&TSettings::Volume), "64"},
      {"[settings]\nvolume=128\n", Int(&TSettings::Volume), "128"},
      {"[settings]\nvolume=loud\n", Int(&TSettings::Volume), "0"},
      {"[settings]\nskinIndex=9\n", Int(&TSettings::ThemeSkinIndex), "0"},
      {"[settings]\nskinIndex=9\n", Int(&TSettings::MenuSkinIndex), "0"},
      {"[settings]\nskinIndex=-1\n", Int(&TSettings::MenuSkinIndex), "0"},
      {"[settings]\nskinIndex=6\n", Int(&TSettings::ThemeSkinIndex), "6"},
      {"[settings]\nskinIndex=6\n", Int(&TSettings::MenuSkinIndex), "6"},
      {"[settings]\nskinIndex=0\n", Int(&TSettings::MenuSkinIndex), "0"},
      {"[settings]\nPriority=3\n", Int(&TSettings::Priority), "3"},
      {"[settings]\nPRIORITY=7\n", Int(&TSettings::Priority), "7"},
      {"[settings]\nsnapOutPutDir=/media/snaps\n", Text(&TSettings::SnapOutPutDir),
       "/media/snaps"},
      {"[Settings]\nformatcode=2401\n", Int(&TSettings::FormatCode), "2401"},
      {"[SETTINGS]\nFORMATNAME=HD Divx Video (*.avi)\n", Text(&TSettings::RememberedFormatName),
       "HD Divx Video (*.avi)"},
      {"[settings]\nSnapJPG=2\n", Int(&TSettings::SnapJpg), "2"},
      {"[settings]\nJpgCmp=85\n", Int(&TSettings::JpgCmp), "85"},
      {"[other]\njpgCmp=85\n", Int(&TSettings::JpgCmp), "30"},
  };
  for (const auto& c : cases) {
    WriteText(path, c.file);
    EXPECT_EQ(c.read(settings), c.expected) << c.file;
  }
}

// Every setter stores under its own key; a second object sees the value at once (nothing cached).
TEST_F(SettingsTest, WrittenValuesReadBackThroughAnotherObject) {
  ASSERT_TRUE(settings.SetOutPutDir("/data/out"));
  ASSERT_TRUE(settings.SetFormatCode(2101));
  ASSERT_TRUE(settings.SetFormatName("HD Divx Video (*.avi)"));
  ASSERT_TRUE(settings.SetVolume(100));
  ASSERT_TRUE(settings.SetMute(true));
  ASSERT_TRUE(settings.SetSkinIndex(4));
  ASSERT_TRUE(settings.SetPriority(3));
  ASSERT_TRUE(settings.SetSnapOutPutDir("/data/snaps"));
  ASSERT_TRUE(settings.SetSnapFullSize(false));
  ASSERT_TRUE(settings.SetSnapSmallSize(true));
  ASSERT_TRUE(settings.SetSnapBmp(false));
  ASSERT_TRUE(settings.SetSnapJpg(false));
  ASSERT_TRUE(settings.SetJpgCmp(75));

  const TSettings other(path);
  EXPECT_EQ(other.OutPutDir(), "/data/out");
  EXPECT_EQ(other.FormatCode(), 2101);
  EXPECT_EQ(other.FormatName(), "HD Divx Video (*.avi)");
  EXPECT_EQ(other.RememberedFormatName(), "HD Divx Video (*.avi)");
  EXPECT_EQ(other.Volume(), 100);
  EXPECT_EQ(other.Mute(), 1);
  EXPECT_EQ(other.ThemeSkinIndex(), 4);
  EXPECT_EQ(other.MenuSkinIndex(), 4);
  EXPECT_EQ(other.Priority(), 3);
  EXPECT_EQ(other.SnapOutPutDir(), "/data/snaps");
  EXPECT_EQ(other.SnapFullSize(), 0);
  EXPECT_EQ(other.SnapSmallSize(), 1);
  EXPECT_EQ(other.SnapBmp(), 0);
  EXPECT_EQ(other.SnapJpg(), 0);
  EXPECT_EQ(other.JpgCmp(), 75);
}

// A key already stored in another letter case is rewritten in place, never added a second time.
TEST_F(SettingsTest, WritingAKeyStoredInAnotherCaseReplacesItsLine) {
  WriteText(path, "[Settings]\nPriority=3\nsnapOutPutDir=/old\nVolume=5\n");
  ASSERT_TRUE(settings.SetPriority(0));
  ASSERT_TRUE(settings.SetSnapOutPutDir("/new"));
  ASSERT_TRUE(settings.SetVolume(128));
  EXPECT_EQ(ReadText(path), "[Settings]\nPriority=0\nsnapOutPutDir=/new\nVolume=128\n");
}

TEST_F(SettingsTest, ProfileValuesLiveInTheFormatInfoSectionOfTheirCode) {
  ASSERT_TRUE(settings.SetProfileString(2401, "paraZoom", "pan"));
  ASSERT_TRUE(settings.SetProfileInteger(2401, "iVideoSize", 3));
  EXPECT_EQ(ReadText(path), "[formatInfo2401]\nparaZoom=pan\niVideoSize=3\n");
  EXPECT_EQ(settings.ProfileString(2401, "parazoom", "lbox"), "pan");
  EXPECT_EQ(settings.ProfileString(2400, "paraZoom", "lbox"), "lbox");
  EXPECT_EQ(settings.ProfileInteger(2401, "IVIDEOSIZE", 0), 3);
  EXPECT_EQ(profiles::FormatInfoSection(1), "formatInfo1");
}

TEST(SettingsPaths, TheFirstFolderHoldingTheFileWins) {
  testsupport::TempDir a, b, c;
  const auto place = [](const testsupport::TempDir& folder) {
    WriteText(folder.File("keltovideoformat.ini"), "[formatInfo1]\nFormat=ipod\n");
  };
  const std::vector<std::string> folders = {a.Path(), b.Path(), c.Path()};

  EXPECT_EQ(profiles::FindFormatFile(folders), a.File("keltovideoformat.ini"))
      << "none holds it: the executable's folder";
  place(c);
  EXPECT_EQ(profiles::FindFormatFile(folders), c.File("keltovideoformat.ini"));
  place(b);
  EXPECT_EQ(profiles::FindFormatFile(folders), b.File("keltovideoformat.ini"));
  place(a);
  EXPECT_EQ(profiles::FindFormatFile(folders), a.File("keltovideoformat.ini"));

  std::filesystem::remove(b.File("keltovideoformat.ini"));
  std::filesystem::create_directory(b.File("keltovideoformat.ini"));
  std::filesystem::remove(a.File("keltovideoformat.ini"));
  EXPECT_EQ(profiles::FindFormatFile(folders), c.File("keltovideoformat.ini"))
      << "a folder of that name is no format file";
}

// ---------------------------------------------------------------------------------------------
// The global object

TEST(GlobalObject, VersionTextWritesMinorThirdAndFourthWithoutSeparators) {
  const struct {
    const char* version;
    const char* text;
  } cases[] = {
      {"3.3.0.0", " 3.300 "},
      {"1.7.0.0", " 1.700 "},
      {"10.2.11.3", " 10.2113 "},
      {"0.1.0", " 0.100 "},  // a three-number project version: the fourth number is 0
      {"2", " 2.000 "},
      {"", " 0.000 "},
  };
  for (const auto& c : cases)
    EXPECT_EQ(profiles::VersionTextOf(profiles::ParseVersion(c.version)), c.text) << c.version;

  const std::string running = profiles::GetVersionText();
  ASSERT_GE(running.size(), 7u);
  EXPECT_EQ(running.front(), ' ');
  EXPECT_EQ(running.back(), ' ');
}

TEST(GlobalObject, SettersIgnoreEmptyValuesAndPathsOfThreeCharactersOrLess) {
  profiles::TGlobalObject global;
  global.SetProductTitle("Kelto Video Converter");
  global.SetProductTitle("");
  EXPECT_EQ(global.ProductTitle(), "Kelto Video Converter");
  global.SetVersionText(" 3.300 ");
  global.SetVersionText("");
  EXPECT_EQ(global.VersionText(), " 3.300 ");
  global.SetHelpPage("h");
  global.SetHelpPage("");
  global.SetWebPage("w");
  global.SetWebPage("");
  global.SetDownloadUrl("d");
  global.SetDownloadUrl("");
  EXPECT_EQ(global.HelpPage(), "h");
  EXPECT_EQ(global.WebPage(), "w");
  EXPECT_EQ(global.DownloadUrl(), "d");

  global.SetSettingsFile("/a/s.ini");
  global.SetFormatFile("/a/f.ini");
  for (const char* tooShort : {"", "/", "a/b", "é/é"}) {
    global.SetSettingsFile(tooShort);
    global.SetFormatFile(tooShort);
  }
  EXPECT_EQ(global.SettingsFile(), "/a/s.ini");
  EXPECT_EQ(global.FormatFile(), "/a/f.ini");
  global.SetSettingsFile("/a/b");
  global.SetFormatFile("/a/c");
  EXPECT_EQ(global.SettingsFile(), "/a/b");
  EXPECT_EQ(global.FormatFile(), "/a/c");
}

TEST(GlobalObject, FillGivesTheProgramsValues) {
  profiles::TGlobalObject global;
  global.Fill();
  EXPECT_EQ(global.ProductTitle(), "Kelto Video Converter");
  EXPECT_EQ(global.VersionText(), " ver 1.70 ");
  EXPECT_EQ(global.SettingsFile(), profiles::SettingsFilePath());
  EXPECT_EQ(global.FormatFile(), profiles::FormatFilePath());
  for (const std::string& address : {global.HelpPage(), global.WebPage(), global.DownloadUrl()})
    EXPECT_EQ(address.rfind(profiles::kWebSite, 0), 0u) << address;
}

TEST(GlobalObject, RightStrKeepsTheLastCharacters) {
  const struct {
    const char* text;
    size_t n;
    const char* expected;
  } cases[] = {
      {"keltovideoconverter.ini", 3, "ini"},
      {"ab", 5, "ab"},
      {"ab", 2, "ab"},
      {"abc", 0, ""},
      {"", 2, ""},
      {"Vidéo", 3, "déo"},  // a two-byte character counts once and is never cut
      {"Vidéo", 2, "éo"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(profiles::RightStr(c.text, c.n), c.expected) << c.text << " " << c.n;
}

}  // namespace
