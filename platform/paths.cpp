#include "platform/paths.h"

#include <pwd.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace platform {

std::string ExecutableFolder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec).string();
  return exe.parent_path().string();
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

std::string SettingsFolder(const std::string& appFolderName) {
  const std::string exeFolder = ExecutableFolder();
  if (::access(exeFolder.c_str(), W_OK) == 0) return exeFolder;
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg && xdg[0] == '/')
    base = xdg;
  else
    base = HomeFolder() + "/.config";
  const std::string folder = base + "/" + appFolderName;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return folder;
}

bool FolderOnReadOnlyMedia(const std::string& folder) {
  constexpr long kIso9660Magic = 0x9660, kUdfMagic = 0x15013346;
  std::filesystem::path path = std::filesystem::absolute(folder);
  std::error_code ec;
  while (!std::filesystem::exists(path, ec) && path.has_relative_path()) path = path.parent_path();
  struct statfs fs {};
  if (::statfs(path.c_str(), &fs) == 0 && (fs.f_type == kIso9660Magic || fs.f_type == kUdfMagic))
    return true;
  struct statvfs vfs {};
  return ::statvfs(path.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY) != 0;
}

std::string DefaultOutputFolder() { return HomeFolder() + "/videoconverter"; }

}  // namespace platform
