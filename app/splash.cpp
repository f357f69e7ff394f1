#include "app/splash.h"

#include <QFileInfo>

#include "app/artwork.h"

namespace app {

QPixmap SplashPictureFor(const std::string& programFolder) {
  const QString file = QString::fromStdString(programFolder) + "/skin/videocover.jpg";
  QPixmap picture;
  if (QFileInfo::exists(file) && picture.load(file) && !picture.isNull()) return picture;
  return SplashPicture();
}

TfrmSplash::TfrmSplash(const QPixmap& picture) : QSplashScreen(picture) {
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (!mainWindow_ || mainWindow_->isVisible()) {
      timer_.stop();
      close();
    }
  });
}

void TfrmSplash::CloseWhenShowing(QWidget* mainWindow) {
  mainWindow_ = mainWindow;
  timer_.start();
}

}  // namespace app
