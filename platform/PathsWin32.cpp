// Drive-letter paths on Windows: a drive mapped to a folder is replaced by the folder, every
// other drive letter is passed to the system unchanged. Texts inside the program are UTF-8;
// they are converted at this layer's calls and nowhere else.
#include "platform/internal/Win32.h"

#include "platform/Paths.h"
#include "platform/internal/Shared.h"

#include <algorithm>
#include <cwchar>
#include <mutex>
#include <vector>

namespace platform {

using namespace detail;

namespace {

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

} // namespace

namespace detail {

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

std::string Backslashes(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::wstring WideNative(const std::string& path) {
    const std::string native = NativePath(path);
    return native.empty() ? std::wstring() : Wide(native);
}

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

} // namespace detail

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

} // namespace platform
