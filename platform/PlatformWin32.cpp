// The platform layer on Windows: drives, attributes and file operations are the system's own.
// MapDrive keeps a small table of folders presented as removable drives, so that a copy of a
// card can stand in for the card (the command line and the tests use it); every other drive
// letter is passed to the system unchanged.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/Platform.h"
#include "platform/PlatformCommon.inl"

#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

namespace platform {

namespace {

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

std::string Backslashes(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string TrimTrailingBackslashes(std::string path) {
    // "E:\\" keeps its backslash: without it the text means the drive's current folder.
    while (path.size() > 1 && path.back() == '\\' && !(path.size() == 3 && path[1] == ':'))
        path.pop_back();
    return path;
}

bool CharEqualIgnoringCase(char a, char b) {
    auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return lower(a) == lower(b);
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), CharEqualIgnoringCase);
}

DWORD Attributes(const std::string& path) {
    const std::string native = NativePath(path);
    return native.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesA(native.c_str());
}

} // namespace

// --- Volumes -------------------------------------------------------------------------------

std::vector<std::string> LogicalDriveStrings() {
    std::vector<std::string> roots;
    char buffer[105] = {};
    const DWORD length = ::GetLogicalDriveStringsA(sizeof buffer - 1, buffer);
    if (length > 0 && length < sizeof buffer) {
        for (const char* p = buffer; *p; p += std::strlen(p) + 1)
            roots.emplace_back(p);
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
    switch (::GetDriveTypeA(rootPath.c_str())) {
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
    if (native.empty())
        return std::nullopt;
    if (native.back() != '\\')
        native += '\\';
    ULARGE_INTEGER available;
    if (!::GetDiskFreeSpaceExA(native.c_str(), &available, nullptr, nullptr))
        return std::nullopt;
    return static_cast<std::uint64_t>(available.QuadPart);
}

std::optional<std::uint64_t> AllocationUnit(const std::string& path) {
    const std::string native = NativePath(path);
    char root[MAX_PATH + 1];
    if (native.empty() || !::GetVolumePathNameA(native.c_str(), root, sizeof root))
        return std::nullopt;
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    if (!::GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
        return std::nullopt;
    const std::uint64_t unit = std::uint64_t{sectorsPerCluster} * bytesPerSector;
    return unit ? std::optional<std::uint64_t>(unit) : std::nullopt;
}

void MapDrive(const std::string& drive, const std::string& nativeRoot) {
    auto letter = DriveLetter(drive);
    if (!letter || nativeRoot.empty())
        return;
    char full[MAX_PATH * 4];
    const DWORD n = ::GetFullPathNameA(nativeRoot.c_str(), sizeof full, full, nullptr);
    std::string root = (n > 0 && n < sizeof full) ? std::string(full, n) : nativeRoot;
    root = TrimTrailingBackslashes(Backslashes(root));
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

// --- Paths and files -----------------------------------------------------------------------

std::string DisplayPath(const std::string& path) {
    return path;
}

std::string NativePath(const std::string& path) {
    auto letter = DriveLetter(path);
    if (!letter)
        return Backslashes(path);
    const std::string rest = Backslashes(path.substr(2));
    if (auto root = MappedRoot(*letter)) {
        if (rest.empty() || rest == "\\")
            return *root;
        const bool rootEnds = root->back() == '\\';
        const bool restStarts = rest.front() == '\\';
        if (rootEnds && restStarts)
            return *root + rest.substr(1);
        return *root + (rootEnds || restStarts ? "" : "\\") + rest;
    }
    if (!SystemHasDrive(*letter))
        return {};
    // "E:" alone would mean the drive's current folder; the layer means its root.
    return std::string{*letter, ':'} + (rest.empty() ? "\\" : rest);
}

std::vector<DirEntry> ListDirectory(const std::string& pattern) {
    std::vector<DirEntry> entries;
    const std::string native = NativePath(pattern);
    if (native.empty())
        return entries;
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA(native.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return entries;
    do {
        entries.push_back({data.cFileName, data.dwFileAttributes & (kAttrMaskAll | AttrNormal)});
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
    return entries;
}

bool FileExists(const std::string& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::uint32_t> GetFileAttributes(const std::string& path) {
    const DWORD a = Attributes(path);
    if (a == INVALID_FILE_ATTRIBUTES)
        return std::nullopt;
    return static_cast<std::uint32_t>(a);
}

bool IsReadOnly(const std::string& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

bool SetFileAttributesNormal(const std::string& path) {
    const std::string native = NativePath(path);
    return !native.empty() && ::SetFileAttributesA(native.c_str(), FILE_ATTRIBUTE_NORMAL);
}

bool DeleteFile(const std::string& path) {
    const std::string native = NativePath(path);
    return !native.empty() && ::DeleteFileA(native.c_str());
}

bool RenameFile(const std::string& from, const std::string& to) {
    if (InjectedFault(FileOp::Rename, to) != 0)
        return false;
    const std::string source = NativePath(from);
    const std::string target = NativePath(to);
    return !source.empty() && !target.empty() &&
           ::MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool CreateDirectory(const std::string& path) {
    const std::string native = NativePath(path);
    return !native.empty() && ::CreateDirectoryA(native.c_str(), nullptr);
}

// No in-kernel copy here: the caller copies through its own buffer.
std::optional<std::size_t> CopyFileRange(std::FILE*, std::uint64_t, std::FILE*, std::size_t) {
    return 0;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    const std::string native = NativePath(path);
    if (native.empty())
        return nullptr;
    const DWORD a = ::GetFileAttributesA(native.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    if (InjectedFault(FileOp::Open, path) != 0)
        return nullptr;
    std::FILE* f = std::fopen(native.c_str(), mode);
    RememberStream(f, path, mode);
    return f;
}

bool SyncFile(std::FILE* f) {
    if (!FlushFile(f))
        return false;
    if (InjectedFault(FileOp::Sync, f) != 0)
        return false;
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(f)));
    if (handle == INVALID_HANDLE_VALUE || !::FlushFileBuffers(handle)) {
        errno = EIO;
        return false;
    }
    return true;
}

bool StartWriteBack(std::FILE* f) {
    return FlushFile(f);
}

bool SyncPath(const std::string& path) {
    if (InjectedFault(FileOp::Sync, path) != 0)
        return false;
    const std::string native = NativePath(path);
    const HANDLE h = native.empty() ? INVALID_HANDLE_VALUE
                                    : ::CreateFileA(native.c_str(), GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = EIO;
        return false;
    }
    const bool ok = ::FlushFileBuffers(h) != 0;
    ::CloseHandle(h);
    if (!ok)
        errno = EIO;
    return ok;
}

// A folder's entries reach the medium with the files' own flushes here.
bool SyncDirectory(const std::string& path) {
    return InjectedFault(FileOp::Sync, path) == 0;
}

std::string ProgramFolder() {
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    const std::size_t slash = buffer.find_last_of('\\');
    std::string folder = slash == std::string::npos ? buffer : buffer.substr(0, slash);
    while (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    return folder;
}

std::string ToDrivePath(const std::string& nativePath) {
    if (nativePath.empty())
        return {};
    char full[MAX_PATH * 4];
    const DWORD n = ::GetFullPathNameA(nativePath.c_str(), sizeof full, full, nullptr);
    std::string native = (n > 0 && n < sizeof full) ? std::string(full, n) : nativePath;
    native = Backslashes(native);
    while (native.size() > 1 && native.back() == '\\')
        native.pop_back();

    // A mapped folder holding the path wins over its system drive; the longest root first.
    std::optional<char> best;
    std::string bestRoot;
    {
        std::lock_guard<std::mutex> lock(MappingMutex());
        for (const auto& [letter, root] : Mappings()) {
            const std::string r = root.size() == 3 && root[1] == ':' ? root.substr(0, 2) : root;
            const bool holds = StartsWithIgnoringCase(native, r) &&
                               (native.size() == r.size() || native[r.size()] == '\\');
            if (holds && (!best || r.size() > bestRoot.size())) {
                best = letter;
                bestRoot = r;
            }
        }
    }
    if (best)
        return std::string{*best, ':'} + native.substr(bestRoot.size());
    if (DriveLetter(native)) {
        native[0] = *DriveLetter(native);
        return native;
    }
    return {}; // network paths and the like have no drive letter
}

// The system's drive list is read afresh on every call: nothing to rescan.
void RescanVolumes() {}

bool HasSubdirectory(const std::string& path) {
    // The find data carries the attributes: no look-up per entry.
    for (const DirEntry& e : ListDirectory(path + "\\*.*"))
        if (e.name != "." && e.name != ".." && (e.attributes & AttrDirectory))
            return true;
    return false;
}

} // namespace platform
