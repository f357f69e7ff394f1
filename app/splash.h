// TfrmSplash: the borderless, screen-centred window shown while the program starts: the picture
// skin/videocover.jpg beside the program when there is one, else the built-in picture. Every second
// it checks whether the main window is showing yet and closes itself once it is.
#pragma once

#include <QPointer>
#include <QSplashScreen>
#include <QTimer>
#include <string>

namespace app {

// The picture the splash shows: the file in `programFolder`/skin/videocover.jpg when it loads,
// else the built-in one.
QPixmap SplashPictureFor(const std::string& programFolder);

class TfrmSplash : public QSplashScreen {
 public:
  explicit TfrmSplash(const QPixmap& picture);
  // The window whose showing ends the splash.
  void CloseWhenShowing(QWidget* mainWindow);

 private:
  QTimer timer_;
  QPointer<QWidget> mainWindow_;
};

}  // namespace app
