// The check of a converted file against its job: once a task has written its output, the file is
// opened with the probe and must hold the streams the job asked for, each lasting as long as the
// part of the source it was made from. A file that falls short is no success, whatever the
// engine said; the check tells what is missing or short in one line.
#pragma once

#include <cstdint>
#include <string>

namespace batch {

struct TSourceFacts;

// What one output should hold: the kinds of stream the job writes from the source, and how long
// each should last (the part of the source stream inside the trimmed range), in µs; -1 when the
// source does not say.
struct TOutputExpectation {
  bool Video = false;
  bool Audio = false;
  int64_t VideoLength = -1;
  int64_t AudioLength = -1;
};

// The expectation of a job from its source's facts: video when the source has video and
// the job does not leave it out, audio likewise; lengths from the source's first video and audio
// streams (the file's length where a stream does not tell its own), cut to the range from
// trimStart (µs; negative = the beginning) lasting trimDuration (µs; 0 or less = to the end).
TOutputExpectation ExpectedOutput(const TSourceFacts& source, bool videoWritten, bool audioWritten,
                                  int64_t trimStart, int64_t trimDuration);

struct TOutputCheck {
  bool Readable = false;  // the probe opened the file
  bool HasStreams = false;  // it holds a video or an audio stream
  std::string Problem;  // "" when the output is what the job asked for; else the check's words
};

// Checks a written output. Unreadable: "output check: the file cannot be read (<reason>)". A
// stream the job asked for and the file lacks: "output check: video stream missing". A stream
// shorter than expected by more than its frame rounding and by more than 1 s or 2 %:
// "output check: audio lasts 43.0 s of 98.0 s". With readabilityOnly (a stopped task) only the
// first applies.
TOutputCheck CheckOutput(const std::string& file, const TOutputExpectation& expected,
                         bool readabilityOnly = false);

}  // namespace batch
