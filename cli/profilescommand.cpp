#include "cli/commands.h"

namespace cli {

int RunProfiles(const std::vector<std::string>&) { return kExitOk; }

}  // namespace cli
