#include "batch/outputnames.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "platform/inifile.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "platform/text.h"
#include "profiles/settings.h"

namespace batch {

namespace fs = std::filesystem;

namespace {

// The folder exists as a folder afterwards (it may have existed before).
bool MakeFolder(const std::string& folder) {
  std::error_code error;
  fs::create_directories(fs::path(folder), error);
  return fs::is_directory(fs::path(folder), error);
}

// A file, folder or link of that name is there (a dangling link counts: writing through it
// would create a file elsewhere).
bool NameInUse(const std::string& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(fs::path(path), error));
}

}  // namespace

std::string OutputExtension(const std::string& formatFile, int code) {
  return "." + platform::TIniFile(formatFile).ReadString(profiles::FormatInfoSection(code),
                                                          "FileExt", "mp4");
}

std::string OutputFolderWarning(const std::string& folder) {
  return "Cannot create output directory:" + folder + ".It will create default directory " +
         platform::DefaultOutputFolder() + "!";
}

std::string MakeOutputFileName(const std::string& settingsFile, const std::string& source,
                               const std::string& extension, const std::set<std::string>& taken) {
  const profiles::TSettings settings(settingsFile);
  std::string dir = settings.OutPutDir();
  if (dir.empty() || !MakeFolder(dir)) {
    platform::Prompt().Message(OutputFolderWarning(dir), kOutputFolderWarningTitle,
                               platform::TPromptIcon::Warning);
    dir = platform::DefaultOutputFolder();
    MakeFolder(dir);
    settings.SetOutPutDir(dir);
  }
  if (dir.back() != '/') dir += '/';
  const std::string stem = fs::path(source).stem().string();
  // The file system's limit on one name, in bytes: a long source name is shortened so that its
  // suffix and extension still fit.
  const long limit = ::pathconf(dir.c_str(), _PC_NAME_MAX);
  const size_t nameMax = limit > 0 ? static_cast<size_t>(limit) : 255;
  const auto named = [&](const std::string& suffix) {
    const size_t room = nameMax > suffix.size() ? nameMax - suffix.size() : 0;
    return dir + platform::FirstBytes(stem, room) + suffix;
  };
  const auto free = [&taken](const std::string& name) {
    return !NameInUse(name) && !taken.contains(name);
  };
  std::string name = named("_(new)" + extension);
  for (int n = 1; !free(name); ++n) name = named("_(new_" + std::to_string(n) + ")" + extension);
  return name;
}

}  // namespace batch
