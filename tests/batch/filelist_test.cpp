// The file list: adding files through the engine's probe (with what is skipped), the new rows'
// columns and job records, removing with reselection, the check commands and the menus.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "batch/filelist.h"
#include "tests/batch/batchtesting.h"

namespace {

using batchtest::TBatchRig;

TEST(FileList, AddingProbesEachFileAndSkipsFoldersDuplicatesAndRefusedFiles) {
  batchtest::Para para = batchtest::DefaultPara();
  para["parazoom"] = "pan";
  TBatchRig rig(para);
  const std::string video = testsupport::Fixture("av.mp4");
  const std::string audio = testsupport::Fixture("audio.mp3");
  // The same name in another folder gets the next output name, as the batch would give it.
  const std::string sameName = rig.CopyFixture("av.mp4", "other/av.mp4");

  std::vector<batch::TSkippedFile> skipped;
  const int added = rig.list->AddFiles({video, testsupport::FixtureDir(), audio, video,
                                        testsupport::Fixture("notmedia.avi"),
                                        rig.dir.File("missing.mp4"), sameName},
                                       &skipped);
  EXPECT_EQ(added, 3);
  // Each path left out is named with its reason; the engine's reasons are its own messages.
  ASSERT_EQ(skipped.size(), 4u);
  EXPECT_EQ(skipped[0].Path, testsupport::FixtureDir());
  EXPECT_EQ(skipped[0].Reason, batch::kFolderReason);
  EXPECT_EQ(skipped[1].Path, video);
  EXPECT_EQ(skipped[1].Reason, batch::kListedReason);
  EXPECT_EQ(skipped[2].Path, testsupport::Fixture("notmedia.avi"));
  EXPECT_EQ(skipped[3].Path, rig.dir.File("missing.mp4"));
  EXPECT_NE(skipped[2].Reason, "");
  EXPECT_NE(skipped[3].Reason, skipped[2].Reason);
  ASSERT_EQ(rig.list->RowCount(), 3);
  EXPECT_EQ(rig.engine->TaskCount(), 0);
  EXPECT_EQ(rig.list->Selected(), -1);

  struct TExpected {
    std::string caption;
    int selIndex;
    const char* dest;
  };
  const TExpected expected[] = {
      {video, 0, "av_(new).mp4"}, {audio, 2, "audio_(new).mp4"}, {sameName, 6, "av_(new_1).mp4"}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(expected[i].caption);
    const batch::TFileRow& row = rig.list->Row(i);
    EXPECT_EQ(row.ColumnText(0), expected[i].caption);
    EXPECT_EQ(row.ColumnText(1), "2");
    EXPECT_EQ(row.ColumnText(2), "2");
    EXPECT_EQ(row.ColumnText(3), expected[i].dest);
    EXPECT_EQ(row.ColumnText(4), "");
    EXPECT_TRUE(row.Checked);
    const batch::TlvFilesRecord& r = *row.Record;
    EXPECT_EQ(r.SelIndex, expected[i].selIndex);
    EXPECT_EQ(r.SourceFile, expected[i].caption);
    EXPECT_EQ(r.DestFile, rig.outDir + "/" + expected[i].dest);
    EXPECT_EQ(r.DurationSec, 2);
    EXPECT_EQ(r.Zoom, "pan");
    EXPECT_EQ(r.TrimStart, 0);
    EXPECT_EQ(r.TrimDuration, 0);
    EXPECT_EQ(r.MarkFont.Name, "MS Sans Serif");
    EXPECT_EQ(r.ImageAlpha, 168);
    EXPECT_FALSE(batch::HasEffects(r));
  }
  // Nothing is written while adding.
  EXPECT_TRUE(rig.Outputs().empty());

  // A second add of a listed file adds nothing.
  EXPECT_EQ(rig.list->AddFiles({audio}), 0);
  EXPECT_EQ(rig.list->RowCount(), 3);
}

TEST(FileList, RemovingSelectsTheRowThatTookItsPlace) {
  TBatchRig rig;
  const std::vector<std::string> files = {testsupport::Fixture("av.mp4"),
                                          testsupport::Fixture("audio.mp3"),
                                          testsupport::Fixture("tone.wav")};
  ASSERT_EQ(rig.list->AddFiles(files), 3);

  EXPECT_FALSE(rig.list->RemoveSelected());  // nothing selected
  rig.list->Select(2);
  EXPECT_TRUE(rig.list->RemoveSelected());  // the last: the new last row
  EXPECT_EQ(rig.list->Selected(), 1);
  EXPECT_EQ(rig.list->Row(1).Caption(), files[1]);
  ASSERT_TRUE(rig.list->AddFiles({files[2]}) == 1);
  rig.list->Select(0);
  EXPECT_TRUE(rig.list->RemoveSelected());  // the first: the new first row
  EXPECT_EQ(rig.list->Selected(), 0);
  EXPECT_EQ(rig.list->Row(0).Caption(), files[1]);
  rig.list->Select(0);
  EXPECT_TRUE(rig.list->RemoveSelected());
  EXPECT_TRUE(rig.list->RemoveSelected());
  EXPECT_TRUE(rig.list->Empty());
  EXPECT_EQ(rig.list->Selected(), -1);
}

TEST(FileList, CheckCommandsAndMenuStates) {
  TBatchRig rig;
  ASSERT_EQ(rig.list->AddFiles({testsupport::Fixture("av.mp4"), testsupport::Fixture("audio.mp3"),
                                testsupport::Fixture("tone.wav")}),
            3);
  const auto checks = [&] {
    std::string text;
    for (int i = 0; i < rig.list->RowCount(); ++i) text += rig.list->Row(i).Checked ? 'x' : '-';
    return text;
  };
  // Nothing selected: only "Add" is enabled, and the commands on the selected row do nothing.
  const batch::TEditMenuState edit = batch::EditMenuState(*rig.list);
  EXPECT_FALSE(edit.Crop || edit.Trim || edit.Effects || edit.CheckAll || edit.UncheckAll ||
               edit.ReverseCheck || edit.Check || edit.Uncheck);
  batch::TPopupMenuState popup = batch::PopupMenuState(*rig.list);
  EXPECT_TRUE(popup.Add);
  EXPECT_FALSE(popup.Crop || popup.Trim || popup.Effects || popup.VideoInformation ||
               popup.Remove || popup.Clear || popup.Start);
  rig.list->UncheckSelected();
  EXPECT_EQ(checks(), "xxx");

  rig.list->Select(1);
  rig.list->UncheckSelected();
  EXPECT_EQ(checks(), "x-x");
  rig.list->ReverseCheck();
  EXPECT_EQ(checks(), "-x-");
  rig.list->CheckAll();
  EXPECT_EQ(checks(), "xxx");
  rig.list->UncheckAll();
  EXPECT_EQ(checks(), "---");
  rig.list->CheckSelected();
  EXPECT_EQ(checks(), "-x-");
  EXPECT_EQ(rig.list->CheckedCount(), 1);
  popup = batch::PopupMenuState(*rig.list);
  EXPECT_TRUE(popup.Add && popup.Crop && popup.Trim && popup.Effects && popup.VideoInformation &&
              popup.Remove && popup.Clear && popup.Start);
  EXPECT_TRUE(batch::EditMenuState(*rig.list).ReverseCheck);

  rig.list->Clear();
  EXPECT_TRUE(rig.list->Empty());
  EXPECT_FALSE(batch::PopupMenuState(*rig.list).Remove);
}

}  // namespace
