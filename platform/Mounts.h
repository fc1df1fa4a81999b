#pragma once
// Finding the mounted file systems that live on removable media (USB sticks, SD cards, card
// readers) on Linux, from the mount table and the block devices' attributes in sysfs.
// Both sources are passed in as paths so that tests can feed a fake table and a fake tree.

#include <string>
#include <vector>

namespace platform::mounts {

// One line of a mountinfo file, the fields this layer needs.
struct MountEntry {
    unsigned major = 0; // device numbers of the mounted file system
    unsigned minor = 0;
    std::string root;       // folder of the file system that is mounted ("/" for all of it)
    std::string mountPoint; // octal escapes (\040 and the like) already undone
    std::string fsType;
    std::string source; // the device ("/dev/sdb1") or a name ("tmpfs")
};

// Undoes the octal escapes ("\040" for a space) that the kernel writes into mount fields.
std::string UnescapeMountField(const std::string& field);

// Parses one mountinfo line; false when it has not the expected fields.
bool ParseMountInfoLine(const std::string& line, MountEntry& entry);

// Every entry of a mountinfo file in mount order; empty when the file can't be read.
std::vector<MountEntry> ReadMountInfo(const std::string& mountInfoPath);

// True when the block device `major`:`minor` (or, for file systems that report no device
// numbers, the device named by `source`) is removable: its whole disk has removable=1, or it
// sits on a USB or MMC bus.
bool IsRemovableDevice(unsigned major, unsigned minor, const std::string& source,
                       const std::string& sysfsRoot);

// Mount points of the file systems on removable devices, in mount order. The system root "/"
// is never one of them, file systems mounted only in part (bind mounts of a subfolder) are
// skipped, and a device mounted twice counts once (its first mount point).
std::vector<std::string> RemovableMountPoints(const std::string& mountInfoPath,
                                              const std::string& sysfsRoot);

} // namespace platform::mounts
