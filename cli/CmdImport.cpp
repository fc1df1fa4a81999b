#include "cli/Cli.h"

namespace cli {
int CmdImport(const Args&) { throw std::runtime_error("not built yet"); }
int CmdSongs(const Args&) { throw std::runtime_error("not built yet"); }
} // namespace cli
