// Files and folders on Windows, through the system's wide-character calls.
#include "platform/internal/Win32.h"

#include "platform/Files.h"
#include "platform/internal/Shared.h"

#include <string>

namespace platform {

using namespace detail;

namespace {

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

DWORD detail::Attributes(const std::wstring& native) {
    return native.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(native.c_str());
}

DWORD detail::Attributes(const std::string& path) {
    return Attributes(WideNative(path));
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

bool HasSubdirectory(const std::string& path) {
    // The find data carries the attributes: no look-up per entry.
    for (const DirEntry& e : ListDirectory(path + "\\*.*"))
        if (e.name != "." && e.name != ".." && (e.attributes & AttrDirectory))
            return true;
    return false;
}

} // namespace platform
