// TFFmpeg: the task the engine component creates. Besides the task core it keeps, per input, a
// probe bound to the opened input (created on demand, never owning the input) and the input's
// option record, and per output the output's option record, for as long as the task lives (the
// records' contents shared with other tasks given equal ones, file names apart). A task waiting in
// a long list can be parked: it lets go of its open files and everything built on them, keeping
// how they were set up, and sets them up again when it runs, so that what a list of waiting tasks
// costs does not grow with the files it names. A parked task can also give up its set-up
// (TakeSetUp) and be made again from it later (RestoreSetUp): the component keeps a long list's
// waiting tasks as their set-ups alone.
// Used on the user-interface thread while the task does not run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/customffmpeg.h"
#include "engine/enginerecords.h"
#include "media/avprobe.h"

namespace engine {

class TFFmpeg : public TCustomFFmpeg {
 public:
  TFFmpeg() = default;
  ~TFFmpeg() override;

  // Applies an input's option record (when given; its file name defaults to fileName) and opens
  // the input. False with LastErrMsg; option errors throw as the option steps do.
  bool SetUpInput(const std::string& fileName, const TInputOptions* options);
  // Applies an output's option record (when given) and adds the output with its extra streams.
  // False with LastErrMsg; option errors throw.
  bool SetUpOutput(const std::string& fileName, const TOutputOptions* options);
  // Lets go of the inputs and outputs (output files stay on disk as they are) and of their
  // probes, keeping the set-up calls to make again when the task runs. Nothing for a task that
  // is parked already or has nothing open.
  void Park();
  bool Parked() const { return parked_; }
  // Sets a parked task up again (nothing for one that is not parked): its inputs and outputs as
  // they were set up first, each with its stored record. Throws FFmpegException with the set-up
  // failure when a file changed since (deleted, replaced, no longer writable).
  void Unpark();

  // The probe of input index: attached to the opened input on first use (and again should the
  // input have changed); for a parked task, a probe that opened the input's file itself. nullptr
  // when the task has no such input, for instance once a run has released its inputs; a probe
  // handed out before then is left with no file.
  media::TAVProbe* InputProbe(int index);

  // The stored copies of the records given for input and output slot index (0 .. MAX_FILES-1;
  // a slot given no record reads as the record's defaults). Out-of-range indexes throw
  // std::out_of_range.
  TInputOptions InputOptions(int index) const;
  TOutputOptions OutputOptions(int index) const;
  void StoreInputOptions(int index, const TInputOptions& options);
  void StoreOutputOptions(int index, const TOutputOptions& options);
  // Back to the record's defaults.
  void ResetOutputOptions(int index);

  // How a task was set up: its set-up calls with their stored records, and the output files it
  // made that are still to be written. Moved, never copied. A set-up freed without being restored
  // deletes those files if they are still empty, as a task cleared unrun does.
  class TSetUp {
   public:
    TSetUp() = default;
    TSetUp(TSetUp&&) = default;
    // The set-up assigned over goes as a freed one does.
    TSetUp& operator=(TSetUp other) noexcept;
    ~TSetUp() { RemoveEmptyParkedFiles(); }
    void RemoveEmptyParkedFiles();

   private:
    friend class TFFmpeg;
    // An input or output slot: the record stored for it, and the set-up call made for it. The
    // record keeps its file name; the rest is shared with every task given an equal one (the
    // rows of a batch get the same profile options), so that a long list of waiting tasks holds
    // one copy of it. A slot given no record has no shared part and reads as the defaults. The
    // calls fill the slots in order: call i is slot i's.
    template <typename Record>
    struct TSlot {
      std::string fileName;                  // the stored record's file name
      std::shared_ptr<const Record> shared;  // the rest of the record; none: the defaults
      bool called = false;                   // the slot's set-up call was made
      bool withOptions = false;              // with the slot's stored record
      bool fileMade = false;                 // an output file made while parked, the call's name
      // The call's file name in callNames when it is not the record's (a call without a record,
      // or one named otherwise): a long list holds each of its file names once.
      int8_t callName = -1;
    };
    // Only the slots used so far: a waiting task is small.
    std::vector<TSlot<TInputOptions>> inputs;
    std::vector<TSlot<TOutputOptions>> outputs;
    std::vector<std::string> callNames;
    // The output files a parked task created other than those its calls name (fileMade): still
    // empty when the task goes without running, they are deleted, as a released output that
    // stayed empty is.
    std::vector<std::string> parkedFiles;

    // Records call `index` into its slot, whose record (if given) is stored already.
    template <typename SlotList>
    void AddCall(SlotList& list, size_t index, const std::string& fileName, bool withOptions);
    // The calls made so far, and call index's file name.
    template <typename SlotList>
    static size_t Calls(const SlotList& list);
    template <typename SlotList>
    const std::string& Name(const SlotList& list, size_t index) const {
      const auto& slot = list[index];
      return slot.callName >= 0 ? callNames[slot.callName] : slot.fileName;
    }
    size_t InputCalls() const { return Calls(inputs); }
    size_t OutputCalls() const { return Calls(outputs); }
    const std::string& InputName(size_t index) const { return Name(inputs, index); }
    const std::string& OutputName(size_t index) const { return Name(outputs, index); }
    // Forgets the calls, keeping the stored records.
    void ClearCalls();
  };
  // A parked task's set-up, handed over: the task is left empty, to be freed. Throws
  // std::logic_error for a task that is not parked.
  TSetUp TakeSetUp();
  // Makes a new task (never set up, never started) the parked task the set-up was taken from.
  void RestoreSetUp(TSetUp setUp);
  // True when an output's record asked for the custom hook.
  bool WantsCustomHook() const;

 protected:
  bool SetUpDeferred() const override { return parked_; }
  // A parked task is set up again on the run's own thread (Unpark).
  void BeforeRun() override { Unpark(); }

 private:
  void CloseProbes();

  TSetUp setUp_;
  bool parked_ = false;
  std::vector<std::unique_ptr<media::TAVProbe>> probes_;  // the inputs probed so far
};

}  // namespace engine
