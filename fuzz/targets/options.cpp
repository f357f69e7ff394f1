// The option dispatcher under hostile names and values: every option line goes into a fresh task's
// option state; a refused option must be an FFmpegException (or std::invalid_argument for a
// malformed number, as SetOption promises), never a fault or another exception.
#include <stdexcept>

#include "engine/customffmpeg.h"
#include "fuzz/targets/fuzztargets.h"
#include "engine/enginerecords.h"
#include "media/fflogger.h"

namespace fuzz {

namespace {
constexpr size_t kMaxOptions = 64;
}

int Options(const uint8_t* data, size_t size) {
  LoadMediaLibraries();
  const std::string text(reinterpret_cast<const char*>(data), size);
  engine::TCustomFFmpeg task;
  task.ResetState();
  size_t begin = 0, count = 0;
  while (begin < text.size() && count++ < kMaxOptions) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    const size_t space = line.find(' ');
    const std::string name = line.substr(0, space);
    const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
    try {
      task.SetOption(name, value);
    } catch (const engine::FFmpegException&) {
    } catch (const std::invalid_argument&) {
    } catch (const std::exception& e) {
      Fail("option -" + name + " '" + value + "' threw " + e.what());
    }
  }
  media::GetLogger().SetLogLevel(media::llQuiet);  // "loglevel" may have raised it
  return 0;
}

}  // namespace fuzz
