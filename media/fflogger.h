// The single process-wide logger: receives the media libraries' own log output (assembled into
// whole lines per thread) and the components' messages, filters them by level and delivers each
// line through OnLog, on the user-interface thread by default (platform/mainthread.h).
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>

#include "media/ffbasecomponent.h"

namespace media {

enum TLogLevel : int { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// (ordinal - 1) * 8: llQuiet -8, llPanic 0 ... llDebug 48.
int LogLevelToLibrary(TLogLevel level);
// llQuiet for L <= -8, llPanic for -8 < L < 0, else L div 8 + 1, at most llDebug.
TLogLevel LibraryToLogLevel(int level);

// The last message at error level or worse that the libraries logged on this thread since the
// previous call (without its context prefix or line end), "" when none; the call clears it.
// Needs the log callback installed (TFFLogger::InstallLogCallback).
std::string TakeLibraryError();

using TLogEvent = std::function<void(TFFBaseComponent* sender, uint32_t threadId,
                                     TLogLevel level, const std::string& msg)>;

class TFFLogger : public TFFBaseComponent {
 public:
  // Throws std::runtime_error("Allow creating only one instance of TFFLogger.") while another
  // logger exists. Takes LogLevel from the library level last applied (32, llInfo, at start).
  TFFLogger();
  ~TFFLogger() override;

  TLogLevel LogLevel() const { return level_; }
  // Stores the level and applies it to the libraries when libavutil is bound.
  void SetLogLevel(TLogLevel level);
  // "quiet", "panic", "fatal", "error", "warning", "info", "verbose", "debug" (any case) or a
  // decimal library level; throws std::invalid_argument for anything else.
  void SetLogLevelByName(const std::string& name);

  // Deliver OnLog on the user-interface thread (waiting for it) instead of the logging thread.
  bool TriggerEventInMainThread = true;
  // One call per log line. Assign it on the user-interface thread while no component runs.
  TLogEvent OnLog;

  // Delivered when OnLog is set and level <= LogLevel, or level is llVerbose and LogLevel is not
  // llQuiet. LogFormat formats only when the message will be delivered.
  void LogMessage(TFFBaseComponent* sender, TLogLevel level, const std::string& text);
  void LogFormat(TFFBaseComponent* sender, TLogLevel level, const char* format, ...)
      __attribute__((format(printf, 4, 5)));

  // Installs the library log callback and applies LogLevel; needs libavutil bound.
  void InstallLogCallback();
  // Gives the libraries back their default callback (before libavutil is unloaded).
  void RemoveLogCallback();

  // The library callback's work: filter, prefix, assemble per thread, deliver whole lines.
  void LibraryMessage(void* context, int level, const char* format, va_list args);

 private:
  bool Accepts(TLogLevel level) const;
  void Deliver(TFFBaseComponent* sender, uint32_t threadId, TLogLevel level,
               const std::string& text);
  TLogLevel level_;
};

// The process-wide logger, created on first use.
TFFLogger& GetLogger();

// The calling thread's id as the logger reports it.
uint32_t CurrentThreadId();

}  // namespace media
