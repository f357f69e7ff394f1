// The themes: each names its entry, applies its palette to every window, and an index that names
// no theme applies Default.
#include <gtest/gtest.h>

#include <QWidget>

#include "app/skins.h"
#include "tests/app/apptesting.h"

TEST(Skins, EachThemeColoursEveryWindowAndAnUnknownIndexAppliesDefault) {
  apptest::App();
  const char* names[] = {"Default", "Gray", "Orange", "Purple", "Red", "Green", "Light blue"};
  QColor faces[app::kSkinCount];
  for (int i = 0; i < app::kSkinCount; ++i) {
    EXPECT_EQ(app::SkinName(i), names[i]);
    app::ApplySkin(i);
    EXPECT_EQ(app::AppliedSkin(), i);
    QWidget window;  // created after the change: it takes the theme too
    faces[i] = window.palette().color(QPalette::Window);
    for (int j = 0; j < i; ++j) EXPECT_NE(faces[i], faces[j]) << names[i] << " vs " << names[j];
  }
  for (int index : {-1, 7, 9}) {
    app::ApplySkin(index);
    EXPECT_EQ(app::AppliedSkin(), 0) << index;
    EXPECT_EQ(QWidget().palette().color(QPalette::Window), faces[0]) << index;
    EXPECT_EQ(app::SkinName(index), "") << index;
  }
  EXPECT_EQ(app::OddRowTint(0), QColor(226, 230, 246));
  EXPECT_EQ(app::OddRowTint(6), QColor(225, 240, 247));
  EXPECT_EQ(app::OddRowTint(-1), QColor(235, 235, 235));
}
