// Drive letters and volumes on POSIX. "C:" is the system root, removable media found in the
// mount table take letters from "D:" on, and folders mapped with MapDrive stand in for cards.
#include "platform/Drives.h"

#include "platform/Mounts.h"
#include "platform/internal/Posix.h"
#include "platform/internal/Shared.h"

#include <filesystem>
#include <mutex>

#include <sys/statvfs.h>

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
    if (native.empty() || ::statvfs(native.c_str(), &sv) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(sv.f_bavail) * static_cast<std::uint64_t>(sv.f_frsize);
}

std::optional<std::uint64_t> AllocationUnit(const std::string& path) {
    const std::string native = Resolve(path).native;
    struct statvfs sv;
    if (native.empty() || ::statvfs(native.c_str(), &sv) != 0)
        return std::nullopt;
    const auto unit = static_cast<std::uint64_t>(sv.f_frsize ? sv.f_frsize : sv.f_bsize);
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
