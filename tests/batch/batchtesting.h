// Shared parts of the batch tests: a settings folder with one output profile, the engine, the
// file list and the controller wired to a view that records what it is shown, a desktop that
// records instead of opening folders or powering off, and decoded frames with their PSNR.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "batch/batchcontroller.h"
#include "batch/filelist.h"
#include "engine/zuzezaviv.h"
#include "platform/desktop.h"
#include "platform/prompt.h"
#include "platform/sleepinhibitor.h"
#include "tests/support/testdirs.h"

namespace batchtest {

// Profile values stored for profile 1 (an MPEG-4 file in an MP4 container).
using Para = std::map<std::string, std::string>;
Para DefaultPara();  // mpeg4 320x240 25 fps 1500 kbit/s, "full", aac 44100 Hz stereo

struct TViewEvent {
  std::string kind;  // "show", "close", "buttons", "ended", "progress"
  int row = -1;
  std::string text;  // outcome or message
};

class TRecordingView : public batch::IBatchView {
 public:
  bool openFolder = true;
  bool shutDown = false;
  std::vector<TViewEvent> events;
  std::vector<batch::TProgressValues> progress;
  std::map<int, batch::TRowOutcome> outcomes;
  std::map<int, std::string> messages;
  bool buttonsEnabled = true;
  // Called at every progress report, after it has been recorded.
  std::function<void(const batch::TProgressValues&)> onProgress;

  void ShowProgressWindow() override { events.push_back({"show", -1, ""}); }
  void CloseProgressWindow() override { events.push_back({"close", -1, ""}); }
  void SetMainButtonsEnabled(bool enabled) override {
    buttonsEnabled = enabled;
    events.push_back({"buttons", -1, enabled ? "on" : "off"});
  }
  void ShowProgress(const batch::TProgressValues& values) override;
  void RowEnded(int row, batch::TRowOutcome outcome, const std::string& message) override;
  bool OpenFolderAfterConversion() override { return openFolder; }
  bool ShutDownAfterConversion() override { return shutDown; }
  // Kinds of the events in order, e.g. "show close"; progress left out.
  std::string Sequence() const;
};

const char* OutcomeName(batch::TRowOutcome outcome);

// Records the post-actions; installed for the lifetime of the object.
class TRecordingDesktop : public platform::IDesktop {
 public:
  struct TCall {
    std::string what;  // "open" or "shutdown"
    std::string path;
  };
  std::vector<TCall>* calls;
  explicit TRecordingDesktop(std::vector<TCall>* out) : calls(out) {}
  bool OpenDefault(const std::string& path) override {
    calls->push_back({"open", path});
    return true;
  }
  bool ShutDown() override {
    calls->push_back({"shutdown", ""});
    return true;
  }
};

// Records what the batch asks of the sleep lock ("acquire <reason>", "release") instead of
// asking the system; refuses every hold when `refuse` is set.
class TRecordingInhibitor : public platform::ISleepInhibitor {
 public:
  std::vector<std::string>* calls;
  bool refuse = false;
  explicit TRecordingInhibitor(std::vector<std::string>* out) : calls(out) {}
  bool Acquire(const std::string& reason, std::string& error) override {
    calls->push_back("acquire " + reason);
    if (refuse) error = "no login manager here";
    return !refuse;
  }
  void Release() override { calls->push_back("release"); }
};

// A temporary settings folder, output folder and the parts of a batch. The engine may be a
// subclass that watches its callbacks.
struct TBatchRig {
  explicit TBatchRig(const Para& para = DefaultPara(),
                     std::unique_ptr<engine::TCustomZUzezaVIV> engine = nullptr);
  ~TBatchRig();

  testsupport::TempDir dir;
  std::string settingsFile, formatFile, outDir;
  std::unique_ptr<engine::TCustomZUzezaVIV> engine;
  std::unique_ptr<batch::TFileList> list;
  TRecordingView view;
  std::unique_ptr<batch::TBatchController> controller;
  platform::TScriptedPrompt prompt;
  std::vector<TRecordingDesktop::TCall> desktopCalls;
  std::vector<std::string> inhibitorCalls;
  TRecordingInhibitor* inhibitor = nullptr;  // installed for the rig's lifetime

  // Copies a fixture into the rig's folder under a new name and returns the copy's path.
  std::string CopyFixture(const std::string& fixture, const std::string& name);
  // Start and wait (serving the hand-off) until the batch has ended; false on a timeout.
  bool RunBatch(int maxRunning = 1);
  // Files in the output folder, sorted by name.
  std::vector<std::string> Outputs() const;

 private:
  std::unique_ptr<platform::TPromptScope> promptScope_;
  std::unique_ptr<platform::IDesktop> previousDesktop_;
  std::unique_ptr<platform::ISleepInhibitor> previousInhibitor_;
};

// Frame `index` of a file's first video stream as stored (a display rotation is not applied)
// after the ffmpeg tool's filter chain `chain` ("" = none), as packed RGB24 bytes of width x
// height; empty when the tool failed or the picture has another size.
std::vector<uint8_t> DecodeFrame(const std::string& file, const std::string& chain, int index,
                                 int width, int height);
// PSNR in dB of two pictures of the same size (bytes compared one by one); 99 when equal.
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace batchtest
