// The progress window: the fitted frame rectangle, the picture's colours, what each show resets,
// the values and the file bar, Pause/Resume/Cancel and the batch's own closing, the snapshot
// button, the promotional text and its link; and a real batch run inside the modal window.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "app/progresswindow.h"
#include "batch/batchcontroller.h"
#include "batch/filelist.h"
#include "batch/snapshots.h"
#include "engine/zuzezaviv.h"
#include "platform/desktop.h"
#include "profiles/settings.h"
#include "tests/app/apptesting.h"
#include "tests/batch/batchtesting.h"

namespace {

namespace fs = std::filesystem;

const QColor kBackground(166, 202, 240);

media::TBitmap Solid(int width, int height, QColor colour) {
  media::TBitmap bitmap(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      row[x * 3] = static_cast<uint8_t>(colour.blue());
      row[x * 3 + 1] = static_cast<uint8_t>(colour.green());
      row[x * 3 + 2] = static_cast<uint8_t>(colour.red());
    }
  }
  return bitmap;
}

// A progress window with its parts found by name, a frame source the test fills, and a record
// of the calls it makes.
struct TWindowRig {
  apptest::TSettingsFolder folder;
  apptest::TScriptScope script;
  media::TBitmap frame;
  int pauses = 0, resumes = 0, cancels = 0;
  std::function<void()> duringCancel;
  std::unique_ptr<app::TfrmProgress> window;

  TWindowRig() {
    apptest::App();
    window = std::make_unique<app::TfrmProgress>(folder.settingsFile);
    window->SetPreviewSource([this]() -> const media::TBitmap& { return frame; });
    window->OnPause = [this] { ++pauses; };
    window->OnResume = [this] { ++resumes; };
    window->OnCancel = [this] {
      ++cancels;
      if (duringCancel) duringCancel();
    };
  }
  template <typename T>
  T* Find(const char* name) const {
    T* child = window->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  QLabel* Value(const char* name) const { return Find<QLabel>(name); }
  QPushButton* Button(const char* name) const { return Find<QPushButton>(name); }
  QCheckBox* Box(const char* name) const { return Find<QCheckBox>(name); }
  QImage Picture() const { return Find<QWidget>("previewPicture")->grab().toImage(); }
  void Click(const char* button) const { QTest::mouseClick(Button(button), Qt::LeftButton); }
};

struct TFitCase {
  const char* name;
  int frameWidth, frameHeight;
  QRect expected;  // in a 320x240 picture
};

}  // namespace

TEST(ProgressWindow, FramesAreFittedCentredWithMarginsRoundedHalfToEven) {
  const TFitCase cases[] = {
      {"16:9 in 4:3: equal top and bottom margins", 1920, 1080, QRect(0, 30, 320, 180)},
      {"the picture's own shape fills it", 640, 480, QRect(0, 0, 320, 240)},
      {"a smaller frame is stretched up", 160, 120, QRect(0, 0, 320, 240)},
      {"square: equal left and right margins", 100, 100, QRect(40, 0, 240, 240)},
      {"upright 9:16", 1080, 1920, QRect(92, 0, 136, 240)},
      {"margins of 0.5 round to 0", 320, 239, QRect(0, 0, 320, 240)},
      {"margins of 1.5 round to 2", 320, 237, QRect(0, 2, 320, 236)},
      {"margins of 2.5 round to 2", 315, 240, QRect(2, 0, 316, 240)},
      {"margins of 3.5 round to 4", 313, 240, QRect(4, 0, 312, 240)},
      {"no frame", 0, 0, QRect()},
  };
  for (const TFitCase& c : cases)
    EXPECT_EQ(app::FittedRect(c.frameWidth, c.frameHeight, 320, 240), c.expected) << c.name;
}

TEST(ProgressWindow, TheFrameIsDrawnFittedOnThePictureColour) {
  TWindowRig rig;
  rig.window->show();
  // Before the first frame the picture is all background.
  const QImage empty = rig.Picture();
  EXPECT_EQ(empty.size(), QSize(320, 240));
  EXPECT_EQ(empty.pixelColor(160, 120), kBackground);
  EXPECT_TRUE(rig.window->PictureRect().isNull());

  rig.frame = Solid(192, 108, QColor(200, 30, 40));
  ASSERT_TRUE(apptest::WaitFor([&] { return !rig.window->PictureRect().isNull(); }));
  EXPECT_EQ(rig.window->PictureRect(), QRect(0, 30, 320, 180));
  const QImage img = rig.Picture();
  for (QPoint bar : {QPoint(160, 10), QPoint(5, 28), QPoint(315, 211), QPoint(160, 235)})
    EXPECT_EQ(img.pixelColor(bar), kBackground) << bar.x() << "," << bar.y();
  for (QPoint inside : {QPoint(160, 120), QPoint(2, 32), QPoint(317, 207)})
    EXPECT_TRUE(apptest::Near(img.pixelColor(inside), QColor(200, 30, 40)))
        << inside.x() << "," << inside.y();
}

TEST(ProgressWindow, ValuesAndTheFileBarFollowTheBatchAndEachShowStartsCleared) {
  TWindowRig rig;
  EXPECT_EQ(rig.window->windowTitle(), "Progress");
  EXPECT_EQ(rig.window->size(), QSize(450, 490));
  EXPECT_FALSE(rig.window->ShutDownTicked());
  rig.window->show();
  EXPECT_TRUE(rig.window->OpenFolderTicked());

  const std::string path = "/videos/" + std::string(43, 'n') + "/clip.avi";  // 60 characters
  ASSERT_EQ(path.size(), 60u);
  batch::TProgressValues values;
  values.Percent = 42;
  values.CurrentTime = "21 Second";
  values.Length = "50 Second";
  values.FileSize = "1234 kb";
  values.Progress = "[2/3]";
  values.File = batch::ProgressFileText(path);
  rig.window->ShowProgress(values);
  EXPECT_EQ(rig.Value("currentTimeValue")->text(), "21 Second");
  EXPECT_EQ(rig.Value("lengthValue")->text(), "50 Second");
  EXPECT_EQ(rig.Value("fileSizeValue")->text(), "1234 kb");
  EXPECT_EQ(rig.Value("progressValue")->text(), "[2/3]");
  EXPECT_EQ(rig.Value("fileValue")->text().toStdString(), path.substr(0, 44) + ".." + ".avi");
  EXPECT_LE(rig.Value("fileValue")->width(), 283);
  auto* bar = rig.Find<QProgressBar>("fileBar");
  EXPECT_EQ(bar->value(), 42);
  EXPECT_EQ(bar->text(), "42%");

  // An unknown length shows a busy bar; the next percentage brings the bar back.
  values.Percent = -1;
  rig.window->ShowProgress(values);
  EXPECT_EQ(bar->maximum(), 0);
  rig.window->SetFileBar(100);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 100);

  // The user changes the boxes and pauses; the batch ends. The next show clears the values and
  // the picture, ticks "Open ..." again, and starts unpaused; "Shut down ..." stays as set.
  rig.Box("openFolderBox")->setChecked(false);
  rig.Box("shutDownBox")->setChecked(true);
  rig.frame = Solid(64, 48, Qt::green);
  ASSERT_TRUE(apptest::WaitFor([&] { return !rig.window->PictureRect().isNull(); }));
  rig.Click("pauseButton");
  rig.window->CloseAtBatchEnd();
  EXPECT_FALSE(rig.window->isVisible());
  rig.frame = media::TBitmap();  // the next batch has no frame yet

  rig.window->show();
  for (const char* name :
       {"currentTimeValue", "lengthValue", "fileSizeValue", "progressValue", "fileValue"})
    EXPECT_EQ(rig.Value(name)->text(), "") << name;
  EXPECT_TRUE(rig.window->OpenFolderTicked());
  EXPECT_TRUE(rig.window->ShutDownTicked());
  EXPECT_TRUE(rig.Button("pauseButton")->isEnabled());
  EXPECT_FALSE(rig.Button("resumeButton")->isEnabled());
  EXPECT_EQ(bar->value(), 0);
  EXPECT_TRUE(rig.window->PictureRect().isNull());
  EXPECT_EQ(rig.Picture().pixelColor(160, 120), kBackground);
}

TEST(ProgressWindow, PauseAndResumeSwapAndEveryWayOfClosingButTheBatchEndCancels) {
  TWindowRig rig;
  rig.window->show();
  rig.Click("pauseButton");
  EXPECT_EQ(rig.pauses, 1);
  EXPECT_FALSE(rig.Button("pauseButton")->isEnabled());
  EXPECT_TRUE(rig.Button("resumeButton")->isEnabled());
  rig.Click("resumeButton");
  EXPECT_EQ(rig.resumes, 1);
  EXPECT_TRUE(rig.Button("pauseButton")->isEnabled());
  EXPECT_FALSE(rig.Button("resumeButton")->isEnabled());

  // Cancel inside the modal loop: the batch's stop closes the window while it waits, as the
  // controller does, and a second Cancel meanwhile is ignored.
  rig.duringCancel = [&] {
    rig.Click("cancelButton");
    rig.window->CloseAtBatchEnd();
  };
  QTimer::singleShot(0, [&] { rig.Click("cancelButton"); });
  EXPECT_EQ(rig.window->exec(), QDialog::Rejected);
  EXPECT_EQ(rig.cancels, 1);
  EXPECT_FALSE(rig.window->isVisible());
  rig.duringCancel = nullptr;

  // The close box and Escape cancel too; a cancel that does not close the window closes it.
  rig.window->show();
  rig.window->close();
  EXPECT_EQ(rig.cancels, 2);
  EXPECT_FALSE(rig.window->isVisible());
  rig.window->show();
  QTest::keyClick(rig.window.get(), Qt::Key_Escape);
  EXPECT_EQ(rig.cancels, 3);
  EXPECT_FALSE(rig.window->isVisible());

  // The batch's end closes the modal window without cancelling.
  QTimer::singleShot(0, [&] { rig.window->CloseAtBatchEnd(); });
  EXPECT_EQ(rig.window->exec(), QDialog::Accepted);
  EXPECT_EQ(rig.cancels, 3);
  EXPECT_FALSE(rig.window->isVisible());
}

TEST(ProgressWindow, TheSnapshotButtonSavesTheFrameAndWhatThePictureShows) {
  TWindowRig rig;
  const std::string snaps = rig.folder.dir.File("snaps");
  profiles::TSettings settings(rig.folder.settingsFile);
  settings.SetSnapOutPutDir(snaps);
  settings.SetSnapJpg(false);
  rig.window->show();
  EXPECT_EQ(rig.Button("snapshotButton")->toolTip(), "Save snapshot picture");
  EXPECT_FALSE(rig.Button("snapshotButton")->icon().isNull());

  // Before the first frame: nothing, not even the folder.
  rig.Click("snapshotButton");
  EXPECT_FALSE(fs::exists(snaps));

  rig.frame = Solid(400, 400, QColor(20, 160, 30));
  rig.Click("snapshotButton");
  media::TBitmap full, small;
  ASSERT_TRUE(full.LoadFromBMP(snaps + "/" + batch::kSnapshotFullBmp));
  ASSERT_TRUE(small.LoadFromBMP(snaps + "/" + batch::kSnapshotSmallBmp));
  EXPECT_EQ(full.Width(), 400);
  EXPECT_EQ(full.Height(), 400);
  EXPECT_EQ(full.ScanLine(200)[1], 160);
  // The small picture is the 320x240 picture: the square frame between background bars.
  ASSERT_EQ(small.Width(), 320);
  ASSERT_EQ(small.Height(), 240);
  const uint8_t* row = small.ScanLine(120);
  EXPECT_EQ(QColor(row[10 * 3 + 2], row[10 * 3 + 1], row[10 * 3]), kBackground);
  EXPECT_TRUE(apptest::Near(QColor(row[160 * 3 + 2], row[160 * 3 + 1], row[160 * 3]),
                            QColor(20, 160, 30)));
  EXPECT_TRUE(rig.script.prompt.Texts().empty());

  // A file that cannot be written is reported.
  fs::remove(snaps + "/" + batch::kSnapshotFullBmp);
  fs::create_directories(snaps + "/" + batch::kSnapshotFullBmp + "/in-the-way");
  rig.Click("snapshotButton");
  ASSERT_EQ(rig.script.prompt.Shown().size(), 1u);
  EXPECT_NE(rig.script.prompt.Shown()[0].text.find(batch::kSnapshotFullBmp), std::string::npos);
  EXPECT_EQ(rig.script.prompt.Shown()[0].title, "Warning");
}

TEST(ProgressWindow, ThePromotionalTextIsBlueAndOpensOnlyWebLinks) {
  TWindowRig rig;
  apptest::TDesktopScope desktop;
  auto* advert = rig.Find<QLabel>("advertText");
  rig.window->show();
  EXPECT_EQ(advert->text(), "");  // no entries, no text
  EXPECT_EQ(advert->cursor().shape(), Qt::PointingHandCursor);

  rig.window->SetAdverts({{"Convert faster with the new version", "http://ads.example/new"}},
                         "2.10");
  EXPECT_EQ(advert->text(), "Convert faster with the new version");
  // Blue text in the drawn label.
  const QImage img = advert->grab().toImage();
  bool blue = false;
  for (int y = 0; y < img.height() && !blue; ++y)
    for (int x = 0; x < img.width() && !blue; ++x)
      blue = apptest::Near(img.pixelColor(x, y), QColor(0, 0, 255), 40);
  EXPECT_TRUE(blue);
  QTest::mouseClick(advert, Qt::LeftButton);
  ASSERT_EQ(desktop.calls.size(), 1u);
  EXPECT_EQ(desktop.calls[0].what, "open");
  EXPECT_EQ(desktop.calls[0].path, "http://ads.example/new?Kelto%20Video%20Converter%202.10");

  rig.window->SetAdverts({{"Visit our shop", "shop.example/deals"}}, "2.10");
  EXPECT_EQ(advert->text(), "Visit our shop");
  QTest::mouseClick(advert, Qt::LeftButton);
  EXPECT_EQ(desktop.calls.size(), 1u);

  // Each show picks an entry of the list.
  rig.window->CloseAtBatchEnd();
  rig.window->SetAdverts({{"One", "http://a.example"}, {"Two", "http://b.example"}}, "2.10");
  rig.window->show();
  EXPECT_TRUE(advert->text() == "One" || advert->text() == "Two") << advert->text().toStdString();
}

namespace {

// The main window's part in a batch, reduced to the progress window: shown modally with exec().
class TWindowView : public batch::IBatchView {
 public:
  explicit TWindowView(app::TfrmProgress& window) : window_(window) {}
  int shows = 0;
  int result = -1;
  std::function<void(const batch::TProgressValues&)> onProgress;
  void ShowProgressWindow() override {
    ++shows;
    result = window_.exec();
  }
  void CloseProgressWindow() override { window_.CloseAtBatchEnd(); }
  void ShowProgress(const batch::TProgressValues& values) override {
    window_.ShowProgress(values);
    if (onProgress) onProgress(values);
  }
  void SetFileBar(int percent) override { window_.SetFileBar(percent); }
  bool OpenFolderAfterConversion() override { return window_.OpenFolderTicked(); }
  bool ShutDownAfterConversion() override { return window_.ShutDownTicked(); }

 private:
  app::TfrmProgress& window_;
};

// A batch of one file over the real engine and controller, with the window as its view.
struct TBatchWindowRig {
  testsupport::TempDir dir;
  std::string settingsFile = dir.File(profiles::kSettingsFileName);
  std::string formatFile = dir.File(profiles::kFormatFileName);
  std::string outDir = dir.File("out");
  apptest::TScriptScope script;
  apptest::TDesktopScope desktop;
  engine::TZUzezaVIV engine;
  std::unique_ptr<batch::TFileList> list;
  std::unique_ptr<app::TfrmProgress> window;
  std::unique_ptr<TWindowView> view;
  std::unique_ptr<batch::TBatchController> controller;

  explicit TBatchWindowRig(const std::string& source) {
    apptest::App();
    testsupport::WriteText(formatFile, "[formatInfo1]\nFormat=mp4\nFileExt=mp4\n");
    std::string text = "[settings]\nOutPutDir=" + outDir + "\nFormatCode=1\n[formatInfo1]\n";
    for (const auto& [key, value] : batchtest::DefaultPara()) text += key + "=" + value + "\n";
    testsupport::WriteText(settingsFile, text);
    list = std::make_unique<batch::TFileList>(engine, settingsFile, formatFile);
    EXPECT_EQ(list->AddFiles({source}), 1);
    window = std::make_unique<app::TfrmProgress>(settingsFile);
    view = std::make_unique<TWindowView>(*window);
    controller = std::make_unique<batch::TBatchController>(engine, *list, *view, settingsFile,
                                                           formatFile);
    window->SetPreviewSource(
        [this]() -> const media::TBitmap& { return controller->PreviewBitmap(); });
    window->OnPause = [this] { controller->Pause(); };
    window->OnResume = [this] { controller->Resume(); };
    window->OnCancel = [this] { controller->Stop(); };
  }
  ~TBatchWindowRig() { controller.reset(); }
};

}  // namespace

TEST(ProgressWindow, ABatchRunsWhileTheWindowIsModalAndItsEndClosesIt) {
  const std::string source = testsupport::Fixture("av.mp4");
  TBatchWindowRig rig(source);
  batch::TProgressValues last;
  rig.view->onProgress = [&](const batch::TProgressValues& values) { last = values; };

  ASSERT_TRUE(rig.controller->Start());  // returns once the modal window has closed
  EXPECT_EQ(rig.view->shows, 1);
  EXPECT_EQ(rig.view->result, QDialog::Accepted);
  EXPECT_FALSE(rig.window->isVisible());
  EXPECT_FALSE(rig.controller->Running());
  EXPECT_EQ(rig.window->findChild<QLabel*>("progressValue")->text(), "[1/1]");
  EXPECT_EQ(rig.window->findChild<QLabel*>("fileValue")->text().toStdString(),
            batch::ProgressFileText(source));
  EXPECT_EQ(rig.window->findChild<QProgressBar*>("fileBar")->value(), 100);
  EXPECT_EQ(last.Progress, "[1/1]");
  // "Open the output folder after conversion" was ticked by the show.
  ASSERT_EQ(rig.desktop.calls.size(), 1u);
  EXPECT_EQ(rig.desktop.calls[0].path, rig.outDir);

  // The window paints the controller's last frame (320x240 fills the picture).
  rig.window->show();
  EXPECT_TRUE(apptest::WaitFor([&] { return !rig.window->PictureRect().isNull(); }));
  EXPECT_EQ(rig.window->PictureRect(), QRect(0, 0, 320, 240));
  rig.window->CloseAtBatchEnd();
}

TEST(ProgressWindow, CancellingStopsTheBatchAndNoPostActionRuns) {
  TBatchWindowRig rig(testsupport::Fixture("long.mp4"));
  bool clicked = false;
  rig.view->onProgress = [&](const batch::TProgressValues&) {
    if (clicked) return;
    clicked = true;
    // As a user would: from the event loop, once this report has been shown.
    QTimer::singleShot(0, [&] {
      QTest::mouseClick(rig.window->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
    });
  };
  ASSERT_TRUE(rig.controller->Start());
  EXPECT_TRUE(clicked);
  EXPECT_EQ(rig.view->result, QDialog::Rejected);
  EXPECT_FALSE(rig.window->isVisible());
  // The engine's final notice may follow the window's closing; it closes nothing more.
  EXPECT_TRUE(apptest::WaitFor([&] { return !rig.controller->Running(); }));
  EXPECT_FALSE(rig.window->isVisible());
  EXPECT_TRUE(rig.desktop.calls.empty());
}
