#include "platform/paths.h"

#include <pwd.h>
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

std::string DefaultOutputFolder() { return HomeFolder() + "/videoconverter"; }

}  // namespace platform
