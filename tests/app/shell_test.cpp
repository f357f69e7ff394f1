// The program's shell around the main window: the application-wide error display, the output
// folder chooser, the About box and the splash picture.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QtTest/QTest>

#include "app/aboutbox.h"
#include "app/application.h"
#include "app/folderchooser.h"
#include "app/splash.h"
#include "engine/enginerecords.h"
#include "tests/app/apptesting.h"
#include "tests/batch/batchtesting.h"

using platform::TPromptIcon;

TEST(ErrorDisplay, AppendsAFullStopOnlyAfterCharactersThatSortAfterIt) {
  const struct {
    const char* message;
    const char* shown;
  } cases[] = {{"", ""},           {"Disk full", "Disk full."}, {"Done.", "Done."},
               {"Why!", "Why!"},   {"(see log)", "(see log)"},  {"code 3", "code 3."},
               {"a/b", "a/b."}};
  for (const auto& c : cases) EXPECT_EQ(app::ErrorDisplayText(c.message), c.shown) << c.message;
}

TEST(ErrorDisplay, AnErrorReachingTheEventLoopIsShownWithItsKindsIconAndTheProgramGoesOn) {
  apptest::App();
  apptest::TScriptScope script;
  QTimer::singleShot(0, [] { throw engine::FFmpegException("Unknown encoder xyz"); });
  QTimer::singleShot(0, [] { throw std::runtime_error("Cannot open the file"); });
  ASSERT_TRUE(apptest::WaitFor([&] { return script.prompt.Shown().size() == 2; }));
  const auto shown = script.prompt.Shown();
  EXPECT_EQ(shown[0].text, "Unknown encoder xyz.");
  EXPECT_EQ(shown[0].title, "Kelto Video Converter");
  EXPECT_EQ(shown[0].icon, TPromptIcon::Warning);
  EXPECT_EQ(shown[1].text, "Cannot open the file.");
  EXPECT_EQ(shown[1].icon, TPromptIcon::Error);
  bool ranAfter = false;
  QTimer::singleShot(0, [&] { ranAfter = true; });
  EXPECT_TRUE(apptest::WaitFor([&] { return ranAfter; }));
}

TEST(FolderChooser, TakesTheChosenFolderAndRefusesAReadOnlyOneWhileStayingOpen) {
  apptest::App();
  apptest::TScriptScope script;
  testsupport::TempDir dir;
  {
    app::TfrmBrows chooser(dir.Path());
    EXPECT_EQ(chooser.windowTitle(), "Brows");
    EXPECT_EQ(chooser.size(), QSize(322, 351));
    chooser.open();
    ASSERT_TRUE(chooser.OkButton()->isEnabled());
    QTest::mouseClick(chooser.OkButton(), Qt::LeftButton);
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    EXPECT_EQ(chooser.Folder(), dir.Path());
  }
  const std::string readOnly = testsupport::ReadOnlyMountPoint();
  if (readOnly.empty()) GTEST_SKIP() << "this process sees no read-only mount";
  app::TfrmBrows chooser(dir.Path());
  chooser.open();
  chooser.SelectFolder(readOnly);
  QTest::mouseClick(chooser.OkButton(), Qt::LeftButton);
  ASSERT_EQ(script.prompt.Shown().size(), 1u);
  EXPECT_EQ(script.prompt.Shown()[0].text,
            "Output folder cannot be located in CD-ROM.Please select another folder.");
  EXPECT_EQ(script.prompt.Shown()[0].title, "Kelto Video Converter");
  EXPECT_EQ(script.prompt.Shown()[0].icon, TPromptIcon::Information);
  EXPECT_TRUE(chooser.isVisible());
  EXPECT_FALSE(chooser.OkButton()->isEnabled());
  EXPECT_EQ(chooser.Folder(), "");
}

TEST(AboutBox, ShowsTitleAndVersionAndOpensTheWebPageFromItsLink) {
  apptest::App();
  std::vector<batchtest::TRecordingDesktop::TCall> calls;
  auto previous =
      platform::SetDesktop(std::make_unique<batchtest::TRecordingDesktop>(&calls));
  {
    app::TfrmAbout about("Kelto Video Converter 3.300 ", "https://example.test/vc/");
    EXPECT_EQ(about.windowTitle(), "About");
    EXPECT_EQ(about.size(), QSize(360, 190));
    bool titleShown = false;
    for (QLabel* label : about.findChildren<QLabel*>())
      titleShown |= label->text() == "Kelto Video Converter 3.300 ";
    EXPECT_TRUE(titleShown);
    EXPECT_TRUE(about.Link()->text().contains("https://example.test/vc/"));
    emit about.Link()->linkActivated("https://example.test/vc/");
    about.open();
    QPushButton* ok = about.findChild<QPushButton*>();
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "&Ok");
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
  }
  platform::SetDesktop(std::move(previous));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].what, "open");
  EXPECT_EQ(calls[0].path, "https://example.test/vc/");
}

TEST(Splash, ShowsTheSkinPictureBesideTheProgramElseTheBuiltInOne) {
  apptest::App();
  testsupport::TempDir dir;
  const QPixmap builtIn = app::SplashPictureFor(dir.Path());
  EXPECT_FALSE(builtIn.isNull());
  QDir(QString::fromStdString(dir.Path())).mkdir("skin");
  QImage cover(200, 100, QImage::Format_RGB32);
  cover.fill(QColor(200, 20, 20));
  ASSERT_TRUE(cover.save(QString::fromStdString(dir.File("skin/videocover.jpg")), "JPG"));
  const QPixmap picture = app::SplashPictureFor(dir.Path());
  EXPECT_EQ(picture.size(), QSize(200, 100));
  EXPECT_TRUE(apptest::Near(picture.toImage().pixelColor(100, 50), QColor(200, 20, 20), 12));
  // A file that is no picture leaves the built-in one.
  testsupport::WriteText(dir.File("skin/videocover.jpg"), "not a picture");
  EXPECT_EQ(app::SplashPictureFor(dir.Path()).size(), builtIn.size());
}
