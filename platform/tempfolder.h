// Temporary folders for settings files a component uses only for itself (a command's run-only
// copy, a profile's defaults worked out unseen). The folder is made empty and removed with its
// contents when the object goes away, also when a failure unwinds past it; the folder of a
// process that was killed before it could remove its own is removed by the next one made with
// the same prefix.
#pragma once

#include <string>

namespace platform {

// Every stored value rewrites its settings file and flushes it to disk; in a memory-backed
// folder (/dev/shm) that costs nothing, so it is preferred to the system's temporary folder.
//
// The folder is "<place>/<prefix>-XXXXXX". It is made as "<prefix>.new-XXXXXX", locked (an
// exclusive flock on the folder itself, held for the object's lifetime and released by the
// system when the process ends, however it ends) and only then renamed to its final name, so a
// folder under a final name whose lock can be taken belongs to no living object: making a new
// folder removes such folders of the same prefix (this user's only) in the same place.
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
  int lock_ = -1;  // the folder, opened and flocked
};

}  // namespace platform
