#include "player/displaysurface.h"

namespace player {

TDisplaySurface::~TDisplaySurface() = default;

void TDisplaySurface::SetNoticeSink(TNotice sink) {
  std::lock_guard guard(sinkLock_);
  sink_ = std::move(sink);
}

void TDisplaySurface::NotifyResized(int width, int height) {
  std::lock_guard guard(sinkLock_);
  if (sink_) sink_(width, height);
}

void TDisplaySurface::NotifyExposed() {
  std::lock_guard guard(sinkLock_);
  if (sink_) sink_(-1, -1);
}

}  // namespace player
