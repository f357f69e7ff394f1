#include "engine/ffmpeg.h"

#include <unistd.h>

#include <stdexcept>

#include "engine/recordoptions.h"
#include "media/ffutils.h"

namespace engine {

TFFmpeg::~TFFmpeg() {
  // The run must be over before the probes and records go; the core's destructor then finds
  // nothing left to wait for.
  StopRun();
  CloseProbes();
  RemoveEmptyParkedFiles();
}

void TFFmpeg::CloseProbes() {
  for (auto& probe : probes_)
    if (probe) probe->CloseFile();
}

bool TFFmpeg::SetUpInput(const std::string& fileName, const TInputOptions* options) {
  if (options) {
    TInputOptions copy = *options;
    if (copy.FileName.empty()) copy.FileName = fileName;
    StoreInputOptions(InputCount(), copy);
    for (const TOptionStep& step : InputOptionSteps(copy)) step.Apply(*this);
  }
  if (!OpenInput(fileName)) return false;
  inputCalls_.push_back({fileName, options != nullptr});
  InputProbe(InputCount() - 1);  // bound now, while the input is fresh
  return true;
}

bool TFFmpeg::SetUpOutput(const std::string& fileName, const TOutputOptions* options) {
  const int slot = OutputCount();
  bool join = false;
  TOutputOptionSteps steps;
  if (options) {
    TOutputOptions copy = *options;
    if (copy.FileName.empty()) copy.FileName = fileName;
    StoreOutputOptions(slot, copy);
    steps = OutputOptionSteps(copy);
    for (const TOptionStep& step : steps.BeforeAdd) step.Apply(*this);
    join = copy.Join;
  } else {
    ResetOutputOptions(slot);
  }
  if (AddOutput(fileName, join) < 0) {
    ResetOutputOptions(slot);
    return false;
  }
  for (const TOptionStep& step : steps.NewStreams) step.Apply(*this);
  outputCalls_.push_back({fileName, options != nullptr});
  return true;
}

void TFFmpeg::Park() {
  if (parked_ || (InputCount() == 0 && OutputCount() == 0)) return;
  CloseProbes();
  // The files stay as they are: an output just created empty is the task's, and is written
  // when the task runs.
  for (const auto& slot : outputSlots_) {
    if (!slot->fileName.empty()) parkedFiles_.push_back(slot->fileName);
    slot->fileName.clear();
  }
  ReleaseAll();
  // The option state is made again when the task is set up again.
  ReleaseState();
  parked_ = true;
}

void TFFmpeg::Unpark() {
  if (!parked_) return;
  CloseProbes();
  const std::vector<TSetUpCall> inputs = std::move(inputCalls_);
  const std::vector<TSetUpCall> outputs = std::move(outputCalls_);
  inputCalls_.clear();
  outputCalls_.clear();
  const int verbose = Verbose();
  ResetState();
  SetVerbose(verbose);
  parked_ = false;
  // Each call as it was first made, with its stored record: the same option state, the same
  // messages when something has changed since (the source deleted or replaced meanwhile).
  try {
    for (size_t i = 0; i < inputs.size(); ++i) {
      const TInputOptions options = InputOptions(static_cast<int>(i));
      if (!SetUpInput(inputs[i].fileName, inputs[i].withOptions ? &options : nullptr))
        throw FFmpegException(LastErrMsg);
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
      const TOutputOptions options = OutputOptions(static_cast<int>(i));
      if (!SetUpOutput(outputs[i].fileName, outputs[i].withOptions ? &options : nullptr))
        throw FFmpegException(LastErrMsg);
    }
  } catch (...) {
    RemoveEmptyParkedFiles();  // outputs that will never be written
    throw;
  }
  parkedFiles_.clear();  // the outputs took them over again
}

void TFFmpeg::RemoveEmptyParkedFiles() {
  for (const std::string& file : parkedFiles_)
    if (media::GetFileSize(file) == 0) ::unlink(file.c_str());
  parkedFiles_.clear();
}

media::TAVProbe* TFFmpeg::InputProbe(int index) {
  if (index < 0 || index >= MAX_FILES) return nullptr;
  std::unique_ptr<media::TAVProbe>& probe = probes_[index];
  if (parked_ && index < static_cast<int>(inputCalls_.size())) {
    // The input is closed while the task waits: the probe reads the file on its own.
    if (!probe) probe = std::make_unique<media::TAVProbe>();
    if (!probe->FormatContext() &&
        !probe->LoadFile(inputCalls_[index].fileName, InputOptions(index).FileFormat))
      return nullptr;
    return probe.get();
  }
  AVFormatContext* input = index < InputCount() ? Input(index) : nullptr;
  if (!input) {
    if (probe) probe->CloseFile();  // forget a context that is gone
    return nullptr;
  }
  if (!probe) probe = std::make_unique<media::TAVProbe>();
  if (probe->FormatContext() != input) probe->AttachFormatContext(input);
  return probe.get();
}

namespace {

// Slot index of a record list that holds only the slots used so far; MAX_FILES slots in all.
template <typename Record>
Record& Slot(std::vector<Record>& records, int index) {
  if (index < 0 || index >= MAX_FILES)
    throw std::out_of_range("Slot index " + std::to_string(index) + " out of range");
  if (index >= static_cast<int>(records.size())) records.resize(index + 1);
  return records[index];
}

template <typename Record>
const Record& SlotOrDefault(const std::vector<Record>& records, int index) {
  static const Record defaults{};
  if (index < 0 || index >= MAX_FILES)
    throw std::out_of_range("Slot index " + std::to_string(index) + " out of range");
  return index < static_cast<int>(records.size()) ? records[index] : defaults;
}

}  // namespace

const TInputOptions& TFFmpeg::InputOptions(int index) const {
  return SlotOrDefault(inputOptions_, index);
}

const TOutputOptions& TFFmpeg::OutputOptions(int index) const {
  return SlotOrDefault(outputOptions_, index);
}

void TFFmpeg::StoreInputOptions(int index, const TInputOptions& options) {
  Slot(inputOptions_, index) = options;
}

void TFFmpeg::StoreOutputOptions(int index, const TOutputOptions& options) {
  Slot(outputOptions_, index) = options;
}

void TFFmpeg::ResetOutputOptions(int index) { InitOutputOptions(Slot(outputOptions_, index)); }

}  // namespace engine
