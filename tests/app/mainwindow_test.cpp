// The main window over the real engine and batch: the first show from the stored settings, the
// "&Skin" menu, the exit question, and Start with the progress window converting the list (and
// Cancel leaving a playable part of the file).
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <filesystem>
#include <memory>
#include <set>

#include "app/mainwindow.h"
#include "app/progresswindow.h"
#include "app/skins.h"
#include "profiles/globalobject.h"
#include "profiles/settings.h"
#include "tests/app/apptesting.h"
#include "tests/support/ffprobe.h"

namespace {

namespace fs = std::filesystem;

// Counts the times a widget is hidden.
class THideCounter : public QObject {
 public:
  int hides = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Hide) ++hides;
    return false;
  }
};

// A main window over a fresh settings folder (the project's format file), with the file and folder
// choosers and the message boxes scripted and the desktop recorded.
struct TMainRig {
  apptest::TSettingsFolder folder;
  apptest::TScriptScope script;
  apptest::TDesktopScope desktop;
  std::unique_ptr<app::TfrmMain> window;

  explicit TMainRig(const std::string& settingsText = "") {
    apptest::App();
    testsupport::WriteText(folder.settingsFile, settingsText);
    window = std::make_unique<app::TfrmMain>(folder.settingsFile, folder.formatFile);
  }
  ~TMainRig() {
    // Closing without the question: the tests that ask it answer it themselves.
    window.reset();
    app::ApplySkin(0);
  }
  profiles::TSettings Settings() const { return profiles::TSettings(folder.settingsFile); }
  // Opens the "&Skin" menu as the menu bar would and picks entry `index`.
  void PickSkin(int index) {
    emit window->SkinMenu()->aboutToShow();
    window->SkinMenu()->actions()[index]->trigger();
  }
  int TickedSkin() const {
    const QList<QAction*> entries = window->SkinMenu()->actions();
    for (int i = 0; i < entries.size(); ++i)
      if (entries[i]->isChecked()) return i;
    return -1;
  }
};

struct TFirstShowCase {
  const char* name;
  const char* settings;
  int volume;
  bool mute;
  int appliedSkin, tickedSkin;
};

}  // namespace

TEST(MainWindow, TheFirstShowFollowsTheStoredSettings) {
  const TFirstShowCase cases[] = {
      {"an empty settings file", "", 0, false, 0, 1},
      {"out-of-range volume and theme", "[settings]\nvolume=200\nmute=1\nskinIndex=9\n", 64, true,
       0, 0},
      {"a stored theme", "[settings]\nvolume=100\nmute=0\nskinIndex=3\n", 100, false, 3, 3},
  };
  for (const TFirstShowCase& c : cases) {
    SCOPED_TRACE(c.name);
    TMainRig rig(c.settings);
    rig.window->show();
    EXPECT_EQ(rig.window->size(), QSize(app::kMainWidth, app::kMainHeight));
    EXPECT_EQ(rig.window->windowTitle().toStdString(),
              std::string(profiles::kProductTitle) + profiles::GetVersionText());
    EXPECT_EQ(rig.window->VolumeBar()->value(), c.volume);
    EXPECT_EQ(rig.window->MuteBox()->isChecked(), c.mute);
    EXPECT_EQ(app::AppliedSkin(), c.appliedSkin);
    emit rig.window->SkinMenu()->aboutToShow();
    EXPECT_EQ(rig.TickedSkin(), c.tickedSkin);
    // With nothing in the list, only Add is on.
    EXPECT_TRUE(rig.window->AddButton()->isEnabled());
    EXPECT_FALSE(rig.window->StartButton()->isEnabled());
    EXPECT_FALSE(rig.window->RemoveButton()->isEnabled());
  }
}

TEST(MainWindow, ChoosingASkinRestylesTheWindowAndTheTickedOneChangesNothing) {
  TMainRig rig;
  rig.window->show();
  THideCounter counter;
  rig.window->installEventFilter(&counter);

  rig.PickSkin(4);
  EXPECT_EQ(app::AppliedSkin(), 4);
  EXPECT_EQ(rig.TickedSkin(), 4);
  EXPECT_EQ(rig.Settings().ThemeSkinIndex(), 4);
  EXPECT_EQ(counter.hides, 1);
  EXPECT_TRUE(rig.window->isVisible());

  rig.PickSkin(4);
  EXPECT_EQ(rig.TickedSkin(), 4);  // the click does not untick it
  EXPECT_EQ(counter.hides, 1);

  // With "skinIndex" unset the menu ticks Gray while Default is shown: picking Gray does nothing,
  // picking Default applies and stores it.
  TMainRig fresh;
  fresh.window->show();
  THideCounter freshCounter;
  fresh.window->installEventFilter(&freshCounter);
  fresh.PickSkin(1);
  EXPECT_EQ(app::AppliedSkin(), 0);
  EXPECT_EQ(freshCounter.hides, 0);
  EXPECT_EQ(fresh.Settings().MenuSkinIndex(), 1);  // still unset
  fresh.PickSkin(0);
  EXPECT_EQ(fresh.Settings().MenuSkinIndex(), 0);
}

TEST(MainWindow, ClosingAsksFirstAndStoresTheCataloguesGroups) {
  TMainRig rig;
  rig.window->show();
  rig.script.prompt.Answer(false);
  EXPECT_FALSE(rig.window->close());
  EXPECT_TRUE(rig.window->isVisible());
  rig.script.prompt.Answer(true);
  EXPECT_TRUE(rig.window->close());
  EXPECT_FALSE(rig.window->isVisible());
  const std::vector<platform::TScriptedPrompt::TShown> shown = rig.script.prompt.Shown();
  ASSERT_EQ(shown.size(), 2u);
  for (const auto& question : shown) {
    EXPECT_EQ(question.kind, "question");
    EXPECT_EQ(question.text, app::kExitQuestion);
    EXPECT_EQ(question.title, app::kExitTitle);
  }
  EXPECT_NE(testsupport::ReadText(rig.folder.settingsFile).find("[lstformat]"), std::string::npos);
}

namespace {

// What the progress window showed while it was open, sampled from the event loop.
struct TProgressSeen {
  std::set<std::string> files, progress;
  std::set<int> fileBar;
  bool modal = false, picture = false;
};

// Samples the progress window every few milliseconds while the batch runs.
class TProgressWatcher {
 public:
  explicit TProgressWatcher(app::TfrmProgress* window) : window_(window) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Sample(); });
    timer_.start(5);
  }
  TProgressSeen seen;

  // What the labels hold now (also once the window has closed: the last report of a short file
  // may come just before the batch's end closes it).
  void Record() {
    seen.files.insert(window_->findChild<QLabel*>("fileValue")->text().toStdString());
    seen.progress.insert(window_->findChild<QLabel*>("progressValue")->text().toStdString());
  }

 private:
  void Sample() {
    if (!window_->isVisible()) return;
    seen.modal = seen.modal || window_->isModal();
    Record();
    seen.fileBar.insert(window_->findChild<QProgressBar*>("fileBar")->value());
    seen.picture = seen.picture || !window_->PictureRect().isNull();
  }
  app::TfrmProgress* window_;
  QTimer timer_;
};

}  // namespace

TEST(MainWindow, StartConvertsBothFilesWhileTheProgressWindowShowsThem) {
  // First use: nothing set up, the default profile, an output folder chosen with "Brows".
  TMainRig rig;
  const std::string first = testsupport::Fixture("av.mp4");
  const std::string second = rig.folder.dir.File("second clip.mp4");
  fs::copy_file(first, second);
  const std::string outDir = rig.folder.dir.File("out");
  fs::create_directory(outDir);
  rig.script.chooser.answers.push_back({first, second});
  rig.script.chooser.folders.push_back(outDir);

  rig.window->show();
  QTest::mouseClick(rig.window->AddButton(), Qt::LeftButton);
  ASSERT_EQ(rig.window->Files().RowCount(), 2);
  QTest::mouseClick(rig.window->BrowsButton(), Qt::LeftButton);
  EXPECT_EQ(rig.window->OutputFolderBox()->text().toStdString(), outDir);
  EXPECT_EQ(rig.Settings().OutPutDir(), outDir);
  ASSERT_TRUE(rig.window->StartButton()->isEnabled());

  TProgressWatcher watcher(rig.window->Progress());
  QTest::mouseClick(rig.window->StartButton(), Qt::LeftButton);  // returns when the batch is over
  watcher.Record();

  EXPECT_FALSE(rig.window->Progress()->isVisible());
  EXPECT_TRUE(watcher.seen.modal);
  EXPECT_TRUE(watcher.seen.picture);
  EXPECT_TRUE(watcher.seen.progress.count("[1/2]")) << watcher.seen.progress.size();
  EXPECT_TRUE(watcher.seen.progress.count("[2/2]"));
  EXPECT_TRUE(watcher.seen.files.count(batch::ProgressFileText(first)));
  EXPECT_TRUE(watcher.seen.files.count(batch::ProgressFileText(second)));
  EXPECT_GE(watcher.seen.fileBar.size(), 2u);  // the bar moved

  for (int row = 0; row < 2; ++row) {
    const std::string output = outDir + "/" + rig.window->Files().Row(row).DestinationFile();
    SCOPED_TRACE(output);
    testsupport::FFprobe probe(output);
    ASSERT_TRUE(probe.Ok()) << probe.Errors();
    EXPECT_EQ(probe.StreamCount("video"), 1u);
    EXPECT_EQ(probe.StreamCount("audio"), 1u);
    EXPECT_NEAR(probe.Duration(), 2.0, 0.15);
  }
  // The buttons are back, nothing failed, and "Open ..." (ticked at the show) opened the folder.
  EXPECT_TRUE(rig.window->StartButton()->isEnabled());
  EXPECT_TRUE(rig.window->AddButton()->isEnabled());
  EXPECT_TRUE(rig.script.prompt.Texts().empty());
  ASSERT_EQ(rig.desktop.calls.size(), 1u);
  EXPECT_EQ(rig.desktop.calls[0].path, outDir);
}

TEST(MainWindow, CancelInTheMiddleLeavesAPlayablePartialOutput) {
  TMainRig rig;
  const std::string out = rig.folder.dir.File("out");
  fs::create_directory(out);
  profiles::TSettings(rig.folder.settingsFile).SetOutPutDir(out);
  rig.window->AddFilesWhenShown({testsupport::Fixture("long.mp4")});
  rig.window->show();
  ASSERT_TRUE(apptest::WaitFor([&] { return rig.window->Files().RowCount() == 1; }));

  app::TfrmProgress* progress = rig.window->Progress();
  // Cancel once the file is a good way in, as a user would click it.
  TProgressWatcher watcher(progress);
  QTimer canceller;
  QObject::connect(&canceller, &QTimer::timeout, [&] {
    if (progress->isVisible() && progress->findChild<QProgressBar*>("fileBar")->value() >= 20) {
      canceller.stop();
      QTest::mouseClick(progress->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    }
  });
  canceller.start(5);
  QTest::mouseClick(rig.window->StartButton(), Qt::LeftButton);
  EXPECT_FALSE(canceller.isActive());
  EXPECT_FALSE(progress->isVisible());
  ASSERT_TRUE(apptest::WaitFor([&] { return !rig.window->Controller().Running(); }));

  const std::string output = out + "/" + rig.window->Files().Row(0).DestinationFile();
  testsupport::FFprobe probe(output, true);
  ASSERT_TRUE(probe.Ok()) << probe.Errors();
  ASSERT_EQ(probe.StreamCount("video"), 1u);
  const size_t video = probe.CodecType(0) == "video" ? 0 : 1;
  EXPECT_GT(probe.NbReadFrames(video), 25);
  EXPECT_GT(probe.Duration(), 1.0);
  EXPECT_LT(probe.Duration(), 19.0);
  EXPECT_TRUE(rig.desktop.calls.empty());  // no post-action after Cancel
  EXPECT_TRUE(rig.window->StartButton()->isEnabled());
}
