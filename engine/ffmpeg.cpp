#include "engine/ffmpeg.h"

#include <unistd.h>

#include <mutex>
#include <stdexcept>

#include "engine/recordoptions.h"
#include "media/ffutils.h"

namespace engine {

TFFmpeg::~TFFmpeg() {
  // The run must be over before the probes and records go; the core's destructor then finds
  // nothing left to wait for.
  StopRun();
  CloseProbes();
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
  setUp_.AddCall(setUp_.inputs, InputCount() - 1, fileName, options != nullptr);
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
  setUp_.AddCall(setUp_.outputs, slot, fileName, options != nullptr);
  return true;
}

void TFFmpeg::Park() {
  if (parked_ || (InputCount() == 0 && OutputCount() == 0)) return;
  CloseProbes();
  // The files stay as they are: an output just created empty is the task's, and is written
  // when the task runs.
  for (size_t k = 0; k < outputSlots_.size(); ++k) {
    std::string& file = outputSlots_[k]->fileName;
    if (k < setUp_.OutputCalls() && file == setUp_.OutputName(k))
      setUp_.outputs[k].fileMade = true;
    else if (!file.empty())
      setUp_.parkedFiles.push_back(file);
    file.clear();
  }
  ReleaseAll();
  // The option state is made again when the task is set up again.
  ReleaseState();
  parked_ = true;
}

void TFFmpeg::Unpark() {
  if (!parked_) return;
  CloseProbes();
  // The calls with their names, the files made for them listed with the others made.
  struct TCall {
    std::string fileName;
    bool withOptions;
  };
  std::vector<TCall> inputs, outputs;
  for (size_t i = 0; i < setUp_.InputCalls(); ++i)
    inputs.push_back({setUp_.InputName(i), setUp_.inputs[i].withOptions});
  for (size_t i = 0; i < setUp_.OutputCalls(); ++i) {
    outputs.push_back({setUp_.OutputName(i), setUp_.outputs[i].withOptions});
    if (setUp_.outputs[i].fileMade) setUp_.parkedFiles.push_back(outputs.back().fileName);
  }
  setUp_.ClearCalls();
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
    setUp_.RemoveEmptyParkedFiles();  // outputs that will never be written
    throw;
  }
  setUp_.parkedFiles.clear();  // the outputs took them over again
}

TFFmpeg::TSetUp TFFmpeg::TakeSetUp() {
  if (!parked_) throw std::logic_error("Only a parked task gives up its set-up");
  TSetUp setUp = std::move(setUp_);  // leaves this task's set-up empty
  CloseProbes();
  probes_.clear();
  parked_ = false;
  return setUp;
}

void TFFmpeg::RestoreSetUp(TSetUp setUp) {
  setUp_ = std::move(setUp);
  ReleaseState();  // made again when the task is set up again, as for any parked task
  parked_ = true;
}

bool TFFmpeg::WantsCustomHook() const {
  for (const auto& slot : setUp_.outputs)
    if (slot.shared && slot.shared->CustomHook) return true;
  return false;
}

TFFmpeg::TSetUp& TFFmpeg::TSetUp::operator=(TSetUp other) noexcept {
  std::swap(inputs, other.inputs);
  std::swap(outputs, other.outputs);
  std::swap(callNames, other.callNames);
  std::swap(parkedFiles, other.parkedFiles);
  return *this;
}

void TFFmpeg::TSetUp::RemoveEmptyParkedFiles() {
  const auto removeIfEmpty = [](const std::string& file) {
    if (media::GetFileSize(file) == 0) ::unlink(file.c_str());
  };
  for (const std::string& file : parkedFiles) removeIfEmpty(file);
  parkedFiles.clear();
  for (size_t i = 0; i < OutputCalls(); ++i) {
    if (!outputs[i].fileMade) continue;
    removeIfEmpty(OutputName(i));
    outputs[i].fileMade = false;
  }
}

template <typename SlotList>
void TFFmpeg::TSetUp::AddCall(SlotList& list, size_t index, const std::string& fileName,
                              bool withOptions) {
  if (index >= list.size()) list.resize(index + 1);
  auto& slot = list[index];
  slot.called = true;
  slot.withOptions = withOptions;
  slot.callName = -1;
  if (withOptions && slot.fileName == fileName) return;
  slot.callName = static_cast<int8_t>(callNames.size());
  callNames.push_back(fileName);
}

template <typename SlotList>
size_t TFFmpeg::TSetUp::Calls(const SlotList& list) {
  size_t calls = 0;
  while (calls < list.size() && list[calls].called) ++calls;
  return calls;
}

void TFFmpeg::TSetUp::ClearCalls() {
  const auto clear = [](auto& list) {
    for (auto& slot : list) {
      slot.called = slot.withOptions = slot.fileMade = false;
      slot.callName = -1;
    }
  };
  clear(inputs);
  clear(outputs);
  callNames.clear();
}

media::TAVProbe* TFFmpeg::InputProbe(int index) {
  if (index < 0 || index >= MAX_FILES) return nullptr;
  // While the task waits its input is closed: the probe then reads the file on its own.
  const bool parkedInput = parked_ && index < static_cast<int>(setUp_.InputCalls());
  AVFormatContext* input = !parkedInput && index < InputCount() ? Input(index) : nullptr;
  if (!parkedInput && !input) {
    if (index < static_cast<int>(probes_.size()) && probes_[index])
      probes_[index]->CloseFile();  // forget a context that is gone
    return nullptr;
  }
  if (index >= static_cast<int>(probes_.size())) probes_.resize(index + 1);
  std::unique_ptr<media::TAVProbe>& probe = probes_[index];
  if (!probe) probe = std::make_unique<media::TAVProbe>();
  if (parkedInput) {
    if (!probe->FormatContext() &&
        !probe->LoadFile(setUp_.InputName(index), InputOptions(index).FileFormat))
      return nullptr;
  } else if (probe->FormatContext() != input) {
    probe->AttachFormatContext(input);
  }
  return probe.get();
}

namespace {

// Records equal but for their file name, shared between the tasks given them. Only the last
// few distinct records are looked at: the rows of one batch get the same one.
template <typename Record>
std::shared_ptr<const Record> Shared(Record record) {
  static std::mutex lock;
  static std::vector<std::weak_ptr<const Record>> recent;
  constexpr size_t kRecent = 8;
  record.FileName.clear();
  std::lock_guard guard(lock);
  for (auto it = recent.begin(); it != recent.end();) {
    if (std::shared_ptr<const Record> known = it->lock()) {
      if (*known == record) return known;
      ++it;
    } else {
      it = recent.erase(it);
    }
  }
  auto shared = std::make_shared<const Record>(std::move(record));
  if (recent.size() == kRecent) recent.erase(recent.begin());
  recent.push_back(shared);
  return shared;
}

void CheckSlot(int index) {
  if (index < 0 || index >= MAX_FILES)
    throw std::out_of_range("Slot index " + std::to_string(index) + " out of range");
}

// Slot index of a record list that holds only the slots used so far; MAX_FILES slots in all.
template <typename Stored>
Stored& Slot(std::vector<Stored>& records, int index) {
  CheckSlot(index);
  if (index >= static_cast<int>(records.size())) records.resize(index + 1);
  return records[index];
}

template <typename Record, typename Stored>
Record Read(const std::vector<Stored>& records, int index) {
  CheckSlot(index);
  if (index >= static_cast<int>(records.size()) || !records[index].shared) return Record{};
  Record record = *records[index].shared;
  record.FileName = records[index].fileName;
  return record;
}

template <typename Record, typename Stored>
void Store(std::vector<Stored>& records, int index, const Record& record) {
  Stored& slot = Slot(records, index);
  slot.fileName = record.FileName;
  slot.shared = Shared(record);
}

}  // namespace

TInputOptions TFFmpeg::InputOptions(int index) const {
  return Read<TInputOptions>(setUp_.inputs, index);
}

TOutputOptions TFFmpeg::OutputOptions(int index) const {
  return Read<TOutputOptions>(setUp_.outputs, index);
}

void TFFmpeg::StoreInputOptions(int index, const TInputOptions& options) {
  Store(setUp_.inputs, index, options);
}

void TFFmpeg::StoreOutputOptions(int index, const TOutputOptions& options) {
  Store(setUp_.outputs, index, options);
}

void TFFmpeg::ResetOutputOptions(int index) {
  auto& slot = Slot(setUp_.outputs, index);
  slot.fileName.clear();
  slot.shared.reset();
}

}  // namespace engine
