// engine_run: runs one transcoding task of the engine in the calling thread, driven by a command
// line in the tool style the speed comparison (run_bench.sh) uses on both sides:
//   engine_run [-v N] [input options] -i INPUT [output options] OUTPUT
// Every "-name value" pair goes to TCustomFFmpeg::SetOption in the order given; the options
// before -i shape the input, the ones after it the output. No window, no worker thread.
// Exit status: 0 the task finished, 1 the input, output or run failed, 2 bad command line or an
// option the engine refused, 3 the media libraries could not be loaded.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <iterator>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/customffmpeg.h"
#include "media/ffloader.h"
#include "media/fflogger.h"
#include "platform/paths.h"
#include "platform/threadpriority.h"

namespace {

using TOptionList = std::vector<std::pair<std::string, std::string>>;

// Options written without a value on a tool-style command line: those the dispatcher ignores the
// value of, and its Boolean switches (any value but "0" switches them on). The engine exposes no
// list of which options take a value, so the few that do not are named here; every other option
// takes the next argument as its value.
constexpr std::string_view kSwitches[] = {
    "L",       "h",       "version",  "formats",     "codecs",   "bsfs",        "protocols",
    "filters", "y",       "benchmark", "copyts",     "xerror",   "vstats",      "newvideo",
    "newaudio", "newsubtitle", "dump", "hex",        "re",       "loop_input",  "shortest",
    "intra",   "vn",      "an",       "sn",          "sameq",    "deinterlace", "psnr",
    "qphist",  "force_fps", "isync",
};

bool IsSwitch(std::string_view name) {
  return std::find(std::begin(kSwitches), std::end(kSwitches), name) != std::end(kSwitches);
}

struct TCommandLine {
  TOptionList inputOptions;
  std::string input;
  TOptionList outputOptions;
  std::string output;
};

void PrintUsage() {
  std::fprintf(stderr,
               "usage: engine_run [-v N] [input options] -i INPUT [output options] OUTPUT\n"
               "  options are -name value pairs of the engine's option vocabulary\n"
               "  (vcodec, acodec, s, r, ar, ac, ab, b, vb, f, t, ss, threads, ...);\n"
               "  switches such as -vn, -an, -y take no value\n");
}

// Splits the arguments into input options, the input, output options and the output (the last
// argument). False with a message on stderr when the line does not have that shape.
bool ParseCommandLine(int argc, char** argv, TCommandLine& line) {
  bool haveInput = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i == argc - 1 && haveInput && (arg.size() < 2 || arg[0] != '-')) {
      line.output = arg;
      return true;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      std::fprintf(stderr, "engine_run: unexpected argument '%s'\n", arg.c_str());
      return false;
    }
    const std::string name = arg.substr(1);
    if (name == "i") {
      if (haveInput) {
        std::fprintf(stderr, "engine_run: only one input is supported\n");
        return false;
      }
      if (i + 1 >= argc) {
        std::fprintf(stderr, "engine_run: -i needs a file name\n");
        return false;
      }
      line.input = argv[++i];
      haveInput = true;
      continue;
    }
    TOptionList& options = haveInput ? line.outputOptions : line.inputOptions;
    if (IsSwitch(name)) {
      options.emplace_back(name, "1");
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "engine_run: option -%s needs a value\n", name.c_str());
      return false;
    }
    options.emplace_back(name, argv[++i]);
  }
  std::fprintf(stderr, haveInput ? "engine_run: no output file given\n"
                                 : "engine_run: no input file given (-i INPUT)\n");
  return false;
}

// Applies the options in order; false with a message on stderr at the first one refused.
bool ApplyOptions(engine::TCustomFFmpeg& task, const TOptionList& options) {
  for (const auto& [name, value] : options) {
    try {
      task.SetOption(name, value);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "engine_run: option -%s %s: %s\n", name.c_str(), value.c_str(),
                   e.what());
      return false;
    }
  }
  return true;
}

// Log lines go straight to stderr from whichever thread logs: there is no user-interface thread
// here to hand them to, and codec threads log while the task runs in this thread.
void LogToStderr() {
  static std::mutex lock;  // keeps lines from different threads whole
  media::TFFLogger& logger = media::GetLogger();
  logger.TriggerEventInMainThread = false;
  logger.OnLog = [](media::TFFBaseComponent*, uint32_t, media::TLogLevel, const std::string& msg) {
    std::lock_guard guard(lock);
    std::fprintf(stderr, "%s\n", msg.c_str());
  };
}

}  // namespace

int main(int argc, char** argv) {
  TCommandLine line;
  if (!ParseCommandLine(argc, argv, line)) {
    PrintUsage();
    return 2;
  }

  LogToStderr();
  media::TFFmpegLoader& loader = media::FFLoader();
  // The same search as the program's: a LibAV folder beside the executable, then the system.
  loader.LibraryPath = platform::ExecutableFolder() + "/LibAV";
  if (!loader.Load(media::EngineLibraries)) {
    std::fprintf(stderr, "engine_run: %s\n", loader.LastErrMsg().c_str());
    return 3;
  }

  engine::TCustomFFmpeg task;
  try {
    task.ResetState();
    if (!ApplyOptions(task, line.inputOptions)) return 2;
    if (!task.OpenInput(line.input)) {
      std::fprintf(stderr, "engine_run: %s\n", task.LastErrMsg.c_str());
      return 1;
    }
    if (!ApplyOptions(task, line.outputOptions)) return 2;
    if (task.AddOutput(line.output, false) < 0) {
      std::fprintf(stderr, "engine_run: %s\n", task.LastErrMsg.c_str());
      return 1;
    }
  } catch (const std::exception& e) {  // set-up failures the calls raise instead of reporting
    std::fprintf(stderr, "engine_run: %s\n", e.what());
    return 1;
  }

  task.Start(false, platform::TThreadPriority::Normal);
  if (task.Finished() && !task.Failed()) return 0;
  const std::string message = task.ErrorMessage();
  std::fprintf(stderr, "engine_run: %s\n",
               message.empty() ? "the task ended before it finished" : message.c_str());
  return 1;
}
