// The fuzz targets' entry points: each takes one input of arbitrary bytes, drives one of the
// program's input paths with it and returns 0. A broken promise (a round trip that changes a
// value, an exception no caller expects) is reported on the error output and ends the process
// with abort(), which the fuzzing engine records as a crash. The same functions run in the
// libFuzzer programs (fuzz/entry.cpp) and in the ordinary replay test (tests/fuzz).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// A settings file: the input is "FILE TEXT" optionally followed by "\0SECTION\0KEY\0VALUE" naming
// the change to write; every read operation, then the write and a read back.
int IniStore(const uint8_t* data, size_t size);
// Option names and values, one "NAME VALUE" per line, through the dispatcher of a fresh task.
int Options(const uint8_t* data, size_t size);
// A media file opened by the probe, with every info record and the description.
int Probe(const uint8_t* data, size_t size);
// A media file converted by a short task: the first byte picks the output (even: a small MP4 with
// video and sound, odd: sound only), the rest is the file.
int Transcode(const uint8_t* data, size_t size);
// A profile: "FORMAT SECTION\0STORED VALUES\0SOURCE" (the last part picks the row's zoom and crop);
// the job it builds is applied to a task and run for a few packets on the clip VC_FUZZ_CLIP
// names (without it the job is only set up).
int JobBuilder(const uint8_t* data, size_t size);

struct TTarget {
  const char* name;
  int (*entry)(const uint8_t*, size_t);
};
// Every target by its name, as fuzz/run.sh and the replay test name them.
const std::vector<TTarget>& Targets();

// Shared by the targets (fuzzsupport.cpp).
// A folder of this process for the targets' files, removed at exit.
const std::string& WorkDir();
// Reports a broken promise and aborts.
[[noreturn]] void Fail(const std::string& what);
// The input split at '\0' bytes into at most `parts` pieces (the last keeps any further '\0').
std::vector<std::string> SplitInput(const uint8_t* data, size_t size, size_t parts);
// Writes bytes to a file of WorkDir(); returns its path.
std::string WriteWorkFile(const std::string& name, const std::string& bytes);
// Loads the engine's media libraries once and quiets their log; aborts when they are missing.
void LoadMediaLibraries();

}  // namespace fuzz

namespace engine {
class TCustomFFmpeg;
}

namespace fuzz {
// Runs a prepared task in this thread, stopped after maxPackets packets or `seconds` of wall time,
// whichever comes first, so that no input can keep a run going.
void RunBounded(engine::TCustomFFmpeg& task, int maxPackets, int seconds);
}  // namespace fuzz
