// The job builder under a hostile profile: any format-file section and any stored values give
// either a documented refusal or a job whose options the engine takes or refuses with a message,
// and whose short run ends on its own.
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "engine/customffmpeg.h"
#include "engine/enginerecords.h"
#include "engine/recordoptions.h"
#include "fuzz/targets/fuzztargets.h"
#include "platform/prompt.h"
#include "profiles/jobbuilder.h"
#include "profiles/settings.h"

namespace fuzz {
namespace {

constexpr int kCode = 2602;
constexpr int kWidth = 320, kHeight = 240;  // the size of the clip VC_FUZZ_CLIP names
const char* const kZooms[] = {"full", "lbox", "pan", "center", ""};

profiles::TJobSource Source(const std::string& bytes) {
  auto byte = [&](size_t i) { return i < bytes.size() ? static_cast<uint8_t>(bytes[i]) : 0; };
  profiles::TJobSource source;
  source.HasVideo = !(byte(0) & 0x80);
  source.Width = kWidth;
  source.Height = kHeight;
  source.Zoom = kZooms[byte(0) % 5];
  // Crop bands as the crop window gives them: even, and leaving some picture.
  source.CropTop = byte(1) % 60 * 2;
  source.CropBottom = byte(2) % 60 * 2;
  source.CropLeft = byte(3) % 80 * 2;
  source.CropRight = byte(4) % 80 * 2;
  source.TrimDuration = byte(5) * 100'000;
  source.VideoBitrate = byte(6) * 10'000;
  return source;
}

}  // namespace

int JobBuilder(const uint8_t* data, size_t size) {
  LoadMediaLibraries();
  const std::vector<std::string> parts = SplitInput(data, size, 3);
  const std::string section = "[" + profiles::FormatInfoSection(kCode) + "]\n";
  const std::string format = WriteWorkFile(profiles::kFormatFileName, section + parts[0]);
  const std::string settings =
      WriteWorkFile(profiles::kSettingsFileName, section + (parts.size() > 1 ? parts[1] : ""));
  const char* clipVariable = std::getenv("VC_FUZZ_CLIP");
  const std::string clip = clipVariable ? clipVariable : "";

  platform::TScriptedPrompt prompt;  // the frame size question is answered "no"
  platform::TPromptScope promptScope(prompt);
  engine::TInputOptions input;
  engine::TOutputOptions output;
  input.FileName = clip;
  output.FileName = WorkDir() + "/job.out";
  try {
    profiles::BuildJobOptions(settings, format, kCode, Source(parts.size() > 2 ? parts[2] : ""),
                              output, input);
  } catch (const std::invalid_argument&) {  // a stored volume that is no number
    return 0;
  } catch (const std::runtime_error&) {  // no video encoder for a source with video
    return 0;
  }

  {
    engine::TCustomFFmpeg task;
    task.ResetState();
    try {
      for (const engine::TOptionStep& step : engine::InputOptionSteps(input)) step.Apply(task);
      if (clip.empty() || !task.OpenInput(clip)) return 0;
      const engine::TOutputOptionSteps steps = engine::OutputOptionSteps(output);
      for (const engine::TOptionStep& step : steps.BeforeAdd) step.Apply(task);
      if (task.AddOutput(output.FileName, false) < 0) return 0;
      for (const engine::TOptionStep& step : steps.NewStreams) step.Apply(task);
    } catch (const engine::FFmpegException&) {
      return 0;
    } catch (const std::invalid_argument&) {
      return 0;
    } catch (const std::exception& e) {
      Fail(std::string("applying a built job threw ") + e.what());
    }
    RunBounded(task, 10, 10);
  }
  std::error_code ignored;
  std::filesystem::remove(output.FileName, ignored);
  return 0;
}

}  // namespace fuzz
