#include "batch/outputnames.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "platform/inifile.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "platform/text.h"
#include "profiles/settings.h"

namespace batch {

namespace fs = std::filesystem;

namespace {

constexpr char kPartSuffix[] = ".part";

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

// The first free output name of a source's stem in the folder (ending with "/"): "_(new)", then
// "_(new_1)", … A long stem is cut by whole characters so the name fits the file system's limit.
// Names in `also` are taken as well.
std::string FreeOutputName(const std::string& dir, const std::string& stem,
                           const std::string& extension, const TTakenNames& taken,
                           const std::set<std::string>& also = {}) {
  const long limit = ::pathconf(dir.c_str(), _PC_NAME_MAX);
  // Room for the part file's suffix too: the part file must be creatable under the same name.
  const size_t nameMax =
      (limit > 0 ? static_cast<size_t>(limit) : 255) - std::string_view(kPartSuffix).size();
  const auto named = [&](const std::string& suffix) {
    const size_t room = nameMax > suffix.size() ? nameMax - suffix.size() : 0;
    return dir + platform::FirstBytes(stem, room) + suffix;
  };
  const auto free = [&](const std::string& name) {
    return !NameInUse(name) && !NameInUse(PartFileName(name)) && !taken.contains(name) &&
           !also.contains(name);
  };
  std::string name = named("_(new)" + extension);
  for (int n = 1; !free(name); ++n) name = named("_(new_" + std::to_string(n) + ")" + extension);
  return name;
}

std::string Stem(const std::string& source) { return fs::path(source).stem().string(); }

}  // namespace

std::string OutputExtension(const std::string& formatFile, int code) {
  return "." + platform::TIniFile(formatFile).ReadString(profiles::FormatInfoSection(code),
                                                          "FileExt", "mp4");
}

std::string OutputFolderWarning(const std::string& folder) {
  return "Cannot create output directory:" + folder + ".It will create default directory " +
         platform::DefaultOutputFolder() + "!";
}

std::string UsableFolder(const std::string& folder,
                         const std::function<void(const std::string&)>& storeDefault) {
  if (!folder.empty() && MakeFolder(folder)) return folder;
  platform::Prompt().Message(OutputFolderWarning(folder), kOutputFolderWarningTitle,
                             platform::TPromptIcon::Warning);
  const std::string fallback = platform::DefaultOutputFolder();
  MakeFolder(fallback);
  if (storeDefault) storeDefault(fallback);
  return fallback;
}

std::string PartFileName(const std::string& output) { return output + kPartSuffix; }

namespace {

std::string OutputFileName(const std::string& settingsFile, const std::string& source,
                           const std::string& extension, const TTakenNames& taken,
                           const std::set<std::string>& also) {
  const profiles::TSettings settings(settingsFile);
  std::string dir = UsableFolder(settings.OutPutDir(), [&settings](const std::string& folder) {
    settings.SetOutPutDir(folder);
  });
  if (dir.back() != '/') dir += '/';
  return FreeOutputName(dir, Stem(source), extension, taken, also);
}

}  // namespace

std::string MakeOutputFileName(const std::string& settingsFile, const std::string& source,
                               const std::string& extension, const TTakenNames& taken) {
  return OutputFileName(settingsFile, source, extension, taken, {});
}

std::string ClaimOutputFileName(const std::string& settingsFile, const std::string& source,
                                const std::string& extension, const TTakenNames& taken) {
  // Names another batch claimed between the look and the claim; the batch's own taken names are
  // looked up where they are (a long batch passes thousands).
  std::set<std::string> passed;
  for (;;) {
    const std::string name = OutputFileName(settingsFile, source, extension, taken, passed);
    const std::string part = PartFileName(name);
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    if (errno != EEXIST)
      throw std::runtime_error(part + ": " + std::strerror(errno));
    passed.insert(name);  // another batch claimed it between the look and the claim
  }
}

std::string CommitOutputFile(const std::string& output, const std::string& source,
                             const std::string& extension) {
  const std::string part = PartFileName(output);
  const std::string dir = fs::path(output).parent_path().string() + "/";
  std::set<std::string> tried;
  std::string name = output;
  for (;;) {
    // Moved only when nothing has the name: never over a file that appeared meanwhile.
    int result = ::renameat2(AT_FDCWD, part.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE);
    if (result != 0 && errno == EINVAL) {
      // A file system without that kind of rename: a second link fails the same way when the
      // name exists, and the part name is dropped once the final one is there.
      result = ::link(part.c_str(), name.c_str());
      if (result == 0) ::unlink(part.c_str());
    }
    if (result == 0) return name;
    if (errno != EEXIST)
      throw std::runtime_error("cannot name " + part + " " + name + ": " + std::strerror(errno));
    tried.insert(name);
    name = FreeOutputName(dir, Stem(source), extension, {}, tried);
  }
}

}  // namespace batch
