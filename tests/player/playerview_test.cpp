// The view offscreen: a picture presented from another thread appears in grab() inside its
// rectangle with the bars in the background colour; resizing while paused repaints at the new
// size; a press gives the view the focus and still reaches the host.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <thread>
#include <vector>

#include "platform/mainthread.h"
#include "player/view/playerview.h"
#include "tests/player/playerharness.h"

using namespace std::chrono_literals;
using testsupport::Fixture;

namespace {

// The application every test of this file needs, offscreen, with the hand-off served by its
// event loop.
QApplication& App() {
  static int argc = 3;
  static char arg0[] = "playerview_test", arg1[] = "-platform", arg2[] = "offscreen";
  static char* argv[] = {arg0, arg1, arg2, nullptr};
  static QApplication* app = [] {
    auto* a = new QApplication(argc, argv);
    platform::SetMainThread();
    platform::SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
    return a;
  }();
  return *app;
}

bool WaitGrab(QWidget& w, const std::function<bool(const QImage&)>& done) {
  return playertest::WaitFor([&] { return done(w.grab().toImage()); }, 5000ms);
}

bool Near(QColor a, QColor b, int tolerance = 12) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

}  // namespace

TEST(PlayerView, APicturePresentedFromAnotherThreadIsPaintedInItsRectangle) {
  App();
  playertest::Session session;  // the scaler comes from the loaded libraries
  playerview::TPlayerView view;
  QPalette palette = view.palette();
  palette.setColor(view.backgroundRole(), QColor(0, 0, 255));
  view.setPalette(palette);
  view.resize(320, 180);
  view.show();
  // A 64x48 yellow YUV 4:2:0 picture (Y 210, U 16, V 146).
  const int w = 64, h = 48;
  std::vector<uint8_t> y(w * h, 210), u(w * h / 4, 16), v(w * h / 4, 146);
  std::thread presenter([&] {
    player::TSurfacePicture picture;
    picture.format = AV_PIX_FMT_YUV420P;
    picture.width = w;
    picture.height = h;
    picture.data[0] = y.data(), picture.data[1] = u.data(), picture.data[2] = v.data();
    picture.linesize[0] = w, picture.linesize[1] = w / 2, picture.linesize[2] = w / 2;
    view.Present(picture, player::TRect{40, 0, 240, 180});
  });
  presenter.join();
  const QColor yellow(255, 255, 0);
  ASSERT_TRUE(WaitGrab(view, [&](const QImage& img) { return Near(img.pixelColor(160, 90), yellow); }));
  const QImage img = view.grab().toImage();
  EXPECT_TRUE(Near(img.pixelColor(42, 2), yellow));
  EXPECT_TRUE(Near(img.pixelColor(277, 177), yellow));
  EXPECT_EQ(img.pixelColor(38, 90), QColor(0, 0, 255));
  EXPECT_EQ(img.pixelColor(281, 90), QColor(0, 0, 255));
}

TEST(PlayerView, ResizingWhilePausedRepaintsThePictureAtTheNewSize) {
  App();
  playertest::Session session;
  QWidget host;
  auto* layout = new QVBoxLayout(&host);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* view = new playerview::TPlayerView;
  layout->addWidget(view);
  host.resize(320, 180);
  host.show();
  QCoreApplication::processEvents();
  player::TVIVudero p;
  session.Attach(p);
  ASSERT_TRUE(p.Open(Fixture("av.mp4"), view, true)) << p.LastErrMsg();
  ASSERT_TRUE(playertest::WaitFor([&] { return session.CountState(player::psPause) == 1; }));
  ASSERT_TRUE(playertest::WaitFor([&] { return view->LastRect() == QRect(40, 0, 240, 180); }));
  host.resize(640, 360);
  ASSERT_TRUE(playertest::WaitFor([&] { return view->LastRect() == QRect(80, 0, 480, 360); }));
  const QColor bars = view->palette().color(view->backgroundRole());
  ASSERT_TRUE(WaitGrab(*view, [&](const QImage& img) {
    return img.width() == 640 && img.pixelColor(78, 180) == bars && img.pixelColor(82, 180) != bars;
  }));
  // The picture fills its new rectangle: its last row and column are painted too.
  const QImage img = view->grab().toImage();
  EXPECT_NE(img.pixelColor(558, 358), bars);
  EXPECT_EQ(img.pixelColor(561, 180), bars);
  p.Stop(true);
}

TEST(PlayerView, APressGivesTheViewTheFocusAndReachesTheHost) {
  App();
  struct Host : QWidget {
    int presses = 0;
    bool viewHadFocus = false;
    QWidget* view = nullptr;
    void mousePressEvent(QMouseEvent*) override {
      ++presses;
      viewHadFocus = view && view->hasFocus();
    }
  } host;
  auto* view = new playerview::TPlayerView(&host);
  host.view = view;
  view->setGeometry(0, 0, 100, 100);
  auto* other = new QWidget(&host);
  other->setFocusPolicy(Qt::StrongFocus);
  host.resize(200, 100);
  host.show();
  QApplication::setActiveWindow(&host);
  other->setFocus();
  QCoreApplication::processEvents();
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), view->mapToGlobal(QPointF(10, 10)),
                    Qt::RightButton, Qt::RightButton, Qt::NoModifier);
  QApplication::sendEvent(view, &press);
  EXPECT_EQ(host.presses, 1);
  EXPECT_TRUE(host.viewHadFocus);
}
