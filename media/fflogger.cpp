#include "media/fflogger.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "media/ffapi.h"
#include "platform/mainthread.h"
#include "platform/text.h"

namespace media {
namespace {

std::atomic<int> libraryLevel{AV_LOG_INFO};  // the library level last applied
std::atomic<TFFLogger*> current{nullptr};

// Pending (not yet line-terminated) library text of each thread.
struct LogList {
  std::mutex lock;  // protects pending
  std::unordered_map<uint32_t, std::string> pending;
};
LogList& List() {
  static LogList* list = new LogList;  // library threads may log during process exit
  return *list;
}

// The last error-level library message of each thread, for callers that report why a library
// call failed (a filter graph that does not configure says why only in its log).
thread_local std::string lastLibraryError;

void LibraryCallback(void* context, int level, const char* format, va_list args) {
  if ((level & 0xff) <= AV_LOG_ERROR) {
    va_list copy;
    va_copy(copy, args);
    char text[1024];
    std::vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    lastLibraryError = text;
    while (!lastLibraryError.empty() &&
           (lastLibraryError.back() == '\n' || lastLibraryError.back() == '\r'))
      lastLibraryError.pop_back();
  }
  if (TFFLogger* logger = current.load()) logger->LibraryMessage(context, level, format, args);
}

}  // namespace

std::string TakeLibraryError() {
  std::string text;
  text.swap(lastLibraryError);
  return text;
}

int LogLevelToLibrary(TLogLevel level) { return (static_cast<int>(level) - 1) * 8; }

TLogLevel LibraryToLogLevel(int level) {
  if (level <= AV_LOG_QUIET) return llQuiet;
  if (level < 0) return llPanic;
  return static_cast<TLogLevel>(std::min(level / 8 + 1, static_cast<int>(llDebug)));
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

TFFLogger::TFFLogger() : level_(LibraryToLogLevel(libraryLevel.load())) {
  TFFLogger* expected = nullptr;
  if (!current.compare_exchange_strong(expected, this))
    throw std::runtime_error("Allow creating only one instance of TFFLogger.");
}

TFFLogger::~TFFLogger() {
  TFFLogger* self = this;
  current.compare_exchange_strong(self, nullptr);
}

void TFFLogger::SetLogLevel(TLogLevel level) {
  level_ = level;
  if (ff::av_log_set_level) {
    libraryLevel = LogLevelToLibrary(level);
    ff::av_log_set_level(libraryLevel);
  }
}

void TFFLogger::SetLogLevelByName(const std::string& name) {
  static const struct {
    const char* name;
    int level;
  } kNames[] = {{"quiet", AV_LOG_QUIET},     {"panic", AV_LOG_PANIC}, {"fatal", AV_LOG_FATAL},
                {"error", AV_LOG_ERROR},     {"warning", AV_LOG_WARNING},
                {"info", AV_LOG_INFO},       {"verbose", AV_LOG_VERBOSE},
                {"debug", AV_LOG_DEBUG}};
  const std::string lower = platform::LowerAscii(name);
  for (const auto& n : kNames) {
    if (lower == n.name) {
      SetLogLevel(LibraryToLogLevel(n.level));
      return;
    }
  }
  size_t used = 0;
  int level = 0;
  try {
    level = std::stoi(name, &used, 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != name.size())
    throw std::invalid_argument("'" + name + "' is not a valid integer value");
  SetLogLevel(LibraryToLogLevel(level));
}

bool TFFLogger::Accepts(TLogLevel level) const {
  return level <= level_ || (level == llVerbose && level_ != llQuiet);
}

void TFFLogger::LogMessage(TFFBaseComponent* sender, TLogLevel level, const std::string& text) {
  if (OnLog && Accepts(level)) Deliver(sender, CurrentThreadId(), level, text);
}

void TFFLogger::LogFormat(TFFBaseComponent* sender, TLogLevel level, const char* format, ...) {
  if (!OnLog || !Accepts(level)) return;
  char buf[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  Deliver(sender, CurrentThreadId(), level, buf);
}

void TFFLogger::Deliver(TFFBaseComponent* sender, uint32_t threadId, TLogLevel level,
                        const std::string& text) {
  const TLogEvent handler = OnLog;
  if (!handler) return;
  if (TriggerEventInMainThread)
    platform::MainThreadCall([&] { handler(sender, threadId, level, text); });
  else
    handler(sender, threadId, level, text);
}

void TFFLogger::InstallLogCallback() {
  assert(ff::av_log_set_callback && ff::av_log_set_level);
  ff::av_log_set_callback(LibraryCallback);
  SetLogLevel(level_);
}

void TFFLogger::RemoveLogCallback() {
  if (ff::av_log_set_callback && ff::av_log_default_callback)
    ff::av_log_set_callback(ff::av_log_default_callback);
}

void TFFLogger::LibraryMessage(void* context, int level, const char* format, va_list args) {
  level &= 0xff;  // callers may add colour bits above the level
  if (level > libraryLevel.load()) return;
  std::string prefix;
  if (context) {
    const AVClass* cls = *static_cast<const AVClass* const*>(context);
    if (cls && cls->item_name) {
      char buf[256];
      std::snprintf(buf, sizeof buf, "[%s @ %p] ", cls->item_name(context), context);
      prefix = buf;
    }
  }
  char message[2048] = {};
  std::vsnprintf(message, sizeof message, format, args);

  const uint32_t threadId = CurrentThreadId();
  std::vector<std::string> lines;
  {
    LogList& list = List();
    std::lock_guard lock(list.lock);
    std::string& pending = list.pending[threadId];
    if (pending.empty()) pending = prefix;
    pending += message;
    size_t lf;
    while ((lf = pending.find('\n')) != std::string::npos) {
      lines.push_back(pending.substr(0, lf));
      pending.erase(0, lf + 1);
    }
    if (pending.empty()) list.pending.erase(threadId);  // threads come and go; keep only text
  }
  // Delivered outside the lock: the user-interface thread may log while a delivery waits for it.
  if (!OnLog) return;
  const TLogLevel logLevel = LibraryToLogLevel(level);
  for (const std::string& line : lines) Deliver(this, threadId, logLevel, line);
}

TFFLogger& GetLogger() {
  static std::mutex creation;
  std::lock_guard lock(creation);
  if (TFFLogger* logger = current.load()) return *logger;
  return *new TFFLogger;  // lives until the process exits, like the libraries that call it
}

}  // namespace media
