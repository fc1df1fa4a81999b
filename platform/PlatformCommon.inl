// Parts of the platform layer that are the same on every system, included by the one
// platform source that is built.
#pragma once

#include "platform/Platform.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace platform {

namespace {

// The letter of a drive text ("e:", "E:\\..."), upper-cased.
std::optional<char> DriveLetter(const std::string& text) {
    if (text.size() < 2 || text[1] != ':')
        return std::nullopt;
    const char c = text[0];
    if (c >= 'a' && c <= 'z')
        return static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z')
        return c;
    return std::nullopt;
}

// Folders presented as removable drives, by letter.
std::mutex& MappingMutex() {
    static std::mutex m;
    return m;
}

std::map<char, std::string>& Mappings() {
    static std::map<char, std::string> m;
    return m;
}

} // namespace

void UnmapDrive(const std::string& drive) {
    auto letter = DriveLetter(drive);
    if (!letter)
        return;
    std::lock_guard<std::mutex> lock(MappingMutex());
    Mappings().erase(*letter);
}

bool IsDeviceDrive(const std::string& rootPath) {
    return GetDriveType(rootPath) == DriveType::Removable && rootPath != "A:\\";
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::FILE* f = OpenFile(path, "rb");
    if (!f)
        return std::nullopt;
    std::string content;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        content.append(buffer, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        return std::nullopt;
    return content;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    const std::size_t end = std::min(text.find('\0'), text.size());
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < end) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(text.substr(start, i - start));
            i += (c == '\r' && i + 1 < end && text[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < end)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::vector<std::string> LoadLines(const std::string& path) {
    auto content = ReadWholeFile(path);
    if (!content)
        throw std::runtime_error("Cannot open file \"" + DisplayPath(path) + "\"");
    return SplitLines(*content);
}

} // namespace platform
