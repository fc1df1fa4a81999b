#include "cli/Cli.h"

#include "platform/Platform.h"

#include <algorithm>
#include <cctype>
#include <iostream>

namespace cli {

// One line per recorder drive: the drive text ("E:"), a TAB and the drive's native root.
int CmdDrives(const Args& args) {
    if (!args.empty())
        throw UsageError("drives takes no arguments");
    platform::ErrorModeGuard quiet;
    for (const std::string& root : platform::LogicalDriveStrings()) {
        if (!platform::IsDeviceDrive(root))
            continue;
        std::string drive = root;
        drive.erase(std::remove(drive.begin(), drive.end(), '\\'), drive.end());
        std::transform(drive.begin(), drive.end(), drive.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        std::cout << drive << '\t' << platform::DriveNativeRoot(drive) << '\n';
    }
    return 0;
}

} // namespace cli
