// Drive letters and volumes on Windows: the system's own drives, and a small table of
// folders presented as removable drives (MapDrive), so that a copy of a card can stand in for
// the card; the command line and the tests use it.
#include "platform/internal/Win32.h"

#include "platform/Drives.h"
#include "platform/Paths.h"
#include "platform/internal/Shared.h"

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <mutex>

namespace platform {

using namespace detail;

namespace {

std::string TrimTrailingBackslashes(std::string path) {
    // "E:\\" keeps its backslash: without it the text means the drive's current folder.
    while (path.size() > 1 && path.back() == '\\' && !(path.size() == 3 && path[1] == ':'))
        path.pop_back();
    return path;
}

} // namespace

namespace detail {

std::optional<std::string> MappedRoot(char letter) {
    std::lock_guard<std::mutex> lock(MappingMutex());
    auto it = Mappings().find(letter);
    if (it == Mappings().end())
        return std::nullopt;
    return it->second;
}

bool SystemHasDrive(char letter) {
    return (::GetLogicalDrives() >> (letter - 'A')) & 1u;
}

} // namespace detail

std::vector<std::string> LogicalDriveStrings() {
    std::vector<std::string> roots;
    wchar_t buffer[105] = {};
    const DWORD length = ::GetLogicalDriveStringsW(104, buffer);
    if (length > 0 && length < 105) {
        for (const wchar_t* p = buffer; *p; p += std::wcslen(p) + 1)
            roots.push_back(Utf8(p));
    }
    {
        std::lock_guard<std::mutex> lock(MappingMutex());
        for (const auto& [letter, root] : Mappings()) {
            const std::string drive{letter, ':', '\\'};
            if (std::find(roots.begin(), roots.end(), drive) == roots.end())
                roots.push_back(drive);
        }
    }
    std::sort(roots.begin(), roots.end());
    return roots;
}

DriveType GetDriveType(const std::string& rootPath) {
    if (auto letter = DriveLetter(rootPath); letter && MappedRoot(*letter))
        return DriveType::Removable;
    switch (::GetDriveTypeW(Wide(rootPath).c_str())) {
    case DRIVE_NO_ROOT_DIR:
        return DriveType::NoRootDir;
    case DRIVE_REMOVABLE:
        return DriveType::Removable;
    case DRIVE_FIXED:
        return DriveType::Fixed;
    case DRIVE_REMOTE:
        return DriveType::Remote;
    case DRIVE_CDROM:
        return DriveType::CdRom;
    case DRIVE_RAMDISK:
        return DriveType::RamDisk;
    default:
        return DriveType::Unknown;
    }
}

std::optional<std::uint64_t> FreeBytesAvailable(const std::string& path) {
    std::string native = NativePath(path);
    if (native.empty()) {
        errno = ENOENT;
        return std::nullopt;
    }
    if (native.back() != '\\')
        native += '\\';
    ULARGE_INTEGER available, total;
    if (!::GetDiskFreeSpaceExW(Wide(native).c_str(), &available, &total, nullptr)) {
        errno = EIO;
        return std::nullopt;
    }
    // A volume that reports no size does not know its free space either; errno 0 says so.
    if (total.QuadPart == 0) {
        errno = 0;
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(available.QuadPart);
}

std::optional<std::uint64_t> AllocationUnit(const std::string& path) {
    const std::wstring native = WideNative(path);
    wchar_t root[MAX_PATH + 1];
    if (native.empty() || !::GetVolumePathNameW(native.c_str(), root, MAX_PATH + 1))
        return std::nullopt;
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    if (!::GetDiskFreeSpaceW(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
        return std::nullopt;
    const std::uint64_t unit = std::uint64_t{sectorsPerCluster} * bytesPerSector;
    return unit ? std::optional<std::uint64_t>(unit) : std::nullopt;
}

void MapDrive(const std::string& drive, const std::string& nativeRoot) {
    auto letter = DriveLetter(drive);
    if (!letter || nativeRoot.empty())
        return;
    const std::string root = TrimTrailingBackslashes(Backslashes(FullPath(nativeRoot)));
    std::lock_guard<std::mutex> lock(MappingMutex());
    Mappings()[*letter] = root;
}

std::string DriveNativeRoot(const std::string& drive) {
    auto letter = DriveLetter(drive);
    if (!letter)
        return {};
    if (auto root = MappedRoot(*letter))
        return *root;
    return SystemHasDrive(*letter) ? std::string{*letter, ':', '\\'} : std::string();
}

ErrorModeGuard::ErrorModeGuard() : previous_(::SetErrorMode(SEM_FAILCRITICALERRORS)) {}

ErrorModeGuard::~ErrorModeGuard() {
    ::SetErrorMode(previous_);
}

// The system's drive list is read afresh on every call: nothing to rescan.
void RescanVolumes() {}

} // namespace platform
