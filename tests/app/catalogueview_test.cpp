// The "Output Format:" box and its drop-up list, driven by mouse and key events over the real
// format list and settings file: opening above the box, expanding and collapsing groups by the
// expander or a double click, choosing a profile, closing on presses elsewhere, hover selection
// and the drawn colours of the lines.
#include <gtest/gtest.h>

#include <QCursor>
#include <QListView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "app/catalogueview.h"
#include "app/drawing.h"
#include "profiles/catalogue.h"
#include "profiles/settings.h"
#include "tests/app/apptesting.h"

namespace {

using profiles::TSettings;

// A main-window-sized window with the box near its bottom and another button beside it.
struct TCatalogueWindow {
  QApplication& app = apptest::App();  // before any widget
  apptest::TSettingsFolder folder;
  QWidget window;
  app::TCatalogueBox* box;
  QPushButton* other;

  explicit TCatalogueWindow(const std::string& settingsText = "") {
    if (!settingsText.empty()) testsupport::WriteText(folder.settingsFile, settingsText);
    window.resize(786, 522);
    box = new app::TCatalogueBox(folder.settingsFile, &window);
    box->setGeometry(100, 470, 420, 22);
    other = new QPushButton("Start", &window);
    other->setGeometry(600, 470, 80, 24);
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    box->Build();
  }

  QListView* List() { return qobject_cast<QListView*>(box->List()); }
  QLineEdit* Edit() { return box->findChild<QLineEdit*>(); }
  QToolButton* Arrow() { return box->findChild<QToolButton*>(); }
  const profiles::TFormatList& Lines() { return box->Lines(); }

  // The middle-left point of line `row` in the list's viewport, scrolled into view, `x` pixels
  // from the line's left edge.
  QPoint At(int row, int x) {
    const QModelIndex index = List()->model()->index(row, 0);
    List()->scrollTo(index);
    const QRect r = List()->visualRect(index);
    return {r.left() + x, r.center().y()};
  }
  void Press(int row, int x) { QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, At(row, x)); }
  void DoubleClick(int row, int x) {
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, At(row, x));
  }
  int HeaderRow(int group) {
    for (int i = 0; i < Lines().Count(); ++i)
      if (Lines().Items()[i].isGroup && Lines().Items()[i].code == group) return i;
    return -1;
  }
};

}  // namespace

TEST(CatalogueBox, AnEmptySettingsFileShowsTwentyEightCollapsedHeadersInAListAboveTheBox) {
  TCatalogueWindow w;
  EXPECT_EQ(w.Lines().Count(), profiles::kGroupCount);
  for (const profiles::TItemInfo& item : w.Lines().Items()) EXPECT_TRUE(item.isGroup && item.collapsed);
  EXPECT_EQ(w.box->Text(), "Apple iPod Video MPEG-4 Movie (*.mp4)");
  EXPECT_FALSE(w.box->ListShown());

  QTest::mouseClick(w.Arrow(), Qt::LeftButton);
  ASSERT_TRUE(w.box->ListShown());
  EXPECT_EQ(w.List()->parentWidget(), &w.window);
  EXPECT_TRUE(w.List()->hasFocus());
  const QRect list = w.List()->geometry();
  EXPECT_EQ(list.bottom() + 1, w.box->geometry().top());
  EXPECT_EQ(list.left(), w.box->geometry().left());
  EXPECT_EQ(list.width(), w.box->width());
  EXPECT_EQ(list.height(), profiles::ShownListHeight(28));
  EXPECT_EQ(list.height(), 386);
  QTest::mouseClick(w.Arrow(), Qt::LeftButton);
  EXPECT_FALSE(w.box->ListShown());

  // The box reloads its text on showing and the pointer goes to the middle of the matching line;
  // a second click closes the list, and a double click leaves it open.
  TSettings(w.folder.settingsFile).SetFormatName("Sony PS3");
  QTest::mouseClick(w.Edit(), Qt::LeftButton);
  ASSERT_TRUE(w.box->ListShown());
  EXPECT_EQ(w.box->Text(), "Sony PS3");
  EXPECT_EQ(w.Lines().ItemIndex(), 5);
  EXPECT_EQ(QCursor::pos(), w.List()->viewport()->mapToGlobal(w.List()->visualRect(
                                w.List()->model()->index(5, 0)).center()));
  QTest::mouseClick(w.Edit(), Qt::LeftButton);
  EXPECT_FALSE(w.box->ListShown());
  QTest::mouseDClick(w.Edit(), Qt::LeftButton);
  EXPECT_TRUE(w.box->ListShown());
  EXPECT_TRUE(w.Edit()->isReadOnly());  // a read-only box draws no caret
}

TEST(CatalogueBox, TheExpanderAndADoubleClickToggleAGroupAndPressesFurtherInDoNothing) {
  TCatalogueWindow w;
  w.box->ShowList();
  const std::vector<profiles::TItemInfo> collapsed = w.Lines().Items();
  const int ps3 = w.HeaderRow(5);

  w.Press(ps3, 10);
  ASSERT_EQ(w.Lines().Count(), 32);
  for (int i = 0; i < 4; ++i) {
    const profiles::TItemInfo& line = w.Lines().Items()[ps3 + 1 + i];
    EXPECT_TRUE(line.isProfile);
    EXPECT_EQ(line.code, 500 + i);
    EXPECT_EQ(line.caption, profiles::ProfileCaption(500 + i));
  }
  EXPECT_EQ(w.List()->model()->rowCount(), 32);
  EXPECT_EQ(w.List()->height(), profiles::ShownListHeight(32));
  EXPECT_TRUE(w.box->ListShown());
  w.Press(ps3, 19);
  EXPECT_EQ(w.Lines().Items(), collapsed);
  EXPECT_EQ(w.List()->model()->rowCount(), 28);

  w.Press(ps3, 25);  // past the expander
  EXPECT_EQ(w.Lines().Items(), collapsed);
  EXPECT_TRUE(w.box->ListShown());

  w.DoubleClick(ps3, 200);
  EXPECT_EQ(w.Lines().Count(), 32);
  EXPECT_FALSE(w.Lines().Items()[ps3].collapsed);
  w.DoubleClick(ps3, 200);
  EXPECT_EQ(w.Lines().Items(), collapsed);

  // The collapsed states are kept for the next start.
  w.Press(w.HeaderRow(24), 5);
  w.box->SaveCollapsed();
  EXPECT_FALSE(TSettings(w.folder.settingsFile).GroupCollapsed(24));
  EXPECT_TRUE(TSettings(w.folder.settingsFile).GroupCollapsed(5));
}

TEST(CatalogueBox, ChoosingAProfileStoresItShowsItInTheBoxAndClosesTheList) {
  TCatalogueWindow w;
  QSignalSpy changed(w.box, &app::TCatalogueBox::ProfileChanged);
  w.box->ShowList();
  const int vcd = w.HeaderRow(24);
  w.Press(vcd, 5);
  const QString caption = "VCD - PAL MPEG-1 Moive (*.mpg)";
  ASSERT_EQ(w.Lines().Items()[vcd + 2].caption, caption.toStdString());
  w.Press(vcd + 2, 150);

  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed[0][0].toInt(), 2401);
  EXPECT_EQ(changed[0][1].toString(), caption);
  EXPECT_EQ(w.box->Text(), caption);
  EXPECT_FALSE(w.box->ListShown());
  const TSettings settings(w.folder.settingsFile);
  EXPECT_EQ(settings.FormatCode(), 2401);
  EXPECT_EQ(settings.FormatName(), caption.toStdString());

  // Reopened, the chosen line is the selected one; Enter on a selected profile chooses it too.
  QTest::mouseClick(w.Arrow(), Qt::LeftButton);
  EXPECT_EQ(w.Lines().ItemIndex(), vcd + 2);
  QTest::keyClick(w.List(), Qt::Key_Up);
  QTest::keyClick(w.List(), Qt::Key_Return);
  ASSERT_EQ(changed.count(), 2);
  EXPECT_EQ(changed[1][0].toInt(), 2400);
  EXPECT_EQ(TSettings(w.folder.settingsFile).FormatCode(), 2400);
}

TEST(CatalogueBox, APressOnAnotherControlOrTheApplicationLosingTheFocusClosesTheList) {
  TCatalogueWindow w;
  w.box->ShowList();
  QTest::mouseClick(w.other, Qt::LeftButton);
  EXPECT_FALSE(w.box->ListShown());

  w.box->ShowList();
  QScrollBar* bar = w.List()->verticalScrollBar();
  ASSERT_TRUE(bar->isVisible());
  QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(bar->width() / 2, bar->height() - 5));
  EXPECT_TRUE(w.box->ListShown());  // its own scroll bar is part of the list
  QTest::mouseClick(&w.window, Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_FALSE(w.box->ListShown());

  w.box->ShowList();
  QEvent deactivate(QEvent::ApplicationDeactivate);
  QApplication::sendEvent(qApp, &deactivate);
  EXPECT_FALSE(w.box->ListShown());

  w.box->ShowList();
  QTest::keyClick(w.List(), Qt::Key_Escape);
  EXPECT_FALSE(w.box->ListShown());
}

TEST(CatalogueBox, ThePointerSelectsTheLineUnderItAndTheLinesAreDrawnInTheirColours) {
  TCatalogueWindow w("[lstformat]\n0=0\n");  // "Apple iPod" expanded
  w.box->ShowList();
  ASSERT_TRUE(w.Lines().Items()[1].isProfile);
  QTest::mouseMove(w.List()->viewport(), w.At(3, 100));
  EXPECT_EQ(w.Lines().ItemIndex(), 3);
  QTest::mouseMove(w.List()->viewport(), w.At(1, 100));
  ASSERT_EQ(w.Lines().ItemIndex(), 1);

  const QImage image = w.List()->viewport()->grab().toImage();
  auto lineTop = [&](int row) { return w.List()->visualRect(w.List()->model()->index(row, 0)).top(); };
  const QColor background(246, 247, 248);
  // The selected profile line: background outside the 2-pixel inset, the frame, the fill.
  const int selected = lineTop(1);
  EXPECT_EQ(image.pixelColor(0, selected + 10), background);
  EXPECT_EQ(image.pixelColor(1, selected + 1), background);
  EXPECT_EQ(image.pixelColor(2, selected + 2), app::kSelectionFrame);
  EXPECT_EQ(image.pixelColor(2, selected + 10), app::kSelectionFrame);
  EXPECT_EQ(image.pixelColor(10, selected + 10), app::kSelectionFill);
  EXPECT_EQ(image.pixelColor(10, selected + 17), app::kSelectionFrame);
  EXPECT_EQ(image.pixelColor(10, selected + 18), background);

  // The darkest text pixel of a line from column x on.
  auto darkest = [&](int row, int x) {
    QColor dark(255, 255, 255);
    for (int y = lineTop(row); y < lineTop(row) + 20; ++y)
      for (int i = x; i < x + 150; ++i) {
        const QColor c = image.pixelColor(i, y);
        if (c.lightness() < dark.lightness()) dark = c;
      }
    return dark;
  };
  EXPECT_TRUE(apptest::Near(darkest(1, 25), Qt::black, 40)) << darkest(1, 25).name().toStdString();
  EXPECT_TRUE(apptest::Near(darkest(2, 25), QColor(0, 0, 128), 40)) << darkest(2, 25).name().toStdString();
  EXPECT_EQ(image.pixelColor(24, lineTop(2) + 10), background);  // profile text starts at 25
  EXPECT_TRUE(apptest::Near(darkest(0, 45), Qt::black, 40));      // header caption
  // The header's expander glyph and group icon are drawn in their places.
  auto drawnIn = [&](int row, int left, int right) {
    for (int y = lineTop(row); y < lineTop(row) + 20; ++y)
      for (int x = left; x < right; ++x)
        if (image.pixelColor(x, y) != background) return true;
    return false;
  };
  EXPECT_TRUE(drawnIn(0, 1, 19));
  EXPECT_TRUE(drawnIn(0, 20, 40));
  EXPECT_FALSE(drawnIn(0, 0, 1));
  EXPECT_FALSE(drawnIn(0, 41, 44));
  EXPECT_NE(image.pixelColor(30, lineTop(0) + 10), image.pixelColor(30, lineTop(10) + 10))
      << "each group has an icon of its own";
}
