// TDisplaySurface: where a player's pictures go. The play thread opens the surface at a size and
// presents each picture (YUV 4:2:0 from the decoder, or a BGR24 waveform) with the rectangle it
// must fill; the area around the rectangle is the surface's own background. The surface tells the
// player about a new size or a needed redraw through NotifyResized and NotifyExposed.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace player {

struct TRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool operator==(const TRect&) const = default;
};

// A picture lent to the surface for the duration of one Present call.
struct TSurfacePicture {
  AVPixelFormat format = AV_PIX_FMT_NONE;  // AV_PIX_FMT_YUV420P or AV_PIX_FMT_BGR24
  int width = 0;
  int height = 0;
  const uint8_t* data[4] = {};
  int linesize[4] = {};
  int64_t pts = -1;  // microseconds from the file start; -1 for the waveform
};

class TDisplaySurface {
 public:
  virtual ~TDisplaySurface();

  // The drawing area's size now. Any thread.
  virtual void ClientSize(int& width, int& height) const = 0;
  // Play thread: the surface is (re)opened at this size. False when it cannot be.
  virtual bool OpenSurface(int width, int height) = 0;
  // Play thread: shows the picture in target (surface coordinates). The picture's memory stays
  // the player's; a surface that keeps it must copy it during the call.
  virtual void Present(const TSurfacePicture& picture, const TRect& target) = 0;

  // The player's sink for the surface's notices: (width, height) for a resize, (-1, -1) for a
  // redraw. Set and cleared by the player; any thread.
  using TNotice = std::function<void(int width, int height)>;
  void SetNoticeSink(TNotice sink);

 protected:
  // The surface calls these from any thread.
  void NotifyResized(int width, int height);
  void NotifyExposed();

 private:
  std::mutex sinkLock_;  // protects sink_
  TNotice sink_;
};

}  // namespace player
