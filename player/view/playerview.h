// TPlayerView: the Qt widget that shows a player's pictures in a panel of any window. It is the
// player's display surface: each picture presented from the play thread is scaled into its
// rectangle there (a cached scaler) and painted on the GUI thread, with the bars around it in the
// widget's background colour. A resize tells the player, which draws the paused picture again at
// the new size. A mouse press gives the view the focus before the press goes on to the host.
// Stop the player before the view is destroyed.
#pragma once

#include <QImage>
#include <QWidget>
#include <atomic>
#include <mutex>

#include "player/displaysurface.h"

struct SwsContext;

namespace playerview {

class TPlayerView : public QWidget, public player::TDisplaySurface {
 public:
  explicit TPlayerView(QWidget* parent = nullptr);
  ~TPlayerView() override;

  void ClientSize(int& width, int& height) const override;
  bool OpenSurface(int width, int height) override;
  void Present(const player::TSurfacePicture& picture, const player::TRect& target) override;

  // The picture painted last and where (widget coordinates); an empty image before the first.
  QImage LastImage() const;
  QRect LastRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  std::atomic<int> width_{0};
  std::atomic<int> height_{0};
  mutable std::mutex lock_;  // protects image_, rect_
  QImage image_;
  QRect rect_;
  SwsContext* scaler_ = nullptr;  // play thread only
  std::atomic<bool> updateQueued_{false};
};

}  // namespace playerview
