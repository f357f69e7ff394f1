// Temporary folders for settings files a component uses only for itself (a command's run-only
// copy, a profile's defaults worked out unseen). The folder is made empty and removed with its
// contents when the object goes away, also when a failure unwinds past it.
#pragma once

#include <string>

namespace platform {

// Every stored value rewrites its settings file and flushes it to disk; in a memory-backed
// folder (/dev/shm) that costs nothing, so it is preferred to the system's temporary folder.
class TTempFolder {
 public:
  // Throws std::runtime_error when no folder can be made.
  explicit TTempFolder(const std::string& prefix = "videoconverter");
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace platform
