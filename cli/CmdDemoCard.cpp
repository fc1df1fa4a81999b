#include "cli/Cli.h"

#include "transfer/DemoCard.h"

#include <iostream>

namespace cli {

int CmdDemoCard(const Args& args) {
    const Options o = ParseOptions(args, {}, {});
    if (o.positional.size() != 1)
        throw UsageError("demo-card needs one FOLDER");
    th::WriteDemoCard(o.positional[0]);
    std::cout << "demo card written to " << o.positional[0] << "\n";
    return 0;
}

} // namespace cli
