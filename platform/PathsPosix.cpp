// Drive-letter paths on POSIX: a path is resolved against the volume table, and each
// component that does not exist as written is matched against its folder's entries ignoring
// ASCII letter case.
#include "platform/Paths.h"

#include "platform/internal/Posix.h"
#include "platform/internal/Shared.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {

using namespace detail;

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

std::vector<std::string> SplitComponents(const std::string& text) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : text) {
        if (IsSeparator(c)) {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

bool EntryExists(const std::string& native) {
    struct stat st;
    return ::lstat(native.c_str(), &st) == 0;
}

// The first entry of `folder` whose name equals `name` ignoring ASCII case.
std::optional<std::string> FindIgnoringCase(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return std::nullopt;
    std::optional<std::string> found;
    while (const dirent* e = ::readdir(dir)) {
        if (EqualsIgnoringCase(e->d_name, name)) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

} // namespace

namespace detail {

std::string TrimTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

std::string Join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

Resolved Resolve(const std::string& path) {
    std::string current;
    std::string rest;
    if (auto letter = DriveLetter(path)) {
        auto volume = FindVolume(*letter);
        if (!volume)
            return {};
        current = volume->root;
        rest = path.substr(2);
    } else if (!path.empty() && IsSeparator(path[0])) {
        current.assign(1, '/');
        rest = path;
    } else {
        std::error_code ec;
        current = fs::current_path(ec).string();
        if (ec)
            return {};
        rest = path;
    }

    std::vector<std::string> parts;
    for (std::string& p : SplitComponents(rest)) {
        if (p == ".")
            continue;
        if (p == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(std::move(p));
    }

    bool resolving = true;
    std::string name;
    for (const std::string& part : parts) {
        std::string candidate = Join(current, part);
        name = part;
        if (resolving && !EntryExists(candidate)) {
            if (auto match = FindIgnoringCase(current, part)) {
                candidate = Join(current, *match);
                name = *match;
            } else {
                // Nothing below a missing entry can exist: keep the rest as written.
                resolving = false;
            }
        }
        current = std::move(candidate);
    }
    return {current, name};
}

bool StatFollowing(const std::string& native, struct stat& st) {
    return !native.empty() && ::stat(native.c_str(), &st) == 0;
}

std::string LastComponent(const std::string& path) {
    auto parts = SplitComponents(path.size() >= 2 && DriveLetter(path) ? path.substr(2) : path);
    return parts.empty() ? std::string() : parts.back();
}

std::string ParentOf(const std::string& native) {
    const std::size_t slash = native.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return native.substr(0, slash);
}

} // namespace detail

std::string NativePath(const std::string& path) {
    return Resolve(path).native;
}

std::string DisplayPath(const std::string& path) {
    std::string native = NativePath(path);
    return native.empty() ? path : native;
}

std::string ProgramFolder() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    std::string folder = ec ? fs::current_path(ec).string() : exe.parent_path().string();
    folder = TrimTrailingSlashes(folder);
    if (folder.empty() || folder == "/")
        return "C:";
    std::replace(folder.begin(), folder.end(), '/', '\\');
    return "C:" + folder;
}

std::string ToDrivePath(const std::string& nativePath) {
    std::error_code ec;
    fs::path absolute = fs::absolute(nativePath, ec);
    if (ec || nativePath.empty())
        return {};
    const std::string native = TrimTrailingSlashes(absolute.lexically_normal().string());

    std::optional<char> best;
    std::string bestRoot;
    for (const auto& [letter, volume] : Volumes()) {
        const std::string& root = volume.root;
        const bool holds =
            root == "/" || native == root ||
            (native.size() > root.size() && native.compare(0, root.size(), root) == 0 &&
             native[root.size()] == '/');
        if (holds && (!best || root.size() > bestRoot.size())) {
            best = letter;
            bestRoot = root;
        }
    }
    if (!best)
        return {};
    std::string rest = bestRoot == "/" ? native : native.substr(bestRoot.size());
    if (rest == "/")
        rest.clear();
    std::replace(rest.begin(), rest.end(), '/', '\\');
    return std::string{*best, ':'} + rest;
}

} // namespace platform
