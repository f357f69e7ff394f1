// Drawing shared by the owner-drawn lists and boxes of the main window: the selection mark of a
// line (filled inset by 2 pixels and framed) and the 20×20 icons of the 28 catalogue groups,
// drawn by code as a coloured badge with a white outline of the group's kind of device or format.
#pragma once

#include <QColor>
#include <QRect>

class QPainter;

namespace app {

inline const QColor kSelectionFill(185, 204, 236);
inline const QColor kSelectionFrame(122, 160, 218);

// Fills `line` inset by 2 pixels with the selection colour and frames that rectangle.
void DrawSelection(QPainter& painter, const QRect& line);

// The icon of catalogue group `group` (0 … 27) inside `cell` (20×20); nothing for other indexes.
void DrawGroupIcon(QPainter& painter, const QRect& cell, int group);

}  // namespace app
