#pragma once
// The folder that the tree selects when the window starts.
#include <string>

namespace th {

// The program's own folder (drive form) when the user may write into it, as in a portable
// copy. An installed program's folder belongs to the system and a first Import into it would
// fail, so then the user's music folder, or the home folder when there is no music folder,
// is taken instead. `musicFolder` and `homeFolder` are native paths, empty when unknown; the
// result is in drive form without a trailing backslash.
std::string ChooseStartFolder(const std::string& programFolder, bool programFolderWritable,
                              const std::string& musicFolder, const std::string& homeFolder);

// ChooseStartFolder with this system's folders.
std::string StartFolder();

} // namespace th
