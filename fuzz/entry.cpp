// The libFuzzer entry of one target: VC_FUZZ_TARGET names its function in fuzz/targets.
#include "fuzz/targets/fuzztargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz::VC_FUZZ_TARGET(data, size);
}
