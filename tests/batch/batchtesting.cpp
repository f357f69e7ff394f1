#include "tests/batch/batchtesting.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "platform/mainthread.h"
#include "profiles/settings.h"
#include "tests/support/ffprobe.h"

namespace batchtest {

namespace fs = std::filesystem;

Para DefaultPara() {
  return {{"paraVideoEncoder", "mpeg4"}, {"paraVideoSize", "320x240"},
          {"paraVideoBitRate", "1500"},  {"paraFrameRate", "25"},
          {"parazoom", "full"},          {"paraAudioEncoder", "libfaac"},
          {"paraChannel", "2"},          {"paraSampleRate", "44100"},
          {"paraAudioBitRate", "96"},    {"paraVolume", "256"}};
}

void TRecordingView::ShowProgress(const batch::TProgressValues& values) {
  progress.push_back(values);
  if (onProgress) onProgress(values);
}

void TRecordingView::RowEnded(int row, batch::TRowOutcome outcome, const std::string& message) {
  outcomes[row] = outcome;
  messages[row] = message;
  events.push_back({"ended", row, OutcomeName(outcome)});
}

std::string TRecordingView::Sequence() const {
  std::string text;
  for (const TViewEvent& e : events) {
    if (!text.empty()) text += ' ';
    text += e.kind;
    if (e.kind == "ended") text += "(" + std::to_string(e.row) + " " + e.text + ")";
    if (e.kind == "buttons") text += "(" + e.text + ")";
  }
  return text;
}

const char* OutcomeName(batch::TRowOutcome outcome) {
  switch (outcome) {
    case batch::TRowOutcome::Finished: return "finished";
    case batch::TRowOutcome::Failed: return "failed";
    case batch::TRowOutcome::Stopped: return "stopped";
    case batch::TRowOutcome::Skipped: return "skipped";
  }
  return "?";
}

TBatchRig::TBatchRig(const Para& para, std::unique_ptr<engine::TCustomZUzezaVIV> withEngine)
    : engine(std::move(withEngine)) {
  platform::SetMainThread();
  settingsFile = dir.File(profiles::kSettingsFileName);
  formatFile = dir.File(profiles::kFormatFileName);
  outDir = dir.File("out");
  testsupport::WriteText(formatFile, "[formatInfo1]\nFormat=mp4\nFileExt=mp4\n");
  std::string text = "[settings]\nOutPutDir=" + outDir + "\nFormatCode=1\n[formatInfo1]\n";
  for (const auto& [key, value] : para) text += key + "=" + value + "\n";
  testsupport::WriteText(settingsFile, text);
  if (!engine) engine = std::make_unique<engine::TZUzezaVIV>();
  list = std::make_unique<batch::TFileList>(*engine, settingsFile, formatFile);
  controller =
      std::make_unique<batch::TBatchController>(*engine, *list, view, settingsFile, formatFile);
  promptScope_ = std::make_unique<platform::TPromptScope>(prompt);
  previousDesktop_ = platform::SetDesktop(std::make_unique<TRecordingDesktop>(&desktopCalls));
  auto recording = std::make_unique<TRecordingInhibitor>(&inhibitorCalls);
  inhibitor = recording.get();
  previousInhibitor_ = platform::SetSleepInhibitor(std::move(recording));
}

TBatchRig::~TBatchRig() {
  controller.reset();
  platform::SetDesktop(std::move(previousDesktop_));
  platform::SetSleepInhibitor(std::move(previousInhibitor_));
}

std::string TBatchRig::CopyFixture(const std::string& fixture, const std::string& name) {
  const std::string path = dir.File(name);
  fs::create_directories(fs::path(path).parent_path());
  fs::copy_file(testsupport::Fixture(fixture), path, fs::copy_options::overwrite_existing);
  return path;
}

bool TBatchRig::RunBatch(int maxRunning) {
  if (!controller->Start(maxRunning)) return false;
  return platform::WaitServing([this] { return !controller->Running(); },
                               std::chrono::seconds(120));
}

std::vector<std::string> TBatchRig::Outputs() const {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(outDir, error))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<uint8_t> DecodeFrame(const std::string& file, const std::string& chain, int index,
                                 int width, int height) {
  std::string filters = chain.empty() ? "" : chain + ",";
  filters += "select=eq(n\\," + std::to_string(index) + ")";
  std::string bytes;
  const int status = testsupport::RunTool(
      {"ffmpeg", "-nostdin", "-v", "error", "-noautorotate", "-i", file, "-vf", filters,
       "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"},
      &bytes, nullptr);
  if (status != 0 || bytes.size() != static_cast<size_t>(width) * height * 3) return {};
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0.0;
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = double(a[i]) - double(b[i]);
    sum += d * d;
  }
  if (sum == 0.0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 / (sum / a.size()));
}

}  // namespace batchtest
