#include "platform/tempfolder.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

namespace platform {

TTempFolder::TTempFolder(const std::string& prefix) {
  std::error_code code;
  std::vector<std::filesystem::path> places;
  if (access("/dev/shm", W_OK | X_OK) == 0) places.emplace_back("/dev/shm");
  const std::filesystem::path temp = std::filesystem::temp_directory_path(code);
  if (!code) places.push_back(temp);
  for (const std::filesystem::path& place : places) {
    std::string pattern = (place / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data())) {
      path_ = pattern;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TTempFolder::~TTempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace platform
