// What the player tests share: a display surface that records what it is given, a session that
// loads the libraries, sends sound to SDL's disk driver (a file the test reads back) and records
// the player's events and log lines, and bounded waits that serve the main-thread hand-off.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "media/bitmap.h"
#include "player/customplayer.h"
#include "player/displaysurface.h"
#include "tests/support/testdirs.h"

namespace playertest {

// One presented picture, copied: the planes of a YUV 4:2:0 picture, or the rows of a BGR24 one.
struct Shown {
  AVPixelFormat format = AV_PIX_FMT_NONE;
  int width = 0;
  int height = 0;
  int64_t pts = -1;
  player::TRect rect;
  std::vector<uint8_t> planes[3];
  int linesize[3] = {};
  // The picture as a bitmap (converted with a converter of its own for YUV).
  media::TBitmap ToBitmap() const;
  // Y, U, V (or B, G, R) at a pixel.
  void Sample(int x, int y, int out[3]) const;
};

class RecordingSurface : public player::TDisplaySurface {
 public:
  RecordingSurface(int width, int height) : width_(width), height_(height) {}
  void ClientSize(int& width, int& height) const override;
  bool OpenSurface(int width, int height) override;
  void Present(const player::TSurfacePicture& picture, const player::TRect& target) override;
  // Gives the surface a new size and tells the player.
  void Resize(int width, int height);

  int Count() const;
  Shown Last() const;
  std::vector<int64_t> Times() const;
  std::vector<player::TRect> Rects() const;

 private:
  mutable std::mutex lock_;  // protects everything below
  int width_, height_;
  std::vector<int64_t> times_;
  std::vector<player::TRect> rects_;
  Shown last_;
};

// Waits up to timeout for done, serving the hand-off; true when done.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(15000));
// Serves the hand-off for a while (lets events arrive).
void Serve(std::chrono::milliseconds time);

class Session {
 public:
  // Marks this thread the user-interface thread, loads the player's libraries, routes sound to
  // a file in a fresh folder (SDL's disk driver) and records the logger's lines.
  Session();
  ~Session();
  // Wires the player's OnState and OnPosition to the session's records.
  void Attach(player::TCustomPlayer& p);

  std::vector<player::TPlayState> States() const;
  std::vector<int64_t> Positions() const;
  int CountState(player::TPlayState state) const;
  bool HasLog(const std::string& text) const;
  std::string Logs() const;
  // Sound of the next Open goes to this file in the session's folder.
  void SetSoundFile(const std::string& name);
  // The 16-bit samples the disk driver wrote so far.
  std::vector<int16_t> Samples() const;
  const std::string& SoundFile() const { return soundFile_; }

  testsupport::TempDir dir;

 private:
  mutable std::mutex lock_;  // protects the records
  std::vector<player::TPlayState> states_;
  std::vector<int64_t> positions_;
  std::vector<std::string> logs_;
  std::string soundFile_;
};

}  // namespace playertest
