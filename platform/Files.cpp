// The parts of files and folders that are the same on every system: the name patterns of a
// folder listing and reading a whole file.
#include "platform/Files.h"

#include "platform/Streams.h"
#include "platform/internal/Shared.h"

#include <algorithm>
#include <cstdio>

namespace platform {

namespace {

char PatternLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Windows matches patterns against short 8.3 names as well ("*.wav" would take "take.wave"),
// so its listings are filtered by this too.
bool MatchesPattern(const char* pattern, const char* name) {
    if (*pattern == '\0')
        return *name == '\0';
    if (*pattern == '*') {
        for (const char* n = name;; ++n) {
            if (MatchesPattern(pattern + 1, n))
                return true;
            if (*n == '\0')
                return false;
        }
    }
    if (*name == '\0')
        return false;
    if (*pattern != '?' && PatternLower(*pattern) != PatternLower(*name))
        return false;
    return MatchesPattern(pattern + 1, name + 1);
}

} // namespace

bool detail::PatternMatches(const std::string& pattern, const std::string& name) {
    if (pattern == "*" || pattern == "*.*")
        return true;
    return MatchesPattern(pattern.c_str(), name.c_str());
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::FILE* f = OpenFile(path, "rb");
    if (!f)
        return std::nullopt;
    // Read straight into the string, sized from the file's length (one byte more, so that
    // the end is seen without growing it); a file that grows meanwhile is still read whole.
    std::string content;
    std::size_t used = 0;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        const long length = std::ftell(f);
        if (length > 0) {
            content.reserve(static_cast<std::size_t>(length) + 1);
            content.resize(static_cast<std::size_t>(length) + 1);
        }
        std::rewind(f);
    }
    for (;;) {
        if (used == content.size())
            content.resize(std::max<std::size_t>(2 * used, 65536));
        const std::size_t n = std::fread(content.data() + used, 1, content.size() - used, f);
        used += n;
        if (n == 0 || used < content.size())
            break;
    }
    content.resize(used);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        return std::nullopt;
    return content;
}

} // namespace platform
