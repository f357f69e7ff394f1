#include "tests/player/playerharness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "media/fflogger.h"
#include "media/pictureconverter.h"
#include "platform/mainthread.h"

namespace playertest {

media::TBitmap Shown::ToBitmap() const {
  media::TBitmap out;
  if (format == AV_PIX_FMT_BGR24) {
    out.SetSize(width, height);
    for (int y = 0; y < height; ++y)
      std::memcpy(out.ScanLine(y), planes[0].data() + static_cast<size_t>(y) * linesize[0],
                  static_cast<size_t>(width) * 3);
    return out;
  }
  media::TPictureConverter converter;
  const uint8_t* data[4] = {planes[0].data(), planes[1].data(), planes[2].data(), nullptr};
  const int lines[4] = {linesize[0], linesize[1], linesize[2], 0};
  if (media::PictureToBitmap(converter, data, lines, format, height, width))
    out = *converter.Bitmap();
  return out;
}

void Shown::Sample(int x, int y, int out[3]) const {
  if (format == AV_PIX_FMT_BGR24) {
    const uint8_t* p = planes[0].data() + static_cast<size_t>(y) * linesize[0] + x * 3;
    for (int i = 0; i < 3; ++i) out[i] = p[i];
    return;
  }
  out[0] = planes[0][static_cast<size_t>(y) * linesize[0] + x];
  out[1] = planes[1][static_cast<size_t>(y / 2) * linesize[1] + x / 2];
  out[2] = planes[2][static_cast<size_t>(y / 2) * linesize[2] + x / 2];
}

void RecordingSurface::ClientSize(int& width, int& height) const {
  std::lock_guard guard(lock_);
  width = width_;
  height = height_;
}

bool RecordingSurface::OpenSurface(int, int) { return true; }

void RecordingSurface::Present(const player::TSurfacePicture& picture, const player::TRect& target) {
  Shown s;
  s.format = picture.format;
  s.width = picture.width;
  s.height = picture.height;
  s.pts = picture.pts;
  s.rect = target;
  const int planes = picture.format == AV_PIX_FMT_YUV420P ? 3 : 1;
  for (int i = 0; i < planes; ++i) {
    const int rows = i == 0 ? picture.height : picture.height / 2;
    s.linesize[i] = picture.linesize[i];
    s.planes[i].assign(picture.data[i], picture.data[i] + static_cast<size_t>(rows) * picture.linesize[i]);
  }
  std::lock_guard guard(lock_);
  times_.push_back(picture.pts);
  rects_.push_back(target);
  last_ = std::move(s);
}

void RecordingSurface::Resize(int width, int height) {
  {
    std::lock_guard guard(lock_);
    width_ = width;
    height_ = height;
  }
  NotifyResized(width, height);
}

int RecordingSurface::Count() const {
  std::lock_guard guard(lock_);
  return static_cast<int>(times_.size());
}

Shown RecordingSurface::Last() const {
  std::lock_guard guard(lock_);
  return last_;
}

std::vector<int64_t> RecordingSurface::Times() const {
  std::lock_guard guard(lock_);
  return times_;
}

std::vector<player::TRect> RecordingSurface::Rects() const {
  std::lock_guard guard(lock_);
  return rects_;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  return platform::WaitServing(done, timeout);
}

void Serve(std::chrono::milliseconds time) {
  platform::WaitServing([] { return false; }, time);
}

Session::Session() {
  platform::SetMainThread();
  soundFile_ = dir.File("sound.raw");
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", soundFile_.c_str(), 1);
  media::TFFLogger& logger = media::GetLogger();
  logger.TriggerEventInMainThread = false;
  logger.OnLog = [this](media::TFFBaseComponent*, uint32_t, media::TLogLevel, const std::string& msg) {
    std::lock_guard guard(lock_);
    logs_.push_back(msg);
  };
  player::TVIVudero loader;
  if (!loader.AVLibLoaded() && !loader.LoadAVLib("")) ADD_FAILURE() << loader.LastErrMsg();
}

Session::~Session() { media::GetLogger().OnLog = nullptr; }

void Session::Attach(player::TCustomPlayer& p) {
  p.OnState = [this](media::TFFBaseComponent*, player::TPlayState s) {
    std::lock_guard guard(lock_);
    states_.push_back(s);
  };
  p.OnPosition = [this](media::TFFBaseComponent*, int64_t pts) {
    std::lock_guard guard(lock_);
    positions_.push_back(pts);
  };
}

std::vector<player::TPlayState> Session::States() const {
  std::lock_guard guard(lock_);
  return states_;
}

std::vector<int64_t> Session::Positions() const {
  std::lock_guard guard(lock_);
  return positions_;
}

int Session::CountState(player::TPlayState state) const {
  std::lock_guard guard(lock_);
  int n = 0;
  for (auto s : states_) n += s == state;
  return n;
}

bool Session::HasLog(const std::string& text) const {
  std::lock_guard guard(lock_);
  for (const auto& line : logs_)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

std::string Session::Logs() const {
  std::lock_guard guard(lock_);
  std::string all;
  for (const auto& line : logs_) all += line + "\n";
  return all;
}

void Session::SetSoundFile(const std::string& name) {
  soundFile_ = dir.File(name);
  setenv("SDL_DISKAUDIOFILE", soundFile_.c_str(), 1);
}

std::vector<int16_t> Session::Samples() const {
  std::ifstream in(soundFile_, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

}  // namespace playertest
