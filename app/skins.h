// The seven built-in colour themes ("skins") of the windows: Default, Gray, Orange, Purple, Red,
// Green and Light blue, in that order. A theme is an application palette under one style (Fusion),
// so every window takes the main window's theme. Also the tint the file list gives its odd rows
// under each theme.
#pragma once

#include <QColor>
#include <QString>

namespace app {

inline constexpr int kSkinCount = 7;

// The theme's name as the "&Skin" menu shows it; "" for an index outside 0…6.
QString SkinName(int index);

// Applies theme `index` to the application. An index outside 0…6 applies Default, the theme the
// windows are designed with. Call on the user-interface thread once a QApplication exists.
void ApplySkin(int index);

// The theme applied last: 0…6, or -1 before ApplySkin was first called.
int AppliedSkin();

// Odd rows of the file list under theme `index`; RGB (235, 235, 235) for an index that names no
// built-in theme.
QColor OddRowTint(int index);

}  // namespace app
