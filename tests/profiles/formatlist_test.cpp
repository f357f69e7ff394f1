#include "profiles/formatlist.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/inifile.h"
#include "profiles/catalogue.h"
#include "tests/support/testdirs.h"

namespace {

using profiles::TFormatList;
using profiles::TItemInfo;
using profiles::TPressResult;

constexpr char kVcdPal[] = "VCD - PAL MPEG-1 Moive (*.mpg)";

class FormatListTest : public ::testing::Test {
 protected:
  void WriteSettings(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  int Header(const std::string& caption) const {
    const int index = list.IndexOf(caption);
    EXPECT_GE(index, 0) << caption;
    EXPECT_TRUE(index >= 0 && list.Items()[index].isGroup) << caption;
    return index;
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (const TItemInfo& line : list.Items()) captions.push_back(line.caption);
    return captions;
  }

  testsupport::TempDir dir;
  std::string path = dir.File("keltovideoconverter.ini");
  platform::TIniFile ini{path};
  TFormatList list{path};
};

TEST_F(FormatListTest, AnEmptySettingsFileGives28CollapsedHeaders) {
  WriteSettings("");
  list.Build();
  ASSERT_EQ(list.Count(), 28);
  for (int group = 0; group < 28; ++group) {
    const TItemInfo& line = list.Items()[group];
    EXPECT_TRUE(line.isGroup && !line.isProfile && line.collapsed) << group;
    EXPECT_EQ(line.code, group);
    EXPECT_EQ(line.caption, profiles::Group(group).header);
  }
  // The default "FormatName" is no caption of the catalogue.
  EXPECT_EQ(list.ItemIndex(), -1);
}

TEST_F(FormatListTest, ExpandingSonyPS3InsertsItsFourProfilesAndCollapsingRemovesExactlyThose) {
  list.Build();
  // Expand the groups on either side, so that a collapse taking too much or too little shows.
  list.Toggle(Header("Sony PSP"));
  list.Toggle(Header("Microsoft Zune"));
  const std::vector<TItemInfo> before = list.Items();

  const int ps3 = Header("Sony PS3");
  EXPECT_EQ(list.Press(ps3, 0).kind, TPressResult::Toggled);
  ASSERT_EQ(list.Count(), static_cast<int>(before.size()) + 4);
  EXPECT_FALSE(list.Items()[ps3].collapsed);
  const char* expected[] = {"PS3 MPEG-4 Video (480P) (*.mp4)",
                            "PS3 MPEG-4 Video (480P) Excellent (*.mp4)",
                            "PS3 MPEG-4 Video (720P) (*.mp4)", "PS3 MPEG-4 Video (1080P) (*.mp4)"};
  for (int item = 0; item < 4; ++item) {
    const TItemInfo& line = list.Items()[ps3 + 1 + item];
    EXPECT_TRUE(line.isProfile && !line.isGroup) << item;
    EXPECT_EQ(line.caption, expected[item]);
    EXPECT_EQ(line.code, 500 + item);
  }
  EXPECT_EQ(list.Items()[ps3 + 5].caption, "Microsoft Zune");

  EXPECT_EQ(list.Press(ps3, 19).kind, TPressResult::Toggled);
  EXPECT_EQ(list.Items(), before);
}

TEST_F(FormatListTest, APress20PixelsOrMoreIntoAHeaderDoesNothing) {
  list.Build();
  const int vcd = Header("VCD Video");
  for (int x : {20, 25, 300}) {
    EXPECT_EQ(list.Press(vcd, x).kind, TPressResult::None) << x;
    EXPECT_EQ(list.Count(), 28) << x;
    EXPECT_TRUE(list.Items()[vcd].collapsed) << x;
  }
  EXPECT_EQ(list.Press(-1, 0).kind, TPressResult::None);
  EXPECT_EQ(list.Press(28, 0).kind, TPressResult::None);
  EXPECT_FALSE(ini.ValueExists("settings", "FormatCode"));
  EXPECT_FALSE(ini.ValueExists("settings", "FormatName"));

  // A double click toggles a header wherever it lands, and does nothing on a profile line.
  EXPECT_EQ(list.DoubleClick(vcd).kind, TPressResult::Toggled);
  EXPECT_EQ(list.Count(), 30);
  EXPECT_EQ(list.DoubleClick(vcd + 1).kind, TPressResult::None);
  EXPECT_EQ(list.Count(), 30);
  EXPECT_EQ(list.DoubleClick(vcd).kind, TPressResult::Toggled);
  EXPECT_EQ(list.Count(), 28);
}

TEST_F(FormatListTest, PressingAProfileStoresItsCodeAndCaption) {
  WriteSettings("[Settings]\nformatcode=1\nformatname=iPod Video MPEG-4 (*.mp4)\n");
  list.Build();
  list.DoubleClick(Header("VCD Video"));
  const int line = list.IndexOf(kVcdPal);
  ASSERT_GE(line, 0);

  for (int x : {150, 3}) {  // anywhere on a profile line
    const TPressResult result = list.Press(line, x);
    EXPECT_EQ(result.kind, TPressResult::Selected);
    EXPECT_EQ(result.code, 2401);
    EXPECT_EQ(result.caption, kVcdPal);
    EXPECT_EQ(list.ItemIndex(), line);
  }
  EXPECT_EQ(ini.ReadInteger("settings", "FormatCode", 0), 2401);
  EXPECT_EQ(ini.ReadString("settings", "FormatName", ""), kVcdPal);
  EXPECT_EQ(list.Count(), 30) << "selecting changes no line";
}

TEST_F(FormatListTest, CollapsedStatesSurviveASaveAndRebuild) {
  WriteSettings("[LSTFORMAT]\n0=0\n");  // group keys read in any section case
  list.Build();
  EXPECT_FALSE(list.Items()[0].collapsed);
  list.Toggle(Header("Apple iPod"));
  list.Toggle(Header("Sony PS3"));
  list.Toggle(Header("VCD Video"));
  list.Toggle(Header("General Audio formates"));
  list.Toggle(Header("VCD Video"));
  ASSERT_TRUE(list.SaveCollapsed());

  EXPECT_EQ(ini.ReadString("lstformat", "0", ""), "1");
  EXPECT_EQ(ini.ReadString("lstformat", "5", ""), "0");
  EXPECT_EQ(ini.ReadString("lstformat", "24", ""), "1");
  EXPECT_EQ(ini.ReadString("lstformat", "27", ""), "0");
  EXPECT_EQ(ini.ReadSection("lstformat").size(), 28u);

  TFormatList rebuilt(path);
  rebuilt.Build();
  EXPECT_EQ(rebuilt.Items(), list.Items());
  EXPECT_EQ(rebuilt.Count(), 28 + 4 + 7);
}

TEST_F(FormatListTest, BuildSelectsTheStoredFormatNameOnly) {
  const struct {
    const char* stored;
    bool selected;
  } cases[] = {
      {"VCD - PAL MPEG-1 Moive (*.mpg)", true},
      {"\" VCD - PAL MPEG-1 Moive (*.mpg)\t\"", true},  // surrounding blanks are trimmed
      {"vcd - pal mpeg-1 moive (*.mpg)", false},
      {"VCD - PAL MPEG-1 Movie (*.mpg)", false},
      {"No such profile", false},
  };
  for (const auto& c : cases) {
    WriteSettings(std::string("[settings]\nFormatCode=2401\nFormatName=") + c.stored +
                  "\n[lstformat]\n24=0\n");
    list.Build();
    if (c.selected) {
      ASSERT_GE(list.ItemIndex(), 0) << c.stored;
      EXPECT_EQ(list.Items()[list.ItemIndex()].caption, kVcdPal);
    } else {
      EXPECT_EQ(list.ItemIndex(), -1) << c.stored;
    }
  }
  // A name that matches nothing leaves the stored code as it is.
  EXPECT_EQ(ini.ReadInteger("settings", "FormatCode", 0), 2401);
}

TEST_F(FormatListTest, TheSelectionStaysOnItsLineWhileGroupsAboveOpenAndClose) {
  WriteSettings(std::string("[settings]\nFormatName=") + kVcdPal + "\n[lstformat]\n24=0\n");
  list.Build();
  ASSERT_GE(list.ItemIndex(), 0);
  const auto selected = [&] {
    return list.ItemIndex() < 0 ? std::string() : list.Items()[list.ItemIndex()].caption;
  };

  list.Toggle(Header("Apple iPod"));  // above: 9 lines in
  EXPECT_EQ(selected(), kVcdPal);
  list.Toggle(Header("General Video formates"));  // below
  EXPECT_EQ(selected(), kVcdPal);
  list.Toggle(Header("Apple iPod"));  // above: 9 lines out
  EXPECT_EQ(selected(), kVcdPal);
  list.Toggle(Header("VCD Video"));  // its own group closes: nothing is selected
  EXPECT_EQ(list.ItemIndex(), -1);
}

TEST(FormatListHeight, BuildAndShowRules) {
  const struct {
    int lines, built, shown;
  } cases[] = {
      {0, 20, 20},     {1, 40, 40},      {18, 380, 380}, {19, 362, 400},
      {20, 362, 386},  {28, 362, 386},   {39, 362, 386},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(profiles::BuiltListHeight(c.lines), c.built) << c.lines;
    EXPECT_EQ(profiles::ShownListHeight(c.lines), c.shown) << c.lines;
  }
}

}  // namespace
