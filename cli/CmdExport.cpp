#include "cli/Cli.h"

namespace cli {
int CmdExport(const Args&) { throw std::runtime_error("not built yet"); }
} // namespace cli
