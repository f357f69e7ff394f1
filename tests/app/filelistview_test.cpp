// The file list on screen over the real list and engine: adding through the open dialog, from
// folders and by drops; removing and clearing with the selection kept in step; the check box, the
// check commands and both menus; the drawn rows under two themes; the popup on a right press and
// the preview request on a double click.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>

#include "app/filelistview.h"
#include "app/skins.h"
#include "engine/zuzezaviv.h"
#include "profiles/settings.h"
#include "tests/app/apptesting.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Fixture;

// A fresh settings folder with its output folder, the real engine and list, and the view shown.
struct TRig {
  struct TApp {
    TApp() { apptest::App(); }
  } app;
  apptest::TSettingsFolder settings;
  apptest::TScriptScope script;
  engine::TZUzezaVIV engine;
  batch::TFileList list{engine, settings.settingsFile, settings.formatFile};
  app::TFileListView view{list};

  TRig() {
    profiles::TSettings(settings.settingsFile).SetOutPutDir(settings.dir.File("out"));
    view.resize(640, 240);
    view.show();
  }
  // Adds the files through the open dialog.
  int Add(const std::vector<std::string>& paths) {
    const int before = list.RowCount();
    script.chooser.answers.push_back(paths);
    view.AddWithDialog();
    return list.RowCount() - before;
  }
  // The viewport point in the middle of a row's cell.
  QPoint Cell(int row, int column) const {
    return view.visualRect(view.model()->index(row, column)).center();
  }
  QPoint CheckBox(int row) const {
    const QRect r = view.visualRect(view.model()->index(row, 0));
    return {r.left() + 8, r.center().y()};
  }
  void Click(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(view.viewport(), button, {}, at);
  }
  std::vector<bool> Checks() const {
    std::vector<bool> checks;
    for (int i = 0; i < list.RowCount(); ++i) checks.push_back(list.Row(i).Checked);
    return checks;
  }
  int ViewSelection() const {
    const QModelIndexList rows = view.selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
  }
};

QAction* Entry(QMenu* menu, const QString& text) {
  for (QAction* action : menu->actions())
    if (action->text() == text) return action;
  ADD_FAILURE() << "no menu entry " << text.toStdString();
  static QAction none;
  return &none;
}

// The entries' enabled states as the menu shows them when it opens.
std::map<QString, bool> EnabledWhenShown(QMenu* menu) {
  menu->popup(QPoint(0, 0));
  std::map<QString, bool> enabled;
  for (QAction* action : menu->actions())
    if (!action->isSeparator()) enabled[action->text()] = action->isEnabled();
  menu->close();
  return enabled;
}

TEST(FileListView, AddingThroughTheOpenDialogProbesEachFileOnceAndSkipsFolders) {
  TRig rig;
  QSignalSpy counts(&rig.view, &app::TFileListView::CountChanged);
  const std::string video = Fixture("av.mp4"), audio = Fixture("audio.mp3");

  EXPECT_EQ(rig.Add({video, testsupport::FixtureDir(), audio}), 2);
  EXPECT_EQ(rig.Add({video}), 0);  // already listed
  EXPECT_EQ(rig.Add({}), 0);       // cancelled
  ASSERT_EQ(rig.list.RowCount(), 2);
  ASSERT_EQ(rig.view.model()->rowCount(), 2);
  ASSERT_EQ(counts.count(), 1);
  EXPECT_EQ(counts.at(0).at(0).toInt(), 2);

  // The view shows the list's texts; a new row's trimmed length is its length.
  const char* destinations[] = {"av_(new).mp4", "audio_(new).mp4"};
  const std::string sources[] = {video, audio};
  for (int row = 0; row < 2; ++row) {
    const auto text = [&](int column) {
      return rig.view.model()->index(row, column).data().toString().toStdString();
    };
    EXPECT_EQ(text(0), sources[row]);
    EXPECT_EQ(text(1), "2");
    EXPECT_EQ(text(2), text(1));
    EXPECT_EQ(text(3), destinations[row]);
    EXPECT_EQ(text(4), "");
    EXPECT_TRUE(rig.list.Row(row).Checked);
  }
  EXPECT_EQ(rig.list.Selected(), -1);
  EXPECT_EQ(rig.ViewSelection(), -1);

  // Every call offered the same filter list.
  ASSERT_EQ(rig.script.chooser.filters.size(), 3u);
  for (const QString& filter : rig.script.chooser.filters) EXPECT_EQ(filter, app::AddDialogFilter());
  // The columns carry their captions and widths.
  const char* captions[] = {"Source", "Length", "Trimmed Length", "Destination File", "Progress"};
  const int widths[] = {140, 65, 90, 120, 60};
  for (int c = 0; c < 5; ++c) {
    EXPECT_EQ(rig.view.model()->headerData(c, Qt::Horizontal).toString(), captions[c]);
    EXPECT_EQ(rig.view.columnWidth(c), widths[c]);
  }
}

TEST(FileListView, TheOpenDialogShowsEveryNameInOrderAndMatchesEitherLetterCase) {
  apptest::App();
  const QStringList names = {
      "All Supported Video Formats", "All Supported Audio Formats", "AVI files (*.avi)",
      "MPEG4 files (*.mp4)", "MPEG files (*.mpg,*.mpeg)", "3GP files (*.3gp,*.3g2)",
      "Itunes Video files (*.m4v)", "Windows Media files (*.wmv,*.asf)",
      "Real Media files (*.rm,*.rmvb)", "Video CD files (*.dat)", "Quick Time files (*.mov)",
      "Flash Video files (*.flv)", "Matroska Video files (*.mkv)",
      "MJPEG Video files (*.mjpg,*.mjpeg)", "Animated GIF files (*.gif)",
      "H.264/MPEG4 AVC Video files (*.mts,*.m2ts)", "DVD video object files (*.vob)",
      "MPEG-1 Video files (*.mpv)", "Video Transport Stream files (*.ts)", "TP Video files (*.tp)",
      "Maceomeida Flash files (*.swf)", "MP3 Audio files (*.mp3)",
      "Advanced Audio Coding files (*.aac)", "Monkey's Audio files (*.ape)",
      "Ogg Vorbis Audio files (*.ogg)", "Windows Media Audio files (*.wma)",
      "MusePack Audio files (*.mpc)", "MPEG Audio files (*.mpa)", "MPEG-4 Audio files (*.m4a)",
      "Matroska Audio files (*.mka)", "DTS Audio files (*.dts)", "Audio Codec 3 files (*.ac3)",
      "Speex Audio files (*.spx)", "Real Audio files (*.ra,*.ram)",
      "MPEG Layer II Compressed Audio files (*.mp2)", "All files (*.*)"};

  testsupport::TempDir dir;
  for (const char* name : {"CLIP.AVI", "clip.avi", "Clip.Mpeg", "clip.mpg", "clip.mp4", "song.MP3",
                           "notes.txt", "README"})
    testsupport::WriteText(dir.File(name), "x");

  // The dialog the program opens, in its widget form so that its parts can be read.
  QFileDialog dialog(nullptr, "Open", QString::fromStdString(dir.Path()), app::AddDialogFilter());
  dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
  ASSERT_NE(types, nullptr);
  QStringList shown;
  for (int i = 0; i < types->count(); ++i) shown << types->itemText(i);
  EXPECT_EQ(shown, names);

  auto* files = dialog.findChild<QFileSystemModel*>();
  ASSERT_NE(files, nullptr);
  using Names = std::set<std::string>;
  // The files the dialog lists under one filter; the model filters after a moment.
  const auto listed = [&](int filter, const Names& expected) {
    dialog.selectNameFilter(dialog.nameFilters().at(filter));
    const QModelIndex root = files->index(QString::fromStdString(dir.Path()));
    Names seen;
    apptest::WaitFor(
        [&] {
          seen.clear();
          for (int i = 0; i < files->rowCount(root); ++i)
            seen.insert(files->index(i, 0, root).data().toString().toStdString());
          return seen == expected;
        },
        std::chrono::seconds(3));
    return seen;
  };
  const Names all = {"CLIP.AVI", "clip.avi", "Clip.Mpeg", "clip.mpg", "clip.mp4",
                     "song.MP3", "notes.txt", "README"};
  const std::pair<int, Names> cases[] = {
      {2, {"CLIP.AVI", "clip.avi"}},
      {4, {"Clip.Mpeg", "clip.mpg"}},
      {0, {"CLIP.AVI", "clip.avi", "Clip.Mpeg", "clip.mpg", "clip.mp4"}},
      {1, {"song.MP3"}},
      {static_cast<int>(names.size()) - 1, all},  // also files without an extension
  };
  for (const auto& [filter, expected] : cases)
    EXPECT_EQ(listed(filter, expected), expected) << names[filter].toStdString();

  EXPECT_TRUE(app::IsMediaFileName("/a/CLIP.AVI"));
  EXPECT_TRUE(app::IsMediaFileName("/a/b.m2ts"));
  EXPECT_FALSE(app::IsMediaFileName("/a/notes.txt"));
  EXPECT_FALSE(app::IsMediaFileName("/a/README"));
}

TEST(FileListView, DroppingAFolderAddsTheMediaFilesInsideInNameOrder) {
  TRig rig;
  const fs::path folder = rig.settings.dir.File("drop");
  fs::create_directories(folder / "inner");
  fs::copy_file(Fixture("av.mp4"), folder / "b clip.mp4");
  fs::copy_file(Fixture("audio.mp3"), folder / "A song.MP3");
  fs::copy_file(Fixture("tone.wav"), folder / "c tone.wav");
  fs::copy_file(Fixture("av.mp4"), folder / "inner" / "deeper.mp4");  // not directly inside
  testsupport::WriteText((folder / "notes.txt").string(), "not a clip");

  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder.string())),
                QUrl::fromLocalFile(QString::fromStdString(Fixture("multi.mkv")))});
  QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(rig.view.viewport(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(rig.view.viewport(), &drop);
  EXPECT_TRUE(drop.isAccepted());
  ASSERT_TRUE(apptest::WaitFor([&] { return rig.list.RowCount() == 4; }));

  const std::string expected[] = {(folder / "A song.MP3").string(), (folder / "b clip.mp4").string(),
                                  (folder / "c tone.wav").string(), Fixture("multi.mkv")};
  for (int row = 0; row < 4; ++row) EXPECT_EQ(rig.list.Row(row).Caption(), expected[row]) << row;
  EXPECT_EQ(rig.view.model()->rowCount(), 4);

  // Text without files is refused.
  QMimeData text;
  text.setText("hello");
  QDragEnterEvent refused(QPoint(50, 50), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(rig.view.viewport(), &refused);
  EXPECT_FALSE(refused.isAccepted());
}

TEST(FileListView, RemovingSelectsTheRowThatTookItsPlaceAndClearingEmptiesTheList) {
  struct TCase {
    int removed;
    std::vector<std::string> left;  // fixture names
    int selected;
  };
  const TCase cases[] = {{2, {"av.mp4", "audio.mp3"}, 1},
                         {0, {"audio.mp3", "tone.wav"}, 0},
                         {1, {"av.mp4", "tone.wav"}, 1}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.removed);
    TRig rig;
    ASSERT_EQ(rig.Add({Fixture("av.mp4"), Fixture("audio.mp3"), Fixture("tone.wav")}), 3);
    QSignalSpy counts(&rig.view, &app::TFileListView::CountChanged);
    rig.Click(rig.Cell(c.removed, 2));
    ASSERT_EQ(rig.list.Selected(), c.removed);
    Entry(rig.view.PopupMenu(), "Remove")->trigger();
    ASSERT_EQ(rig.list.RowCount(), 2);
    EXPECT_EQ(rig.view.model()->rowCount(), 2);
    for (int row = 0; row < 2; ++row) EXPECT_EQ(rig.list.Row(row).Caption(), Fixture(c.left[row]));
    EXPECT_EQ(rig.list.Selected(), c.selected);
    EXPECT_EQ(rig.ViewSelection(), c.selected);
    EXPECT_EQ(rig.view.currentIndex().row(), c.selected);
    ASSERT_EQ(counts.count(), 1);
    EXPECT_EQ(counts.at(0).at(0).toInt(), 2);

    Entry(rig.view.PopupMenu(), "Clear")->trigger();
    EXPECT_EQ(rig.list.RowCount(), 0);
    EXPECT_EQ(rig.view.model()->rowCount(), 0);
    EXPECT_EQ(rig.ViewSelection(), -1);
    ASSERT_EQ(counts.count(), 2);
    EXPECT_EQ(counts.at(1).at(0).toInt(), 0);
  }
}

TEST(FileListView, TheCheckBoxAndTheCheckCommandsChangeOnlyTheirRows) {
  TRig rig;
  ASSERT_EQ(rig.Add({Fixture("av.mp4"), Fixture("audio.mp3"), Fixture("tone.wav")}), 3);
  rig.Click(rig.Cell(2, 1));
  ASSERT_EQ(rig.list.Selected(), 2);

  // A click in row 1's box toggles that row only and leaves the selection where it was.
  rig.Click(rig.CheckBox(1));
  EXPECT_EQ(rig.Checks(), (std::vector<bool>{true, false, true}));
  EXPECT_EQ(rig.list.Selected(), 2);
  EXPECT_EQ(rig.ViewSelection(), 2);

  QMenu edit;
  rig.view.FillEditMenu(&edit);
  Entry(&edit, "&Reverse Check")->trigger();
  EXPECT_EQ(rig.Checks(), (std::vector<bool>{false, true, false}));
  // Space toggles the selected row.
  QTest::keyClick(&rig.view, Qt::Key_Space);
  EXPECT_EQ(rig.Checks(), (std::vector<bool>{false, true, true}));

  struct TStep {
    const char* entry;
    std::vector<bool> after;
  };
  const TStep steps[] = {{"U&ncheck", {false, true, false}},
                         {"C&heck", {false, true, true}},
                         {"&Uncheck All", {false, false, false}},
                         {"&Check All", {true, true, true}}};
  for (const TStep& step : steps) {
    Entry(&edit, step.entry)->trigger();
    EXPECT_EQ(rig.Checks(), step.after) << step.entry;
  }
  // The view reports what the list holds.
  rig.Click(rig.CheckBox(0));
  EXPECT_EQ(rig.view.model()->index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_EQ(rig.view.model()->index(1, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
}

TEST(FileListView, MenusEnableTheirEntriesOnlyWithASelectedRowAndAddStaysEnabled) {
  TRig rig;
  QMenu edit;
  rig.view.FillEditMenu(&edit);
  QMenu* popup = rig.view.PopupMenu();
  const QStringList editEntries = {"&Crop", "&Trim", "&Video Effect && Water Mark", "&Check All",
                                   "&Uncheck All", "&Reverse Check", "C&heck", "U&ncheck"};
  const QStringList popupEntries = {"&Crop", "&Trim", "&Video Effect && Water Mark",
                                    "Video Infomation", "Remove", "Clear", "Start"};
  const auto expectMenus = [&](bool on) {
    const auto editShown = EnabledWhenShown(&edit);
    EXPECT_EQ(editShown.size(), 8u);
    for (const QString& entry : editEntries) EXPECT_EQ(editShown.at(entry), on) << entry.toStdString();
    const auto popupShown = EnabledWhenShown(popup);
    EXPECT_EQ(popupShown.size(), 8u);
    EXPECT_TRUE(popupShown.at("Add"));
    for (const QString& entry : popupEntries)
      EXPECT_EQ(popupShown.at(entry), on) << entry.toStdString();
  };
  {
    SCOPED_TRACE("empty list");
    expectMenus(false);
  }
  ASSERT_EQ(rig.Add({Fixture("av.mp4"), Fixture("audio.mp3")}), 2);
  {
    SCOPED_TRACE("rows, none selected");
    expectMenus(false);
  }
  // A right press on a row selects it and opens the popup at the pointer.
  const QPoint at = rig.Cell(1, 3);
  QTest::mousePress(rig.view.viewport(), Qt::RightButton, {}, at);
  EXPECT_EQ(rig.list.Selected(), 1);
  ASSERT_TRUE(popup->isVisible());
  EXPECT_EQ(popup->pos(), rig.view.viewport()->mapToGlobal(at));
  popup->close();
  QTest::mouseRelease(rig.view.viewport(), Qt::RightButton, {}, at);
  {
    SCOPED_TRACE("a selected row");
    expectMenus(true);
  }

  // The entries for the dialogs and the batch only ask for them.
  using Signal = void (app::TFileListView::*)();
  const std::pair<QString, Signal> requests[] = {
      {"&Crop", &app::TFileListView::CropRequested},
      {"&Trim", &app::TFileListView::TrimRequested},
      {"&Video Effect && Water Mark", &app::TFileListView::EffectsRequested},
      {"Video Infomation", &app::TFileListView::InformationRequested},
      {"Start", &app::TFileListView::StartRequested}};
  for (const auto& [entry, signal] : requests) {
    QSignalSpy spy(&rig.view, signal);
    Entry(popup, entry)->trigger();
    EXPECT_EQ(spy.count(), 1) << entry.toStdString();
    if (entry != "Video Infomation" && entry != "Start") {
      Entry(&edit, entry)->trigger();
      EXPECT_EQ(spy.count(), 2) << entry.toStdString();
    }
  }
  EXPECT_EQ(rig.list.RowCount(), 2);

  // "Add" opens the open dialog.
  rig.script.chooser.answers.push_back({Fixture("tone.wav")});
  Entry(popup, "Add")->trigger();
  EXPECT_EQ(rig.list.RowCount(), 3);
}

TEST(FileListView, RowsAreDrawnInTheThemesTintWithTheFocusedRowFilledAndFramed) {
  TRig rig;
  ASSERT_EQ(rig.Add({Fixture("av.mp4"), Fixture("audio.mp3"), Fixture("tone.wav")}), 3);
  rig.Click(rig.CheckBox(1));  // row 1 unchecked
  QWidget* viewport = rig.view.viewport();
  const auto rowRect = [&](int row) {
    return rig.view.visualRect(rig.view.model()->index(row, 0));
  };
  const QColor white(255, 255, 255), black(0, 0, 0);
  // x 450 lies in the empty "Progress" column.

  struct TTheme {
    int skin;
    QColor tint;
  };
  for (const TTheme& theme : {TTheme{0, QColor(226, 230, 246)}, TTheme{5, QColor(226, 247, 225)}}) {
    app::ApplySkin(theme.skin);
    const QImage image = viewport->grab().toImage();
    EXPECT_EQ(image.pixelColor(450, rowRect(0).center().y()), white) << theme.skin;
    EXPECT_EQ(image.pixelColor(450, rowRect(1).center().y()), theme.tint) << theme.skin;
    EXPECT_EQ(image.pixelColor(450, rowRect(2).center().y()), white) << theme.skin;
    // Past the last column the row goes on in its colour.
    EXPECT_EQ(image.pixelColor(viewport->width() - 3, rowRect(1).center().y()), theme.tint);
  }
  app::ApplySkin(0);

  // The check box's frame in every row, the tick in checked rows only.
  const QImage boxes = viewport->grab().toImage();
  for (int row = 0; row < 3; ++row) {
    SCOPED_TRACE(row);
    const QRect r = rowRect(row);
    const QPoint origin = r.topLeft();
    for (QPoint edge : {QPoint(2, r.height() / 2), QPoint(13, r.height() / 2), QPoint(8, 2),
                        QPoint(8, r.height() - 3)})
      EXPECT_EQ(boxes.pixelColor(origin + edge), black);
    const bool checked = row != 1;
    for (QPoint tick : {QPoint(4, 6), QPoint(6, 11), QPoint(11, 5)})
      EXPECT_EQ(boxes.pixelColor(origin + tick) == black, checked) << tick.x() << "," << tick.y();
    for (QPoint off : {QPoint(9, 11), QPoint(10, 10), QPoint(5, 5)})  // inside the box, off the tick
      EXPECT_NE(boxes.pixelColor(origin + off), black) << off.x() << "," << off.y();
  }

  // The selected row: filled inside its ends and framed, in the focused or the idle colours.
  rig.Click(rig.Cell(1, 2));
  rig.view.activateWindow();
  rig.view.setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&rig.view));
  ASSERT_TRUE(rig.view.hasFocus());
  struct TFocus {
    bool focused;
    QColor fill, frame;
  };
  for (const TFocus& f : {TFocus{true, QColor(185, 204, 236), QColor(122, 160, 218)},
                          TFocus{false, QColor(229, 236, 248), QColor(152, 181, 226)}}) {
    SCOPED_TRACE(f.focused);
    if (!f.focused) {
      rig.view.clearFocus();
      ASSERT_FALSE(rig.view.hasFocus());
    }
    const QImage image = viewport->grab().toImage();
    const QRect r = rowRect(1);
    const int right = viewport->width() - 1;
    EXPECT_EQ(image.pixelColor(450, r.center().y()), f.fill);
    EXPECT_EQ(image.pixelColor(450, r.top()), f.frame);
    EXPECT_EQ(image.pixelColor(450, r.bottom()), f.frame);
    EXPECT_EQ(image.pixelColor(1, r.center().y()), f.frame);
    EXPECT_EQ(image.pixelColor(right - 1, r.center().y()), f.frame);
    // One pixel at each end keeps the row's own colour.
    EXPECT_EQ(image.pixelColor(0, r.center().y()), QColor(226, 230, 246));
    EXPECT_EQ(image.pixelColor(right, r.center().y()), QColor(226, 230, 246));
    EXPECT_EQ(image.pixelColor(450, rowRect(0).center().y()), white);
  }
}

TEST(FileListView, ADoubleClickOnARowAsksForItsPreviewAndOnTheBoxTogglesTwice) {
  TRig rig;
  ASSERT_EQ(rig.Add({Fixture("av.mp4"), Fixture("audio.mp3")}), 2);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&rig.view));
  QSignalSpy previews(&rig.view, &app::TFileListView::PreviewRequested);
  QWindow* window = rig.view.window()->windowHandle();
  const auto inWindow = [&](QPoint viewportPoint) {
    return rig.view.viewport()->mapTo(rig.view.window(), viewportPoint);
  };

  // Through the window system, as a real double click arrives: press, release, press with the
  // double click, release.
  QTest::mouseDClick(window, Qt::LeftButton, {}, inWindow(rig.Cell(1, 3)));
  ASSERT_EQ(previews.count(), 1);
  EXPECT_EQ(previews.at(0).at(0).toInt(), 1);
  EXPECT_EQ(rig.list.Selected(), 1);

  QTest::mouseDClick(window, Qt::LeftButton, {}, inWindow(rig.CheckBox(0)));
  EXPECT_EQ(previews.count(), 1);
  EXPECT_EQ(rig.Checks(), (std::vector<bool>{true, true}));
  EXPECT_EQ(rig.list.Selected(), 1);
  // A single click on the box for comparison.
  QTest::mouseClick(window, Qt::LeftButton, {}, inWindow(rig.CheckBox(0)), 600);
  EXPECT_EQ(rig.Checks(), (std::vector<bool>{false, true}));
}

}  // namespace
