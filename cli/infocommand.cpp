#include "cli/commands.h"

namespace cli {

int RunInfo(const std::vector<std::string>&) { return kExitOk; }

}  // namespace cli
