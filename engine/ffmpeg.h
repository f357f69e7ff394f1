// TFFmpeg: the task the engine component creates. Besides the task core it keeps, per input, a
// probe bound to the opened input (created on demand, never owning the input) and a copy of the
// input's option record, and per output a copy of the output's option record, for as long as the
// task lives. Used on the user-interface thread while the task does not run.
#pragma once

#include <array>
#include <memory>

#include "engine/customffmpeg.h"
#include "engine/enginerecords.h"
#include "media/avprobe.h"

namespace engine {

class TFFmpeg : public TCustomFFmpeg {
 public:
  TFFmpeg() = default;
  ~TFFmpeg() override;

  // The probe of opened input index, attached to it on first use (and again should the input
  // have changed). nullptr when the task has no such input, for instance once a run has released
  // its inputs; a probe handed out before then is left with no file.
  media::TAVProbe* InputProbe(int index);

  // The stored copies of the records given for input and output slot index (0 .. MAX_FILES-1).
  // Out-of-range indexes throw std::out_of_range.
  const TInputOptions& InputOptions(int index) const { return inputOptions_.at(index); }
  const TOutputOptions& OutputOptions(int index) const { return outputOptions_.at(index); }
  void StoreInputOptions(int index, const TInputOptions& options);
  void StoreOutputOptions(int index, const TOutputOptions& options);
  // Back to the record's defaults.
  void ResetOutputOptions(int index);

 private:
  std::array<std::unique_ptr<media::TAVProbe>, MAX_FILES> probes_;
  std::array<TInputOptions, MAX_FILES> inputOptions_;
  std::array<TOutputOptions, MAX_FILES> outputOptions_;
};

}  // namespace engine
