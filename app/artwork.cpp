#include "app/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "profiles/globalobject.h"

namespace app {

QPixmap ProductPicture(int size) {
  QPixmap picture(size, size);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // The film frame: a rounded dark body with sprocket holes along both edges.
  QLinearGradient body(0, 0, 0, s);
  body.setColorAt(0, QColor(70, 110, 190));
  body.setColorAt(1, QColor(30, 60, 130));
  painter.setPen(Qt::NoPen);
  painter.setBrush(body);
  painter.drawRoundedRect(QRectF(s * 0.04, s * 0.12, s * 0.92, s * 0.76), s * 0.1, s * 0.1);
  painter.setBrush(QColor(235, 240, 250));
  const qreal hole = s * 0.07;
  for (int i = 0; i < 5; ++i) {
    const qreal x = s * (0.12 + i * 0.17);
    painter.drawRect(QRectF(x, s * 0.16, hole, hole));
    painter.drawRect(QRectF(x, s * 0.84 - hole, hole, hole));
  }
  // The play mark.
  QPainterPath play;
  play.moveTo(s * 0.40, s * 0.34);
  play.lineTo(s * 0.66, s * 0.50);
  play.lineTo(s * 0.40, s * 0.66);
  play.closeSubpath();
  painter.setBrush(QColor(255, 196, 60));
  painter.drawPath(play);
  return picture;
}

QPixmap SplashPicture() {
  QPixmap picture(420, 240);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient background(0, 0, 0, picture.height());
  background.setColorAt(0, QColor(236, 241, 250));
  background.setColorAt(1, QColor(190, 206, 234));
  painter.fillRect(picture.rect(), background);
  painter.drawPixmap(24, 60, ProductPicture(120));
  QFont title = painter.font();
  title.setPointSize(17);
  title.setBold(true);
  painter.setFont(title);
  painter.setPen(QColor(20, 40, 100));
  painter.drawText(QRect(156, 80, 250, 70), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
                   QString::fromLatin1(profiles::kProductTitle));
  QFont small = painter.font();
  small.setPointSize(9);
  small.setBold(false);
  painter.setFont(small);
  painter.setPen(QColor(60, 70, 100));
  painter.drawText(QRect(156, 150, 250, 24), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Loading..."));
  painter.setPen(QColor(122, 160, 218));
  painter.drawRect(picture.rect().adjusted(0, 0, -1, -1));
  return picture;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addPixmap(ProductPicture(size));
  return icon;
}

}  // namespace app
