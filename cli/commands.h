// The command-line front end's commands and what they share: exit codes, usage errors, loading
// the media libraries the way the program does, and where the two INI files are. Each command
// takes the arguments after its name, writes its results to standard output and its messages to
// standard error, and returns the process's exit code.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "profiles/parameterpanel.h"

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;       // one or more files failed
inline constexpr int kExitUsage = 2;        // a wrong command line
inline constexpr int kExitLibraries = 3;    // the media libraries cannot be loaded
inline constexpr int kExitInterrupted = 130;  // stopped by Ctrl-C (128 + SIGINT)

// A wrong command line; main prints "kvc: " + what() and a line naming the command's --help,
// exit 2.
class TUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// `kvc profiles [--group N] [--json]`
int RunProfiles(const std::vector<std::string>& args);
// `kvc info FILE... [--json]`
int RunInfo(const std::vector<std::string>& args);
// `kvc convert [options] FILE...`
int RunConvert(const std::vector<std::string>& args);

// The usage texts, printed by --help.
extern const char kMainUsage[];
extern const char kProfilesUsage[];
extern const char kInfoUsage[];
extern const char kConvertUsage[];

// Loads the engine's media libraries from the folder "LibAV" beside the executable, else from the
// system. False with the loader's message in `error`.
bool LoadMediaLibraries(std::string& error);

// The settings file and the format file a command uses. With a folder (--settings DIR) both are
// that folder's; a folder without a format file takes the program's own format file. Without a
// folder: the program's settings file and format file (profiles/settings.h).
struct TSettingsFiles {
  std::string settingsFile;
  std::string formatFile;
};
TSettingsFiles ResolveSettingsFiles(const std::string& folder);

// The short names of the ten profile parameters, used by `convert --set` and `profiles`, with the
// parameter box each one stands for. `convert --set` also takes the names the settings file
// shows (the box's stored key with or without its "para": VideoSize, paraVideoSize, ...), and
// every name in any letter case.
struct TParamName {
  const char* name;
  profiles::TParamBox box;
};
inline constexpr std::array<TParamName, profiles::kParamBoxCount> kParamNames = {{
    {"size", profiles::TParamBox::VideoSize},
    {"vcodec", profiles::TParamBox::VideoEncoder},
    {"vbitrate", profiles::TParamBox::VideoBitRate},
    {"fps", profiles::TParamBox::FrameRate},
    {"zoom", profiles::TParamBox::Zoom},
    {"rate", profiles::TParamBox::SampleRate},
    {"acodec", profiles::TParamBox::AudioEncoder},
    {"channels", profiles::TParamBox::Channel},
    {"abitrate", profiles::TParamBox::AudioBitRate},
    {"volume", profiles::TParamBox::Volume},
}};

// The value of an option that takes one ("--group 3" or "--group=3"): advances i past it.
// Throws TUsageError "option NAME needs a value" when none follows.
std::string OptionValue(const std::vector<std::string>& args, size_t& i, const std::string& name);
// True when args[i] is the option `name` itself or `name=...`.
bool IsOption(const std::string& arg, const std::string& name);
// A whole decimal number within [low, high]; TUsageError naming the option otherwise.
int IntegerValue(const std::string& text, const std::string& name, int low, int high);

}  // namespace cli
