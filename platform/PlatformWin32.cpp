// The platform layer on Windows: drives, attributes and file operations are the system's own,
// called through their wide-character forms. Texts inside the program are UTF-8; they are
// converted at this layer's calls and nowhere else.
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
#include <cwchar>
#include <map>
#include <mutex>

namespace platform {

namespace {

// A text handed to the system. It is read as UTF-8; a text that is no valid UTF-8 is read in
// the ANSI code page, as the recorder and older programs write names into edit lists.
std::wstring Wide(const std::string& text) {
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    for (const UINT codePage : {UINT{CP_UTF8}, UINT{CP_ACP}}) {
        const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int n = ::MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
        if (n <= 0)
            continue;
        std::wstring wide(static_cast<std::size_t>(n), L'\0');
        ::MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), n);
        return wide;
    }
    return {};
}

// A text from the system, as UTF-8.
std::string Utf8(const wchar_t* text, std::size_t length) {
    if (length == 0)
        return {};
    const int size = static_cast<int>(length);
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return {};
    std::string utf8(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

std::string Utf8(const std::wstring& text) {
    return Utf8(text.data(), text.size());
}

std::string Utf8(const wchar_t* text) {
    return Utf8(text, std::wcslen(text));
}

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

// The part of a drive-letter path after "E:" as "\\Song\\Take.wav": "." and empty components
// dropped, ".." taking one back but never above the drive's root (a mapped folder must not
// lead outside itself). Empty for the root.
std::string RootedComponents(const std::string& rest) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = rest.size();
        const std::string part = rest.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string joined;
    for (const std::string& part : parts)
        joined += "\\" + part;
    return joined;
}

// The native path of a drive-letter path in the system's wide form; empty when the drive is
// unknown.
std::wstring WideNative(const std::string& path) {
    const std::string native = NativePath(path);
    return native.empty() ? std::wstring() : Wide(native);
}

DWORD Attributes(const std::wstring& native) {
    return native.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(native.c_str());
}

DWORD Attributes(const std::string& path) {
    return Attributes(WideNative(path));
}

// The absolute form of a native path; the path itself when the system can't make one.
std::string FullPath(const std::string& native) {
    const std::wstring wide = Wide(native);
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0)
            return native;
        if (n < full.size()) {
            full.resize(n);
            return Utf8(full);
        }
        full.resize(n);
    }
}

// Whether two native paths name one file (the same entry reached under two spellings).
bool SameFile(const std::wstring& a, const std::wstring& b) {
    auto identify = [](const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
        HANDLE h =
            ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        const bool ok = ::GetFileInformationByHandle(h, &info) != 0;
        ::CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return identify(a, ia) && identify(b, ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

// The name the folder entry at `native` carries, as the file system stores it.
std::wstring StoredName(const std::wstring& native) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW(native.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return {};
    ::FindClose(find);
    return data.cFileName;
}

std::wstring LastComponent(const std::wstring& native) {
    const std::size_t cut = native.find_last_of(L"\\/");
    return cut == std::wstring::npos ? native : native.substr(cut + 1);
}

// Gives `from` the name `to`, which names the same file in another letter case. Goes through
// a free temporary name: a rename onto its own entry keeps the old case on some systems.
bool RenameCaseOnly(const std::wstring& from, const std::wstring& to) {
    std::wstring temporary;
    for (int n = 0;; ++n) {
        if (n == 1000)
            return false;
        temporary = to + L".~" + std::to_wstring(n);
        if (::GetFileAttributesW(temporary.c_str()) == INVALID_FILE_ATTRIBUTES)
            break;
    }
    if (!::MoveFileExW(from.c_str(), temporary.c_str(), 0))
        return false;
    if (::MoveFileExW(temporary.c_str(), to.c_str(), 0))
        return true;
    ::MoveFileExW(temporary.c_str(), from.c_str(), 0);
    return false;
}

} // namespace

// --- Volumes -------------------------------------------------------------------------------

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

// --- Paths and files -----------------------------------------------------------------------

std::string DisplayPath(const std::string& path) {
    // The letter of a folder mapped as a drive is the program's own: show the folder.
    if (auto letter = DriveLetter(path); letter && MappedRoot(*letter))
        return NativePath(path);
    return path;
}

std::string NativePath(const std::string& path) {
    auto letter = DriveLetter(path);
    if (!letter)
        return Backslashes(path);
    const std::string rest = RootedComponents(path.substr(2));
    if (auto root = MappedRoot(*letter)) {
        if (rest.empty())
            return *root;
        return root->back() == '\\' ? *root + rest.substr(1) : *root + rest;
    }
    if (!SystemHasDrive(*letter))
        return {};
    // "E:" alone would mean the drive's current folder; the layer means its root.
    return std::string{*letter, ':'} + (rest.empty() ? "\\" : rest);
}

std::vector<DirEntry> ListDirectory(const std::string& pattern) {
    std::vector<DirEntry> entries;
    const std::wstring native = WideNative(pattern);
    if (native.empty())
        return entries;
    const std::size_t cut = pattern.find_last_of("\\/:");
    const std::string mask = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW(native.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return entries;
    do {
        std::string name = Utf8(data.cFileName);
        if (PatternMatches(mask, name))
            entries.push_back(
                {std::move(name), data.dwFileAttributes & (kAttrMaskAll | AttrNormal)});
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return entries;
}

bool FileExists(const std::string& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(WideNative(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
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
    const std::wstring native = WideNative(path);
    return !native.empty() && ::SetFileAttributesW(native.c_str(), FILE_ATTRIBUTE_NORMAL);
}

bool DeleteFile(const std::string& path) {
    const std::wstring native = WideNative(path);
    return !native.empty() && ::DeleteFileW(native.c_str());
}

bool RenameFile(const std::string& from, const std::string& to) {
    if (InjectedFault(FileOp::Rename, to) != 0)
        return false;
    const std::wstring source = WideNative(from);
    const std::wstring target = WideNative(to);
    if (source.empty() || target.empty() || Attributes(source) == INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD targetAttributes = Attributes(target);
    if (targetAttributes != INVALID_FILE_ATTRIBUTES) {
        if (SameFile(source, target))
            return source == target || RenameCaseOnly(source, target);
        // Checked here rather than left to MoveFileEx, whose answer for a read-only target
        // differs between Windows versions.
        if (targetAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
            return false;
    }
    if (!::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return false;
    // A replaced entry may keep its old letter case: the file takes the name asked for.
    const std::wstring asked = LastComponent(target);
    const std::wstring stored = StoredName(target);
    if (!stored.empty() && stored != asked) {
        const std::wstring folder = target.substr(0, target.size() - asked.size());
        RenameCaseOnly(folder + stored, target);
    }
    return true;
}

bool CreateDirectory(const std::string& path) {
    const std::wstring native = WideNative(path);
    return !native.empty() && ::CreateDirectoryW(native.c_str(), nullptr);
}

// No in-kernel copy here: the caller copies through its own buffer.
std::optional<std::size_t> CopyFileRange(std::FILE*, std::uint64_t, std::FILE*, std::size_t) {
    return 0;
}

std::size_t ReadFileAt(std::FILE* from, std::uint64_t offset, void* buffer, std::size_t count) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
        _fseeki64(from, static_cast<__int64>(offset), SEEK_SET) != 0)
        return 0;
    return std::fread(buffer, 1, count, from);
}

void PrepareMemory(void* p, std::size_t bytes) {
    (void)p, (void)bytes; // a first touch costs what it costs
}

// Windows reads each piece on its own: a stream's reads at offsets move its position.
struct BatchReader::Ring {};

BatchReader::BatchReader() = default;
BatchReader::~BatchReader() = default;

void BatchReader::ReadAll(ReadRequest* requests, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        requests[i].done =
            ReadFileAt(requests[i].from, requests[i].offset, requests[i].buffer, requests[i].count);
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    const std::wstring native = WideNative(path);
    if (native.empty())
        return nullptr;
    const DWORD a = Attributes(native);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    if (InjectedFault(FileOp::Open, path) != 0)
        return nullptr;
    std::FILE* f = ::_wfopen(native.c_str(), Wide(mode).c_str());
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

void KeepFreedMemory() {}

unsigned UsableProcessors() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) || process == 0)
        return 1;
    unsigned count = 0;
    for (; process != 0; process &= process - 1)
        ++count;
    return count;
}

void QuietThread() {
    // Console control events come on a thread of their own on Windows.
}

void ReserveSpace(std::FILE* f, std::uint64_t bytes) {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(f)));
    if (handle == INVALID_HANDLE_VALUE || bytes == 0)
        return;
    FILE_ALLOCATION_INFO info{};
    info.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes);
    const DWORD error = ::GetLastError();
    ::SetFileInformationByHandle(handle, FileAllocationInfo, &info, sizeof info);
    ::SetLastError(error);
}

bool SyncPath(const std::string& path) {
    if (InjectedFault(FileOp::Sync, path) != 0)
        return false;
    const std::wstring native = WideNative(path);
    const HANDLE h = native.empty() ? INVALID_HANDLE_VALUE
                                    : ::CreateFileW(native.c_str(), GENERIC_WRITE,
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
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
    const std::string path = Utf8(buffer);
    const std::size_t slash = path.find_last_of('\\');
    std::string folder = slash == std::string::npos ? path : path.substr(0, slash);
    while (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    return folder;
}

std::string ToDrivePath(const std::string& nativePath) {
    if (nativePath.empty())
        return {};
    std::string native = Backslashes(FullPath(nativePath));
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
