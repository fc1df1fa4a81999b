#pragma once
// The folder that the tree selects when the window starts.
#include <string>

namespace th {

// The user's music folder, or the home folder when there is no music folder; the program's
// own folder only when neither exists. The program's folder is the system's (/usr/bin, or
// writable by root) and an Import would land among its files. `musicFolder` and `homeFolder`
// are native paths, empty when unknown; the result is in drive form without a trailing
// backslash.
std::string ChooseStartFolder(const std::string& programFolder, const std::string& musicFolder,
                              const std::string& homeFolder);

// ChooseStartFolder with this system's folders.
std::string StartFolder();

} // namespace th
