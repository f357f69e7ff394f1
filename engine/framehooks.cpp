#include "engine/framehooks.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <new>

#include "media/fflogger.h"
#include "media/ffutils.h"

namespace engine {

namespace {

// The plug-in libraries loaded so far, by the name they were loaded with.
struct LoadedLibraries {
  std::mutex lock;
  std::map<std::string, void*> handles;
};
LoadedLibraries& Libraries() {
  static LoadedLibraries* libraries = new LoadedLibraries;  // kept to the end, as the libraries
  return *libraries;
}

}  // namespace

void TFrameHookChain::LogError(const std::string& text) const {
  media::GetLogger().LogMessage(const_cast<media::TFFBaseComponent*>(owner_), media::llError, text);
}

std::vector<std::string> TFrameHookChain::SplitCommand(const std::string& command) {
  const char separator = command.find('|') != std::string::npos ? '|' : ' ';
  std::vector<std::string> words;
  size_t start = 0;
  while (start <= command.size() && words.size() < 254) {
    size_t end = command.find(separator, start);
    if (end == std::string::npos) end = command.size();
    if (end > start) words.push_back(command.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

int TFrameHookChain::AddFrameHook(const std::vector<std::string>& argv) {
  if (argv.empty()) return -2;
  // A library is found by its path as given (or by the system's search for a bare name); its own
  // dependencies beside it are found through the library's run path.
  void* handle = nullptr;
  {
    LoadedLibraries& libraries = Libraries();
    std::lock_guard guard(libraries.lock);
    auto it = libraries.handles.find(argv[0]);
    if (it != libraries.handles.end()) {
      handle = it->second;
    } else {
      handle = ::dlopen(argv[0].c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!handle) {
        const char* error = ::dlerror();
        LogError(std::string(error ? error : "cannot load " + argv[0]) + "\n");
        return -1;
      }
      libraries.handles.emplace(argv[0], handle);
    }
  }
  TEntry entry;
  entry.configure = reinterpret_cast<VCFrameHookConfigure>(::dlsym(handle, "Configure"));
  entry.process = reinterpret_cast<VCFrameHookProcess>(::dlsym(handle, "Process"));
  entry.release = reinterpret_cast<VCFrameHookRelease>(::dlsym(handle, "Release"));
  if (!entry.process) {
    LogError(media::FormatText("Failed to find Process entrypoint in %s\n", argv[0].c_str()));
    return -2;
  }
  if (!entry.configure && argv.size() > 1) {
    LogError(media::FormatText("Failed to find Configure entrypoint in %s\n", argv[0].c_str()));
    return -2;
  }
  if (entry.configure) {
    std::vector<char*> words;
    try {
      for (const std::string& word : argv) words.push_back(const_cast<char*>(word.c_str()));
      words.push_back(nullptr);
    } catch (const std::bad_alloc&) {
      return -12;
    }
    if (entry.configure(&entry.context, static_cast<int>(argv.size()), words.data()) != 0) {
      LogError(media::FormatText("Failed to Configure %s\n", argv[0].c_str()));
      return -22;
    }
  }
  try {
    entries_.push_back(entry);
  } catch (const std::bad_alloc&) {
    if (entry.release) entry.release(entry.context);
    return -12;
  }
  return 0;
}

void TFrameHookChain::Process(VCFrameHookPicture& picture, int pixelFormat, int width, int height,
                              int64_t pts) {
  for (const TEntry& entry : entries_) entry.process(entry.context, &picture, pixelFormat, width, height, pts);
}

void TFrameHookChain::Release() {
  for (const TEntry& entry : entries_)
    if (entry.release) entry.release(entry.context);
  entries_.clear();
}

}  // namespace engine
