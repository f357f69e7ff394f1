// How the engine component turns a task's option records into the task core's options: the
// ExtOptions text split into name=value lines, and the ordered steps that an input record and an
// output record become (typed setters, SetOption calls, the output's new streams). Each step says
// what it sets as option text, so the order and the values can be read back.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/enginerecords.h"

namespace engine {

class TCustomFFmpeg;

// One line of an ExtOptions text: the name in lower case, the value as written.
struct TOptionLine {
  std::string Name;
  std::string Value;
};

// The text trimmed; CR LF, CR and LF become line breaks, and so does every "<CRLF>"; each line is
// split at its first "=" (a line without one is all name, with an empty value). Empty lines are
// kept (they reach the dispatcher with an empty name, which it refuses).
std::vector<TOptionLine> SplitExtOptions(const std::string& text);

// One step: the option it sets and its value as text, and the call that applies it.
struct TOptionStep {
  std::string Name;
  std::string Value;
  std::function<void(TCustomFFmpeg& task)> Apply;
};

// An input record, before its input is opened: the ExtOptions lines in input mode (every line but
// "newvideo", "newaudio", "newsubtitle", "apre", "vpre", "spre", "vfilters", "vf"), then the
// forced format, the start time and the program id when set.
std::vector<TOptionStep> InputOptionSteps(const TInputOptions& options);

// An output record: what runs before the output is added (target; codec names, presets, frame size
// and filters from the record with ExtOptions' lines as defaults; ExtOptions in output mode, which
// also skips "acodec", "vcodec", "scodec" and "s"; the typed fields in record order; frame size;
// video filters), and what runs after it, once for each "newaudio", "newvideo" and "newsubtitle"
// line: that stream kind's codec, preset (and for video frame size and filters), each from its
// first unused ExtOptions line or else from the output's default, then the line itself.
struct TOutputOptionSteps {
  std::vector<TOptionStep> BeforeAdd;
  std::vector<TOptionStep> NewStreams;
};
TOutputOptionSteps OutputOptionSteps(const TOutputOptions& options);

// A record date-time (days since 30 December 1899, local time) as Unix seconds; 0 means now.
int64_t LocalDateTimeToUnix(double dateTime);

}  // namespace engine
