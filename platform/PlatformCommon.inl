// Parts of the platform layer that are the same on every system, included by the one
// platform source that is built.
#pragma once

#include "platform/Platform.h"

#include <algorithm>
#include <stdexcept>

namespace platform {

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
        throw std::runtime_error("Cannot open file \"" + path + "\"");
    return SplitLines(*content);
}

} // namespace platform
