// Drive letters and volumes on POSIX. "C:" is the system root, removable media found in the
// mount table take letters from "D:" on, and folders mapped with MapDrive stand in for cards.
#include "platform/Drives.h"

#include "platform/Mounts.h"
#include "platform/internal/Posix.h"
#include "platform/internal/Shared.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <mutex>

#include <sys/statvfs.h>
#ifdef __linux__
#include <linux/msdos_fs.h>
#include <sys/vfs.h>
#endif

namespace fs = std::filesystem;

namespace platform {

using namespace detail;

namespace {

// The system's volumes: "C:" and the removable media mounted now.
VolumeTable ScanVolumes() {
    VolumeTable t;
    t['C'] = {"/", DriveType::Fixed};
    char next = 'D';
    for (const std::string& point : mounts::RemovableMountPoints("/proc/self/mountinfo", "/sys")) {
        if (next > 'Z')
            break;
        t[next++] = {point, DriveType::Removable};
    }
    return t;
}

// The volumes as last scanned (first use, then RescanVolumes); guarded by MappingMutex.
VolumeTable& ScannedTable() {
    static VolumeTable table = ScanVolumes();
    return table;
}

} // namespace

namespace detail {

VolumeTable Volumes() {
    std::lock_guard<std::mutex> lock(MappingMutex());
    VolumeTable t = ScannedTable();
    for (const auto& [letter, root] : Mappings())
        t[letter] = {root, DriveType::Removable};
    return t;
}

std::optional<Volume> FindVolume(char letter) {
    const VolumeTable t = Volumes();
    auto it = t.find(letter);
    if (it == t.end())
        return std::nullopt;
    return it->second;
}

} // namespace detail

std::vector<std::string> LogicalDriveStrings() {
    std::vector<std::string> roots;
    for (const auto& [letter, volume] : Volumes())
        roots.push_back(std::string{letter, ':', '\\'});
    return roots;
}

void RescanVolumes() {
    VolumeTable fresh = ScanVolumes();
    std::lock_guard<std::mutex> lock(MappingMutex());
    ScannedTable() = std::move(fresh);
}

DriveType GetDriveType(const std::string& rootPath) {
    auto letter = DriveLetter(rootPath);
    if (!letter)
        return DriveType::NoRootDir;
    auto volume = FindVolume(*letter);
    return volume ? volume->type : DriveType::NoRootDir;
}

std::optional<std::uint64_t> FreeBytesAvailable(const std::string& path) {
    const std::string native = Resolve(path).native;
    struct statvfs sv;
    if (native.empty()) {
        errno = ENOENT;
        return std::nullopt;
    }
    if (::statvfs(native.c_str(), &sv) != 0)
        return std::nullopt;
    // A file system that reports no blocks at all (some FUSE file systems) does not know its
    // free space either: its 0 free blocks mean nothing. errno 0 tells the caller so.
    if (sv.f_blocks == 0) {
        errno = 0;
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(sv.f_bavail) * static_cast<std::uint64_t>(sv.f_frsize);
}

namespace {

// Whether the file system holding `native` is of the FAT family (FAT12/16/32, exFAT), also
// when it is mounted through FUSE, where only the mount table names the file system.
bool OnFatFamily(const std::string& native) {
#ifdef __linux__
    constexpr long kExfatMagic = 0x2011BAB0;
    constexpr long kFuseMagic = 0x65735546;
    struct statfs sfs;
    if (::statfs(native.c_str(), &sfs) != 0)
        return false;
    if (sfs.f_type == MSDOS_SUPER_MAGIC || sfs.f_type == kExfatMagic)
        return true;
    if (sfs.f_type != kFuseMagic)
        return false;
    // The mount whose point is the longest leading part of the path holds it.
    std::string type;
    std::size_t longest = 0;
    for (const mounts::MountEntry& m : mounts::ReadMountInfo("/proc/self/mountinfo")) {
        const std::string& point = m.mountPoint;
        const bool holds =
            native.compare(0, point.size(), point) == 0 &&
            (point == "/" || native.size() == point.size() || native[point.size()] == '/');
        if (holds && point.size() >= longest) {
            longest = point.size();
            type = m.fsType;
        }
    }
    std::transform(type.begin(), type.end(), type.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return type.find("fat") != std::string::npos;
#else
    (void)native;
    return false;
#endif
}

} // namespace

std::optional<std::uint64_t> AllocationUnit(const std::string& path) {
    const std::string native = Resolve(path).native;
    struct statvfs sv;
    if (native.empty() || ::statvfs(native.c_str(), &sv) != 0)
        return std::nullopt;
    // Some file systems report a unit smaller than their cluster in one of the two fields
    // (fusefat gives 1,024 for clusters of 4 KiB or more): the larger one is the nearer.
    auto unit = static_cast<std::uint64_t>(std::max<unsigned long>(sv.f_frsize, sv.f_bsize));
    // FAT-family clusters are never below 4 KiB on a card of the recorder's sizes; a smaller
    // figure is not the cluster, so count the cluster of SD cards from 2 to 32 GB.
    constexpr std::uint64_t kSmallestCardCluster = 4096, kSdCardCluster = 32768;
    if (unit < kSmallestCardCluster && OnFatFamily(native))
        unit = kSdCardCluster;
    return unit ? std::optional<std::uint64_t>(unit) : std::nullopt;
}

void MapDrive(const std::string& drive, const std::string& nativeRoot) {
    auto letter = DriveLetter(drive);
    if (!letter || nativeRoot.empty())
        return;
    std::error_code ec;
    fs::path root = fs::absolute(nativeRoot, ec);
    if (ec)
        root = nativeRoot;
    std::lock_guard<std::mutex> lock(MappingMutex());
    Mappings()[*letter] = TrimTrailingSlashes(root.lexically_normal().string());
}

std::string DriveNativeRoot(const std::string& drive) {
    auto letter = DriveLetter(drive);
    if (!letter)
        return {};
    auto volume = FindVolume(*letter);
    return volume ? volume->root : std::string();
}

ErrorModeGuard::ErrorModeGuard() {
    (void)previous_;
}

ErrorModeGuard::~ErrorModeGuard() = default;

} // namespace platform
