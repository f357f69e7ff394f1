#include <filesystem>

#include "cli/commands.h"
#include "media/ffloader.h"
#include "platform/paths.h"
#include "profiles/parameterpanel.h"
#include "profiles/settings.h"

namespace cli {

bool LoadMediaLibraries(std::string& error) {
  media::TFFmpegLoader& loader = media::FFLoader();
  loader.LibraryPath = platform::ExecutableFolder() + "/LibAV";
  if (loader.Load(media::EngineLibraries)) return true;
  error = loader.LastErrMsg();
  return false;
}

TSettingsFiles ResolveSettingsFiles(const std::string& folder) {
  if (folder.empty()) return {profiles::SettingsFilePath(), profiles::FormatFilePath()};
  std::error_code code;
  if (!std::filesystem::is_directory(folder, code))
    throw TUsageError("--settings " + folder + ": not a folder");
  const auto [settings, format] = profiles::SettingsFilesIn(folder);
  return {settings, format};
}

bool IsOption(const std::string& arg, const std::string& name) {
  return arg == name || arg.rfind(name + "=", 0) == 0;
}

std::string OptionValue(const std::vector<std::string>& args, size_t& i, const std::string& name) {
  const std::string& arg = args[i];
  if (arg.size() > name.size() && arg[name.size()] == '=') return arg.substr(name.size() + 1);
  if (i + 1 >= args.size()) throw TUsageError("option " + name + " needs a value");
  return args[++i];
}

int IntegerValue(const std::string& text, const std::string& name, int low, int high) {
  const std::optional<int> value = profiles::ParseIntegerText(text);
  if (!value || *value < low || *value > high)
    throw TUsageError(name + " " + text + ": not a whole number from " + std::to_string(low) +
                      " to " + std::to_string(high));
  return *value;
}

}  // namespace cli
