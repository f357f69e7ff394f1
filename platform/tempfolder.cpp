#include "platform/tempfolder.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

namespace platform {

namespace {

namespace fs = std::filesystem;

constexpr size_t kUniqueLength = 6;  // the XXXXXX of mkdtemp

// Removes the folders "<prefix>-XXXXXX" in place that this user owns and nobody holds locked:
// left behind by processes that ended without removing them.
void RemoveAbandoned(const fs::path& place, const std::string& prefix) {
  std::error_code code;
  fs::directory_iterator it(place, code);
  for (; !code && it != fs::directory_iterator(); it.increment(code)) {
    const std::string name = it->path().filename().string();
    if (name.size() != prefix.size() + 1 + kUniqueLength || !name.starts_with(prefix + "-"))
      continue;
    const int fd = ::open(it->path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      std::error_code ignored;
      fs::remove_all(it->path(), ignored);
    }
    ::close(fd);  // releases the lock, if taken
  }
}

}  // namespace

TTempFolder::TTempFolder(const std::string& prefix) {
  std::error_code code;
  std::vector<fs::path> places;
  if (access("/dev/shm", W_OK | X_OK) == 0) places.emplace_back("/dev/shm");
  const fs::path temp = fs::temp_directory_path(code);
  if (!code) places.push_back(temp);
  for (const fs::path& place : places) {
    // The claiming name differs from every final name; a final name taken meanwhile by another
    // folder with the same unique part is passed over for a new one.
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string claiming = (place / (prefix + ".new-XXXXXX")).string();
      if (!mkdtemp(claiming.data())) break;
      const std::string final =
          (place / (prefix + "-" + claiming.substr(claiming.size() - kUniqueLength))).string();
      const int fd = ::open(claiming.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      int moved = -1;
      if (fd >= 0 && ::flock(fd, LOCK_EX) == 0) {
        moved = ::renameat2(AT_FDCWD, claiming.c_str(), AT_FDCWD, final.c_str(), RENAME_NOREPLACE);
        // A file system without RENAME_NOREPLACE: a plain rename replaces at most an empty folder.
        if (moved != 0 && errno == EINVAL && !fs::exists(final))
          moved = ::rename(claiming.c_str(), final.c_str());
      }
      if (moved == 0) {
        path_ = final;
        lock_ = fd;
        RemoveAbandoned(place, prefix);
        return;
      }
      if (fd >= 0) ::close(fd);
      ::rmdir(claiming.c_str());
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TTempFolder::~TTempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
  ::close(lock_);
}

}  // namespace platform
