#pragma once
// Helpers that the platform layer's POSIX sources share: the volume table and the
// translation of drive-letter paths to native ones. Nothing outside platform/ includes this
// header.

#include "platform/Drives.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace platform::detail {

struct Volume {
    std::string root; // native folder, no trailing slash except for "/"
    DriveType type;
};
using VolumeTable = std::map<char, Volume>;

// The scanned volumes with the folders mapped as drives laid over them.
VolumeTable Volumes();
std::optional<Volume> FindVolume(char letter);

struct Resolved {
    std::string native; // empty when the drive is unknown
    std::string name;   // last component as resolved; empty for a drive or file system root
};

// Turns a drive-letter path into a native one, matching missing components ignoring ASCII
// case. Paths without a drive letter are taken as native paths (absolute, or relative to the
// working folder).
Resolved Resolve(const std::string& path);

std::string TrimTrailingSlashes(std::string p);
std::string Join(const std::string& folder, const std::string& name);
// The last component of a drive-letter or native path as written; empty for a root.
std::string LastComponent(const std::string& path);
// The folder holding a native path ("." for a bare name).
std::string ParentOf(const std::string& native);
// stat(2) of a native path, following links; false for an empty path.
bool StatFollowing(const std::string& native, struct stat& st);

} // namespace platform::detail
