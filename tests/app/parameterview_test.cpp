// The parameter panel on screen, driven by keys and mouse over the real panel model and settings
// file: typed frame sizes corrected on leaving, refused keys in the numeric boxes, entries chosen
// from the drop-downs and how they are drawn, "Default", and a profile without video.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

#include "app/drawing.h"
#include "app/parameterview.h"
#include "platform/inifile.h"
#include "profiles/settings.h"
#include "tests/app/apptesting.h"

namespace {

using profiles::TParamBox;

// The panel under a line edit that takes the focus when the user moves on.
struct TPanelWindow {
  QApplication& app = apptest::App();  // before any widget
  apptest::TSettingsFolder folder;
  apptest::TScriptScope script;
  QWidget window;
  QLineEdit* other;
  app::TParameterPanelView* view;

  explicit TPanelWindow(int code) {
    auto* layout = new QVBoxLayout(&window);
    other = new QLineEdit(&window);
    view = new app::TParameterPanelView(folder.settingsFile, folder.formatFile, &window);
    layout->addWidget(other);
    layout->addWidget(view);
    window.resize(786, 200);
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    view->Load(code);
  }

  QComboBox* Box(TParamBox box) { return view->Box(box); }
  std::string Stored(int code, const char* key) {
    return profiles::TSettings(folder.settingsFile).ProfileString(code, key, "<none>");
  }
  // Clicks into an editable box, selects its text and types over it.
  void Type(TParamBox box, const QString& text) {
    QComboBox* combo = Box(box);
    QTest::mouseClick(combo->lineEdit(), Qt::LeftButton);
    EXPECT_TRUE(combo->hasFocus());
    QTest::keyClick(combo, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(combo, text);
  }
  // Opens a box's drop-down with a click on its arrow and returns the list.
  QAbstractItemView* Open(TParamBox box) {
    QComboBox* combo = Box(box);
    QTest::mouseClick(combo, Qt::LeftButton, {}, QPoint(combo->width() - 8, combo->height() / 2));
    QAbstractItemView* list = combo->view();
    EXPECT_TRUE(apptest::WaitFor([&] { return list->isVisible(); }));
    return list;
  }
  // Moves the pointer over entry `position` of an open drop-down, which highlights it.
  QRect Hover(QAbstractItemView* list, int position) {
    const QRect r = list->visualRect(list->model()->index(position, 0));
    QTest::mouseMove(list->viewport(), r.center());
    EXPECT_TRUE(apptest::WaitFor([&] { return list->currentIndex().row() == position; }));
    return r;
  }
  // Opens a box's drop-down and clicks the entry at `position`, as a person would: the pointer
  // goes over it first, and the click comes after the drop-down's guard against the opening
  // click's release has passed.
  void Choose(TParamBox box, int position) {
    QAbstractItemView* list = Open(box);
    const QRect r = Hover(list, position);
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    EXPECT_TRUE(apptest::WaitFor([&] { return !list->isVisible(); }));
  }
  int Beeps() {
    int beeps = 0;
    for (const auto& shown : script.prompt.Shown()) beeps += shown.kind == "beep";
    return beeps;
  }
};

}  // namespace

TEST(ParameterPanelView, ATypedFrameSizeIsFilteredByKeyAndCorrectedWhenTheFocusMovesOn) {
  TPanelWindow w(0);
  w.Type(TParamBox::VideoSize, "6a41xx48y1");  // a, the second x and y are refused
  EXPECT_EQ(w.Box(TParamBox::VideoSize)->currentText(), "641x481");
  EXPECT_EQ(w.Beeps(), 3);
  EXPECT_TRUE(w.script.prompt.Texts().empty());
  EXPECT_EQ(w.Stored(0, "paraVideoSize"), "320x240");  // nothing stored before leaving

  QTest::keyClick(w.Box(TParamBox::VideoSize), Qt::Key_Tab);
  ASSERT_EQ(w.script.prompt.Texts(),
            std::vector<std::string>{"Frame Size must be a multiple of 2.\nThe correct value:640x480"});
  EXPECT_EQ(w.script.prompt.Shown().back().title, "Input Error!");
  EXPECT_EQ(w.Box(TParamBox::VideoSize)->currentText(), "640x480");
  EXPECT_EQ(w.Stored(0, "paraVideoSize"), "640x480");

  // Opening the box's own drop-down is no leaving; a text without "x" is refused on leaving and
  // the second entry is selected. The batch start runs the same check.
  w.script.prompt.Clear();
  w.Type(TParamBox::VideoSize, "640");
  QComboBox* size = w.Box(TParamBox::VideoSize);
  QTest::mouseClick(size, Qt::LeftButton, {}, QPoint(size->width() - 8, size->height() / 2));
  ASSERT_TRUE(apptest::WaitFor([&] { return size->view()->isVisible(); }));
  QTest::keyClick(size->view(), Qt::Key_Escape);
  ASSERT_TRUE(apptest::WaitFor([&] { return !size->view()->isVisible(); }));
  EXPECT_TRUE(w.script.prompt.Texts().empty());
  EXPECT_EQ(size->currentText(), "640");
  w.view->CommitFrameSize();
  EXPECT_EQ(w.script.prompt.Texts(), std::vector<std::string>{"Frame Size is not a valid value!"});
  EXPECT_EQ(w.Box(TParamBox::VideoSize)->currentIndex(), 1);
  EXPECT_EQ(w.Box(TParamBox::VideoSize)->currentText(), "640x480");
}

TEST(ParameterPanelView, TheNumericBoxesRefuseLettersAndStoreEveryTypedNumber) {
  TPanelWindow w(0);
  struct {
    TParamBox box;
    const char* key;
    const char* invalid;
  } cases[] = {
      {TParamBox::VideoBitRate, "paraVideoBitRate", "Video BitRate is not a valid value!"},
      {TParamBox::SampleRate, "paraSampleRate", "Audio SampleRate is not a valid value!"},
      {TParamBox::AudioBitRate, "paraAudioBitRate", "Audio BitRate is not a valid value!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    w.script.prompt.Clear();
    w.Type(c.box, "1k2");
    EXPECT_EQ(w.Box(c.box)->currentText(), "12");
    EXPECT_EQ(w.Stored(0, c.key), "12");
    EXPECT_EQ(w.script.prompt.Texts(), std::vector<std::string>{"Please enter numerical."});
    EXPECT_EQ(w.Beeps(), 1);
    // An emptied box holds no number: the message, and the second entry comes back.
    w.script.prompt.Clear();
    QTest::keyClick(w.Box(c.box), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w.Box(c.box), Qt::Key_Backspace);
    EXPECT_EQ(w.script.prompt.Texts(), std::vector<std::string>{c.invalid});
    EXPECT_EQ(w.Box(c.box)->currentIndex(), 1);
    EXPECT_EQ(w.Stored(0, c.key), "12");
  }
}

TEST(ParameterPanelView, EntriesChosenFromTheDropDownsAreStoredAndTheHighlightedOneIsDrawnSelected) {
  TPanelWindow w(0);
  QComboBox* volume = w.Box(TParamBox::Volume);
  ASSERT_EQ(volume->count(), 12);
  w.Choose(TParamBox::Volume, 5);  // 150%
  EXPECT_EQ(w.Stored(0, "paraVolume"), "384");
  EXPECT_EQ(w.Stored(0, "iVolume"), "5");
  w.Choose(TParamBox::Channel, 0);
  EXPECT_EQ(w.Stored(0, "paraChannel"), "1");
  w.Choose(TParamBox::Zoom, 1);
  EXPECT_EQ(w.Stored(0, "paraZoom"), "lbox");
  w.Choose(TParamBox::VideoSize, 1);
  EXPECT_EQ(w.Stored(0, "paraVideoSize"), "640x480");

  // The drop-down shows every entry at once; the entry under the pointer is drawn selected.
  QAbstractItemView* list = w.Open(TParamBox::Volume);
  EXPECT_FALSE(list->verticalScrollBar()->isVisible());
  const QRect last = list->visualRect(list->model()->index(11, 0));
  EXPECT_LE(last.bottom(), list->viewport()->height());
  const QRect entry = w.Hover(list, 2);
  const QImage image = list->viewport()->grab().toImage();
  EXPECT_EQ(image.pixelColor(entry.left() + 1, entry.top() + 1), QColor(Qt::white));
  EXPECT_EQ(image.pixelColor(entry.left() + 2, entry.center().y()), app::kSelectionFrame);
  EXPECT_EQ(image.pixelColor(entry.right() - 4, entry.center().y()), app::kSelectionFill);
  const QRect other = list->visualRect(list->model()->index(7, 0));
  EXPECT_EQ(image.pixelColor(other.right() - 4, other.center().y()), QColor(Qt::white));
  QTest::keyClick(list, Qt::Key_Escape);
}

TEST(ParameterPanelView, DefaultStoresEveryValueOfTheProfile) {
  TPanelWindow w(0);
  w.Choose(TParamBox::Volume, 5);
  w.Choose(TParamBox::FrameRate, 0);
  w.Type(TParamBox::VideoBitRate, "999");
  QTest::mouseClick(w.view->DefaultButton(), Qt::LeftButton);

  apptest::TSettingsFolder fresh;
  profiles::StoreProfileDefaults(fresh.settingsFile, fresh.formatFile, 0);
  const platform::TIniFile expected(fresh.settingsFile);
  const platform::TIniFile stored(w.folder.settingsFile);
  const std::string section = profiles::FormatInfoSection(0);
  for (const std::string& key : expected.ReadSection(section))
    EXPECT_EQ(stored.ReadString(section, key, "<none>"), expected.ReadString(section, key, ""))
        << key;
  EXPECT_EQ(w.Box(TParamBox::Volume)->currentText(), "100%");
  EXPECT_EQ(w.Box(TParamBox::VideoBitRate)->currentText(), "768");
  EXPECT_EQ(w.Box(TParamBox::FrameRate)->currentText(), "29.97");
}

TEST(ParameterPanelView, AProfileWithoutVideoDisablesTheFiveVideoBoxes) {
  TPanelWindow w(2700);  // MP3 audio
  for (TParamBox box : {TParamBox::VideoSize, TParamBox::VideoEncoder, TParamBox::VideoBitRate,
                        TParamBox::FrameRate, TParamBox::Zoom})
    EXPECT_FALSE(w.Box(box)->isEnabled()) << static_cast<int>(box);
  for (TParamBox box : {TParamBox::SampleRate, TParamBox::AudioEncoder, TParamBox::Channel,
                        TParamBox::AudioBitRate})
    EXPECT_TRUE(w.Box(box)->isEnabled()) << static_cast<int>(box);
  EXPECT_EQ(w.Box(TParamBox::SampleRate)->currentText(), "44100");

  w.view->Load(0);
  EXPECT_TRUE(w.Box(TParamBox::VideoSize)->isEnabled());
  EXPECT_EQ(w.Box(TParamBox::VideoSize)->currentText(), "320x240");
  EXPECT_LE(w.view->sizeHint().height(), 130);
}
