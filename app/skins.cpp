#include "app/skins.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>
#include <array>

namespace app {
namespace {

struct TSkin {
  const char* name;
  QColor face;       // window and button background
  QColor highlight;  // selections, focus frames, progress bars
  QColor oddRow;     // the file list's odd rows
};

const std::array<TSkin, kSkinCount>& Skins() {
  static const std::array<TSkin, kSkinCount> skins = {{
      {"Default", QColor(240, 240, 240), QColor(49, 106, 197), QColor(226, 230, 246)},
      {"Gray", QColor(224, 224, 224), QColor(96, 96, 96), QColor(236, 236, 236)},
      {"Orange", QColor(250, 236, 214), QColor(222, 120, 31), QColor(248, 242, 224)},
      {"Purple", QColor(240, 228, 240), QColor(134, 64, 160), QColor(246, 230, 241)},
      {"Red", QColor(246, 226, 226), QColor(184, 50, 40), QColor(247, 225, 225)},
      {"Green", QColor(226, 244, 226), QColor(40, 140, 72), QColor(226, 247, 225)},
      {"Light blue", QColor(224, 240, 250), QColor(48, 140, 206), QColor(225, 240, 247)},
  }};
  return skins;
}

int applied = -1;

QPalette PaletteOf(const TSkin& skin) {
  QPalette palette;
  const QColor text(0, 0, 0);
  palette.setColor(QPalette::Window, skin.face);
  palette.setColor(QPalette::Button, skin.face);
  palette.setColor(QPalette::Base, QColor(255, 255, 255));
  palette.setColor(QPalette::AlternateBase, skin.oddRow);
  palette.setColor(QPalette::WindowText, text);
  palette.setColor(QPalette::ButtonText, text);
  palette.setColor(QPalette::Text, text);
  palette.setColor(QPalette::ToolTipBase, QColor(255, 255, 225));
  palette.setColor(QPalette::ToolTipText, text);
  palette.setColor(QPalette::Highlight, skin.highlight);
  palette.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
  palette.setColor(QPalette::Link, QColor(0, 0, 255));
  palette.setColor(QPalette::Light, skin.face.lighter(125));
  palette.setColor(QPalette::Midlight, skin.face.lighter(110));
  palette.setColor(QPalette::Mid, skin.face.darker(130));
  palette.setColor(QPalette::Dark, skin.face.darker(160));
  palette.setColor(QPalette::Shadow, QColor(80, 80, 80));
  const QColor grey(128, 128, 128);
  for (auto role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
    palette.setColor(QPalette::Disabled, role, grey);
  palette.setColor(QPalette::Disabled, QPalette::Base, skin.face);
  return palette;
}

}  // namespace

QString SkinName(int index) {
  if (index < 0 || index >= kSkinCount) return {};
  return QString::fromLatin1(Skins()[index].name);
}

void ApplySkin(int index) {
  if (index < 0 || index >= kSkinCount) index = 0;
  // One style under every theme, so the palettes look the same on every desktop.
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
    QApplication::setStyle(fusion);
  const TSkin& skin = Skins()[index];
  QApplication::setPalette(PaletteOf(skin));
  applied = index;
}

int AppliedSkin() { return applied; }

QColor OddRowTint(int index) {
  if (index < 0 || index >= kSkinCount) return QColor(235, 235, 235);
  return Skins()[index].oddRow;
}

}  // namespace app
