// kvc, the command-line front end: lists the profile catalogue, describes media files and
// converts files through the same batch the desktop program runs.
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/mainthread.h"
#include "platform/text.h"
#include "profiles/globalobject.h"

namespace {

struct TCommand {
  const char* name;
  int (*run)(const std::vector<std::string>&);
  const char* usage;
  const char* helpCommand;  // the command line that prints the usage text
};

const TCommand kCommands[] = {
    {"profiles", cli::RunProfiles, cli::kProfilesUsage, "kvc profiles --help"},
    {"info", cli::RunInfo, cli::kInfoUsage, "kvc info --help"},
    {"convert", cli::RunConvert, cli::kConvertUsage, "kvc convert --help"},
};

// The one line that matters, and where the whole usage text is, as other command-line tools do.
int UsageError(const std::string& message, const char* helpCommand) {
  std::fprintf(stderr, "kvc: %s\nTry '%s' for more information.\n", message.c_str(),
               helpCommand);
  return cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  platform::SetMainThread();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return UsageError("no command given", "kvc --help");
  const std::string& first = args[0];
  if (first == "--help" || first == "-h" || first == "help") {
    std::fputs(cli::kMainUsage, stdout);
    return cli::kExitOk;
  }
  if (first == "--version") {
    std::printf("kvc %s (%s)\n", platform::TrimText(profiles::GetVersionText()).c_str(),
                profiles::kProductTitle);
    return cli::kExitOk;
  }
  for (const TCommand& command : kCommands) {
    if (first != command.name) continue;
    std::vector<std::string> rest(std::make_move_iterator(args.begin() + 1),
                                  std::make_move_iterator(args.end()));
    args.resize(1);
    for (const std::string& arg : rest) {
      if (arg == "--") break;
      if (arg == "--help" || arg == "-h") {
        std::fputs(command.usage, stdout);
        return cli::kExitOk;
      }
    }
    try {
      return command.run(rest);
    } catch (const cli::TUsageError& error) {
      return UsageError(error.what(), command.helpCommand);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "kvc: %s\n", error.what());
      return cli::kExitFailed;
    }
  }
  return UsageError("unknown command '" + first + "'", "kvc --help");
}
