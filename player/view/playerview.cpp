#include "player/view/playerview.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include "media/ffapi.h"

namespace playerview {

TPlayerView::TPlayerView(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::ClickFocus);
}

TPlayerView::~TPlayerView() {
  if (scaler_ && ff::sws_freeContext) ff::sws_freeContext(scaler_);
}

void TPlayerView::ClientSize(int& width, int& height) const {
  width = width_.load();
  height = height_.load();
}

bool TPlayerView::OpenSurface(int, int) { return true; }

void TPlayerView::Present(const player::TSurfacePicture& picture, const player::TRect& target) {
  if (target.width <= 0 || target.height <= 0 || picture.width <= 0 || picture.height <= 0) return;
  QImage image(target.width, target.height, QImage::Format_RGB32);
  scaler_ = ff::sws_getCachedContext(scaler_, picture.width, picture.height, picture.format,
                                     target.width, target.height, AV_PIX_FMT_BGRA, SWS_BICUBIC,
                                     nullptr, nullptr, nullptr);
  if (!scaler_) return;
  uint8_t* dst[4] = {image.bits(), nullptr, nullptr, nullptr};
  const int dstLines[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
  ff::sws_scale(scaler_, picture.data, picture.linesize, 0, picture.height, dst, dstLines);
  {
    std::lock_guard guard(lock_);
    image_ = std::move(image);
    rect_ = QRect(target.left, target.top, target.width, target.height);
  }
  // One repaint request in flight at a time; the paint takes whatever picture is latest.
  if (!updateQueued_.exchange(true)) {
    QPointer<TPlayerView> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
          if (!self) return;
          self->updateQueued_ = false;
          self->update();
        },
        Qt::QueuedConnection);
  }
}

QImage TPlayerView::LastImage() const {
  std::lock_guard guard(lock_);
  return image_;
}

QRect TPlayerView::LastRect() const {
  std::lock_guard guard(lock_);
  return rect_;
}

void TPlayerView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QImage image;
  QRect rect;
  {
    std::lock_guard guard(lock_);
    image = image_;
    rect = rect_;
  }
  const QColor background = palette().color(backgroundRole());
  if (image.isNull()) {
    painter.fillRect(this->rect(), background);
    return;
  }
  // The bars around the picture in the panel's own colour.
  QRegion bars(this->rect());
  bars -= QRegion(rect);
  for (const QRect& r : bars) painter.fillRect(r, background);
  painter.drawImage(rect, image);
}

void TPlayerView::resizeEvent(QResizeEvent* event) {
  width_ = event->size().width();
  height_ = event->size().height();
  QWidget::resizeEvent(event);
  NotifyResized(width_, height_);
}

void TPlayerView::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  // Not accepted: the press goes on to the host's own handlers.
  event->ignore();
}

}  // namespace playerview
