// A short conversion of a hostile media file, the way a batch converts a downloaded file: open,
// a small output of a video profile or a sound-only one, then the run, bounded in packets and time.
// Whatever the file holds, the set-up either fails with a message or the run ends on its own.
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "engine/customffmpeg.h"
#include "fuzz/targets/fuzztargets.h"

namespace fuzz {

void RunBounded(engine::TCustomFFmpeg& task, int maxPackets, int seconds) {
  int packets = 0;
  task.SetProgressInterval(0);  // a report after every packet: the packet count
  task.ProgressCallback = [&](engine::TCustomFFmpeg* t, int, int, int, float, float, int64_t,
                              int64_t, int64_t) {
    if (++packets == maxPackets) t->Stop(false);
  };
  std::mutex lock;
  std::condition_variable wake;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock guard(lock);
    if (!wake.wait_for(guard, std::chrono::seconds(seconds), [&] { return done; }))
      task.Stop(false);
  });
  task.Start(false, platform::TThreadPriority::Normal);
  {
    std::lock_guard guard(lock);
    done = true;
  }
  wake.notify_all();
  watchdog.join();
  task.ProgressCallback = nullptr;
}

namespace {

using TOptions = std::vector<std::pair<std::string, std::string>>;

// A small MP4 of the kind the device profiles write, and a sound-only file.
const TOptions kVideoOutput = {{"f", "mp4"},   {"vcodec", "mpeg4"}, {"s", "64x48"},
                               {"r", "10"},    {"acodec", "aac"},   {"ac", "1"},
                               {"ar", "22050"}, {"t", "1"}};
const TOptions kAudioOutput = {{"f", "mp3"}, {"acodec", "libmp3lame"}, {"vn", "1"},
                               {"ac", "1"},  {"ar", "22050"},          {"t", "1"}};

}  // namespace

int Transcode(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  LoadMediaLibraries();
  const bool audioOnly = data[0] & 1;
  const std::string input =
      WriteWorkFile("source.media", std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  const std::string output = WorkDir() + (audioOnly ? "/output.mp3" : "/output.mp4");
  {
    engine::TCustomFFmpeg task;
    task.ResetState();
    if (task.OpenInput(input)) {
      try {
        for (const auto& [name, value] : audioOnly ? kAudioOutput : kVideoOutput)
          task.SetOption(name, value);
      } catch (const std::exception& e) {
        Fail(std::string("a fixed output option was refused: ") + e.what());
      }
      if (task.AddOutput(output, false) >= 0) RunBounded(task, 200, 10);
    }
  }
  std::error_code ignored;
  std::filesystem::remove(output, ignored);
  return 0;
}

}  // namespace fuzz
