#pragma once
// Drive letters and volumes. Paths above the platform layer name a drive by its letter and a
// colon ("E:"); on POSIX a volume table maps letters to mount points ("C:" is the system root,
// removable media take letters from "D:" on), and on every system a folder can be mapped as a
// removable drive so that a copy of a card stands in for the card.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
// <windows.h> defines this name as a macro for its ANSI and wide variants; this layer's own
// function carries the same name. Include <windows.h> before this header, never after it.
#undef GetDriveType
#endif

namespace platform {

enum class DriveType { Unknown, NoRootDir, Removable, Fixed, Remote, CdRom, RamDisk };

// Root strings of every logical drive ("C:\\", "E:\\"), in letter order.
std::vector<std::string> LogicalDriveStrings();
// Type of the drive whose root path ("E:\\") is given.
DriveType GetDriveType(const std::string& rootPath);
// The device drive test: removable, and the root is not "A:\\".
bool IsDeviceDrive(const std::string& rootPath);
// Reads the system's volumes again, so media mounted or removed since show up or go.
void RescanVolumes();
// Bytes available to the caller on the volume holding `path` ("E:" or any path on it).
// nullopt when the volume can't be asked (errno tells why) or reports no size at all (errno 0).
std::optional<std::uint64_t> FreeBytesAvailable(const std::string& path);
// Allocation unit (cluster) of that volume in bytes: every file takes a whole number of them.
// Where the system reports less than the cluster, a figure no smaller than it.
std::optional<std::uint64_t> AllocationUnit(const std::string& path);
// Presents a native folder as a removable drive ("E:" -> "/media/card-copy"). Replaces an
// earlier mapping of the same letter.
void MapDrive(const std::string& drive, const std::string& nativeRoot);
void UnmapDrive(const std::string& drive);
// The native root of a drive text ("E:" or "E:\\"), empty when the letter is unknown.
std::string DriveNativeRoot(const std::string& drive);

// Critical-error pop-ups off for the guard's lifetime (no-op on POSIX).
class ErrorModeGuard {
public:
    ErrorModeGuard();
    ~ErrorModeGuard();
    ErrorModeGuard(const ErrorModeGuard&) = delete;
    ErrorModeGuard& operator=(const ErrorModeGuard&) = delete;

private:
    unsigned previous_ = 0;
};

} // namespace platform
