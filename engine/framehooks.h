// TFrameHookChain: the frame hook plug-ins of one task (option "vhook"), in the order added. It
// loads each plug-in library once per process (kept loaded until the program ends), configures
// an entry per option, runs every entry's Process on a frame, and releases the entries with the
// task. The plug-in form is described in engine/framehookplugin.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/framehookplugin.h"
#include "media/ffbasecomponent.h"

namespace engine {

class TFrameHookChain {
 public:
  // Failures are logged with the owner as their sender.
  explicit TFrameHookChain(const media::TFFBaseComponent* owner) : owner_(owner) {}
  ~TFrameHookChain() { Release(); }
  TFrameHookChain(const TFrameHookChain&) = delete;
  TFrameHookChain& operator=(const TFrameHookChain&) = delete;

  // Loads argv[0] (a library path or name), configures a new entry with the words and appends
  // it. 0 on success; -2 without words or without a "Process" export (or without "Configure"
  // while there are further words), -1 when the library cannot be loaded, -12 out of memory,
  // -22 when Configure refuses. Failures are logged.
  int AddFrameHook(const std::vector<std::string>& argv);
  bool Empty() const { return entries_.empty(); }
  // Every entry's Process, in order.
  void Process(VCFrameHookPicture& picture, int pixelFormat, int width, int height, int64_t pts);
  // Every entry's Release with its context, in order; the chain is empty afterwards.
  void Release();

  // The words of a "vhook" value: split at "|" when it has one, otherwise at spaces; empty
  // words are skipped; at most 254.
  static std::vector<std::string> SplitCommand(const std::string& command);

 private:
  struct TEntry {
    VCFrameHookConfigure configure = nullptr;
    VCFrameHookProcess process = nullptr;
    VCFrameHookRelease release = nullptr;
    void* context = nullptr;
  };
  void LogError(const std::string& text) const;

  const media::TFFBaseComponent* owner_;
  std::vector<TEntry> entries_;
};

}  // namespace engine
