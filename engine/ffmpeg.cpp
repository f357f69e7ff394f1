#include "engine/ffmpeg.h"

namespace engine {

TFFmpeg::~TFFmpeg() {
  // The run must be over before the probes and records go; the core's destructor then finds
  // nothing left to wait for.
  StopRun();
  for (auto& probe : probes_)
    if (probe) probe->CloseFile();
}

media::TAVProbe* TFFmpeg::InputProbe(int index) {
  if (index < 0 || index >= MAX_FILES) return nullptr;
  std::unique_ptr<media::TAVProbe>& probe = probes_[index];
  AVFormatContext* input = index < InputCount() ? Input(index) : nullptr;
  if (!input) {
    if (probe) probe->CloseFile();  // forget a context that is gone
    return nullptr;
  }
  if (!probe) probe = std::make_unique<media::TAVProbe>();
  if (probe->FormatContext() != input) probe->AttachFormatContext(input);
  return probe.get();
}

void TFFmpeg::StoreInputOptions(int index, const TInputOptions& options) {
  inputOptions_.at(index) = options;
}

void TFFmpeg::StoreOutputOptions(int index, const TOutputOptions& options) {
  outputOptions_.at(index) = options;
}

void TFFmpeg::ResetOutputOptions(int index) { InitOutputOptions(outputOptions_.at(index)); }

}  // namespace engine
