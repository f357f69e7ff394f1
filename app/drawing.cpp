#include "app/drawing.h"

#include <QPainter>
#include <QPainterPath>

#include "profiles/catalogue.h"

namespace app {

namespace {

enum class TIconKind { Player, TouchPhone, KeypadPhone, Television, Handheld, Gamepad, Disc, Film,
                       HighDefinition, Audio };

// The kind of device or format each group's badge shows, by group index.
constexpr TIconKind kGroupKinds[profiles::kGroupCount] = {
    TIconKind::Player,      TIconKind::TouchPhone,  TIconKind::Television, TIconKind::TouchPhone,
    TIconKind::Handheld,    TIconKind::Gamepad,     TIconKind::Player,     TIconKind::Player,
    TIconKind::Handheld,    TIconKind::Player,      TIconKind::Player,     TIconKind::Player,
    TIconKind::Gamepad,     TIconKind::Gamepad,     TIconKind::KeypadPhone, TIconKind::KeypadPhone,
    TIconKind::KeypadPhone, TIconKind::TouchPhone,  TIconKind::Film,       TIconKind::Film,
    TIconKind::Player,      TIconKind::HighDefinition, TIconKind::Disc,    TIconKind::Disc,
    TIconKind::Disc,        TIconKind::Film,        TIconKind::Film,       TIconKind::Audio,
};

// A badge colour per group, hues spread so that neighbouring groups differ.
QColor BadgeColour(int group) { return QColor::fromHsv((group * 137) % 360, 150, 185); }

// Draws the white outline of `kind` in a 20×20 box whose top-left is the origin; `badge` is the
// badge colour, used for the parts cut out of the white shapes.
void DrawKind(QPainter& p, TIconKind kind, const QColor& badge) {
  const QColor white(255, 255, 255);
  p.setPen(Qt::NoPen);
  switch (kind) {
    case TIconKind::Player:  // a pocket player: screen above a wheel
      p.setBrush(white);
      p.drawRoundedRect(QRectF(6, 3, 8, 14), 1.5, 1.5);
      p.setBrush(badge);
      p.drawRect(QRectF(7.5, 4.5, 5, 4.5));
      p.drawEllipse(QPointF(10, 13), 2.3, 2.3);
      break;
    case TIconKind::TouchPhone:  // a phone with a screen over the whole front
      p.setBrush(white);
      p.drawRoundedRect(QRectF(6, 2.5, 8, 15), 1.5, 1.5);
      p.setBrush(badge);
      p.drawRect(QRectF(7, 4.5, 6, 10));
      break;
    case TIconKind::KeypadPhone:  // a phone with a small screen and keys
      p.setBrush(white);
      p.drawRoundedRect(QRectF(6, 2.5, 8, 15), 1.5, 1.5);
      p.setBrush(badge);
      p.drawRect(QRectF(7, 4, 6, 4.5));
      for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 2; ++col) p.drawRect(QRectF(7.5 + col * 3, 10 + row * 2.3, 2, 1.4));
      break;
    case TIconKind::Television:  // a screen on a stand
      p.setBrush(white);
      p.drawRoundedRect(QRectF(3, 4, 14, 10), 1, 1);
      p.drawRect(QRectF(7, 15, 6, 1.6));
      p.setBrush(badge);
      p.drawRect(QRectF(4.5, 5.5, 11, 7));
      break;
    case TIconKind::Handheld:  // a wide handheld: screen between the controls
      p.setBrush(white);
      p.drawRoundedRect(QRectF(2, 6, 16, 8), 3.5, 3.5);
      p.setBrush(badge);
      p.drawRect(QRectF(6, 7.5, 8, 5));
      p.drawEllipse(QPointF(4, 10), 1, 1);
      p.drawEllipse(QPointF(16, 10), 1, 1);
      break;
    case TIconKind::Gamepad: {  // a game pad with a cross and two buttons
      QPainterPath pad;
      pad.addRoundedRect(QRectF(2.5, 6, 15, 7), 3.5, 3.5);
      pad.addEllipse(QPointF(5.5, 13), 3, 3);
      pad.addEllipse(QPointF(14.5, 13), 3, 3);
      p.setBrush(white);
      p.drawPath(pad.simplified());
      p.setBrush(badge);
      p.drawRect(QRectF(4.5, 8.8, 4, 1.4));
      p.drawRect(QRectF(5.8, 7.5, 1.4, 4));
      p.drawEllipse(QPointF(13, 10.5), 0.9, 0.9);
      p.drawEllipse(QPointF(15.2, 8.8), 0.9, 0.9);
      break;
    }
    case TIconKind::Disc:  // an optical disc
      p.setBrush(white);
      p.drawEllipse(QPointF(10, 10), 7, 7);
      p.setBrush(badge);
      p.drawEllipse(QPointF(10, 10), 2, 2);
      break;
    case TIconKind::Film:  // a strip of film with a play mark
      p.setBrush(white);
      p.drawRect(QRectF(3.5, 3.5, 13, 13));
      p.setBrush(badge);
      for (int i = 0; i < 4; ++i) {
        p.drawRect(QRectF(4.5, 4.5 + i * 3, 1.5, 1.8));
        p.drawRect(QRectF(14, 4.5 + i * 3, 1.5, 1.8));
      }
      p.drawPolygon(QPolygonF{QPointF(8, 7), QPointF(12.5, 10), QPointF(8, 13)});
      break;
    case TIconKind::HighDefinition: {  // the letters HD
      QFont font = p.font();
      font.setBold(true);
      font.setPixelSize(9);
      p.setFont(font);
      p.setPen(white);
      p.drawText(QRectF(0, 0, 20, 20), Qt::AlignCenter, "HD");
      break;
    }
    case TIconKind::Audio: {  // a musical note
      p.setBrush(white);
      p.drawEllipse(QPointF(7.5, 14), 2.8, 2.2);
      p.drawRect(QRectF(9.2, 4, 1.5, 10));
      QPainterPath flag;
      flag.moveTo(10.7, 4);
      flag.cubicTo(12.5, 5.5, 15, 6.5, 14, 10);
      flag.cubicTo(13.6, 8, 12, 7.5, 10.7, 7.2);
      flag.closeSubpath();
      p.drawPath(flag);
      break;
    }
  }
}

}  // namespace

void DrawSelection(QPainter& painter, const QRect& line) {
  const QRect inset = line.adjusted(2, 2, -2, -2);
  painter.save();
  painter.fillRect(inset, kSelectionFill);
  painter.setPen(kSelectionFrame);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(inset.adjusted(0, 0, -1, -1));
  painter.restore();
}

void DrawGroupIcon(QPainter& painter, const QRect& cell, int group) {
  if (group < 0 || group >= profiles::kGroupCount) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.translate(cell.topLeft());
  painter.scale(cell.width() / 20.0, cell.height() / 20.0);
  const QColor badge = BadgeColour(group);
  QLinearGradient shade(0, 1, 0, 19);
  shade.setColorAt(0, badge.lighter(120));
  shade.setColorAt(1, badge.darker(115));
  painter.setPen(QPen(badge.darker(135), 1));
  painter.setBrush(shade);
  painter.drawRoundedRect(QRectF(1.5, 1.5, 17, 17), 4, 4);
  DrawKind(painter, kGroupKinds[group], badge);
  painter.restore();
}

}  // namespace app
