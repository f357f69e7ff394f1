// The preview player's figures on one clip, in a 368x207 view on the desktop (or a virtual X
// server): pictures shown against pictures decoded, the offset between the video clock and the
// audio clock at each shown picture, and the time from a paused seek to the new picture on the
// view. Reports only.
//   player_bench play FILE     play to the end, then print the picture counts and clock offsets
//   player_bench seek FILE     paused seeks to 12 places, then print the latencies
#include <QApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mainthread.h"
#include "player/customplayer.h"
#include "player/view/playerview.h"

namespace {

using Clock = std::chrono::steady_clock;

// The view, also noting the clock offset and the time of each picture it is given.
class MeasuringView : public playerview::TPlayerView {
 public:
  player::TCustomPlayer* player = nullptr;
  std::mutex lock;  // protects offsets, lastPts, lastTime
  std::vector<double> offsets;
  int64_t lastPts = -1;
  Clock::time_point lastTime;
  std::atomic<int> presented{0};

  void Present(const player::TSurfacePicture& picture, const player::TRect& target) override {
    const double video = player->VideoClock();
    const double audio = player->AudioClock();
    TPlayerView::Present(picture, target);
    std::lock_guard guard(lock);
    if (!std::isnan(video) && !std::isnan(audio)) offsets.push_back(video - audio);
    lastPts = picture.pts;
    lastTime = Clock::now();
    ++presented;
  }
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(std::ceil(p * v.size())) - 1);
  return v[i];
}

bool Wait(const std::function<bool()>& done, int seconds) {
  return platform::WaitServing(done, std::chrono::seconds(seconds));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::string(argv[1]) != "play" && std::string(argv[1]) != "seek")) {
    std::fprintf(stderr, "usage: player_bench play|seek FILE\n");
    return 2;
  }
  const std::string mode = argv[1], file = argv[2];
  QApplication app(argc, argv);
  platform::SetMainThread();
  platform::SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
  platform::SetWakeMainThread([] {
    QMetaObject::invokeMethod(qApp, [] { platform::CheckSynchronize(); }, Qt::QueuedConnection);
  });

  player::TVIVudero p;
  if (!p.AVLibLoaded() && !p.LoadAVLib("")) {
    std::fprintf(stderr, "%s\n", p.LastErrMsg().c_str());
    return 3;
  }
  MeasuringView view;
  view.player = &p;
  view.resize(368, 207);
  view.show();
  Wait([] { return false; }, 0);
  std::atomic<int> ends{0};
  p.OnState = [&](media::TFFBaseComponent*, player::TPlayState s) { ends += s == player::psEnd; };
  p.OnFileOpen = [&](media::TFFBaseComponent*, int64_t, int, int, int& w, int& h) {
    w = view.width();
    h = view.height();
  };

  if (mode == "play") {
    if (!p.Open(file, &view, false)) {
      std::fprintf(stderr, "%s\n", p.LastErrMsg().c_str());
      return 1;
    }
    if (!Wait([&] { return ends > 0; }, 60)) std::fprintf(stderr, "no end within 60 s\n");
    Wait([] { return false; }, 0);
    platform::WaitServing([] { return false; }, std::chrono::milliseconds(300));
    const int64_t decoded = p.PicturesDecoded(), shown = p.PicturesShown();
    p.Stop(true);
    std::vector<double> offsets;
    {
      std::lock_guard guard(view.lock);
      offsets = view.offsets;
    }
    std::vector<double> magnitudes;
    double mean = 0;
    for (double o : offsets) {
      magnitudes.push_back(std::fabs(o) * 1000);
      mean += o * 1000 / std::max<size_t>(1, offsets.size());
    }
    std::printf("pictures decoded %lld shown %lld dropped %.2f%%\n", (long long)decoded,
                (long long)shown, decoded ? 100.0 * (decoded - shown) / decoded : 0.0);
    std::printf("clock offset video-audio over %zu pictures: |offset| p50 %.1f ms, p95 %.1f ms, "
                "max %.1f ms; mean %+.1f ms\n",
                offsets.size(), Percentile(magnitudes, 0.5), Percentile(magnitudes, 0.95),
                Percentile(magnitudes, 1.0), mean);
    return 0;
  }

  if (!p.Open(file, &view, true)) {
    std::fprintf(stderr, "%s\n", p.LastErrMsg().c_str());
    return 1;
  }
  Wait([&] { return view.presented > 0; }, 10);
  std::vector<double> latencies;
  const int64_t targets[] = {6000000, 2000000, 8000000, 4000000, 0, 9000000,
                             1000000, 7000000, 3000000, 5000000, 8500000, 500000};
  for (int64_t target : targets) {
    const int before = view.presented;
    const Clock::time_point start = Clock::now();
    p.Seek(0, false, target);
    if (!Wait([&] { return view.presented > before; }, 10)) {
      std::fprintf(stderr, "no picture after the seek to %lld\n", (long long)target);
      continue;
    }
    Clock::time_point shownAt;
    {
      std::lock_guard guard(view.lock);
      shownAt = view.lastTime;
    }
    latencies.push_back(std::chrono::duration<double, std::milli>(shownAt - start).count());
    platform::WaitServing([] { return false; }, std::chrono::milliseconds(200));
  }
  p.Stop(true);
  std::printf("paused seek to the new picture over %zu seeks: median %.1f ms, max %.1f ms\n",
              latencies.size(), Percentile(latencies, 0.5), Percentile(latencies, 1.0));
  return 0;
}
