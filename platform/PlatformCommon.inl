// Parts of the platform layer that are the same on every system, included by the one
// platform source that is built.
#pragma once

#include "platform/Platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
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

char PatternLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Name pattern of a folder listing: "*" and "*.*" take everything, otherwise "*" and "?"
// wildcards, letter case ignored. Windows matches patterns against short 8.3 names as well
// ("*.wav" would take "take.wave"), so its listings are filtered by this too.
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

bool PatternMatches(const std::string& pattern, const std::string& name) {
    if (pattern == "*" || pattern == "*.*")
        return true;
    return MatchesPattern(pattern.c_str(), name.c_str());
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

// The installed fault hook; `hooked` spares the lock on every write while none is installed.
struct FaultState {
    std::mutex mutex;
    FaultHook hook;
    std::map<const std::FILE*, std::string> writePaths; // streams opened for writing
    std::atomic<bool> hooked{false};
};

FaultState& Faults() {
    static FaultState state;
    return state;
}

// The error a test wants for this operation (errno set to it), or 0.
int InjectedFault(FileOp op, const std::string& path) {
    FaultState& s = Faults();
    if (!s.hooked.load(std::memory_order_acquire))
        return 0;
    std::lock_guard<std::mutex> lock(s.mutex);
    const int error = s.hook ? s.hook(op, path) : 0;
    if (error != 0)
        errno = error;
    return error;
}

int InjectedFault(FileOp op, const std::FILE* f) {
    FaultState& s = Faults();
    if (!s.hooked.load(std::memory_order_acquire))
        return 0;
    std::string path;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        auto it = s.writePaths.find(f);
        if (it != s.writePaths.end())
            path = it->second;
    }
    return InjectedFault(op, path);
}

bool IsWriteMode(const char* mode) {
    return std::strpbrk(mode, "wa+") != nullptr;
}

// Remembers the path of a stream opened for writing while a hook is installed, for the
// hook's sake.
void RememberStream(const std::FILE* f, const std::string& path, const char* mode) {
    FaultState& s = Faults();
    if (!f || !IsWriteMode(mode) || !s.hooked.load(std::memory_order_acquire))
        return;
    std::lock_guard<std::mutex> lock(s.mutex);
    s.writePaths[f] = path;
}

void ForgetStream(const std::FILE* f) {
    FaultState& s = Faults();
    if (!s.hooked.load(std::memory_order_acquire))
        return;
    std::lock_guard<std::mutex> lock(s.mutex);
    s.writePaths.erase(f);
}

} // namespace

void SetFaultHook(FaultHook hook) {
    FaultState& s = Faults();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.hooked.store(static_cast<bool>(hook), std::memory_order_release);
    s.hook = std::move(hook);
    s.writePaths.clear();
}

std::size_t WriteFile(std::FILE* f, const void* data, std::size_t count) {
    if (count == 0)
        return 0;
    if (InjectedFault(FileOp::Write, f) != 0)
        return 0;
    return std::fwrite(data, 1, count, f);
}

bool FlushFile(std::FILE* f) {
    if (InjectedFault(FileOp::Write, f) != 0)
        return false;
    return std::fflush(f) == 0;
}

bool CloseFile(std::FILE* f) {
    if (!f)
        return false;
    const int injected = InjectedFault(FileOp::Close, f);
    ForgetStream(f);
    const bool closed = std::fclose(f) == 0;
    if (injected != 0) {
        errno = injected;
        return false;
    }
    return closed;
}

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

void WarmMemory(void* p, std::size_t bytes) {
    PrepareMemory(p, bytes);
    // A read of one byte per page; the bytes are not changed.
    const auto* bytesAt = static_cast<const volatile unsigned char*>(p);
    unsigned char sum = 0;
    for (std::size_t at = 0; at < bytes; at += kMemoryPageBytes)
        sum = static_cast<unsigned char>(sum + bytesAt[at]);
    if (bytes > 0)
        sum = static_cast<unsigned char>(sum + bytesAt[bytes - 1]);
    (void)sum;
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
            PrepareMemory(content.data(), content.capacity());
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

namespace {

// Splits a text handed over in pieces into lines by SplitLines's rules, calling `take(line)`
// for each. A line within one piece is passed as a view into it; a line across pieces is put
// together first.
template <class Take> class LineSplitter {
public:
    explicit LineSplitter(Take& take) : take_(take) {}

    // Takes the next piece; `last` when no more follow. False once the text has ended at a zero
    // byte: later pieces are not part of it.
    bool Feed(std::string_view piece, bool last) {
        if (ended_)
            return false;
        const std::size_t zero = piece.find('\0');
        if (zero != std::string_view::npos) {
            piece = piece.substr(0, zero);
            ended_ = last = true;
        }
        const char* p = piece.data();
        const char* const end = p + piece.size();
        // An LF that opens this piece belongs to the CR that closed the last one.
        if (crEnded_ && p < end && *p == '\n')
            ++p;
        crEnded_ = false;
        // The next CR and LF at or after p (end when there is none), each found by one scan
        // that later lines reuse, so the text is read about twice whatever its line ends.
        const char* nextCr = nullptr;
        const char* nextLf = nullptr;
        const auto next = [&](const char*& cached, char c) {
            if (!cached || cached < p) {
                const void* hit = std::memchr(p, c, static_cast<std::size_t>(end - p));
                cached = hit ? static_cast<const char*>(hit) : end;
            }
            return cached;
        };
        while (p < end) {
            const char* eol = std::min(next(nextCr, '\r'), next(nextLf, '\n'));
            const std::string_view text(p, static_cast<std::size_t>(eol - p));
            if (eol == end) {
                // The end of the text ends its last line.
                if (last)
                    Emit(text);
                else
                    partial_.append(text);
                break;
            }
            Emit(text);
            p = eol + 1;
            if (*eol == '\r') {
                if (p == end)
                    crEnded_ = true;
                else if (*p == '\n')
                    ++p;
            }
        }
        if (last)
            Finish();
        return !ended_;
    }

    // The text has ended: a line still being put together is the last one.
    void Finish() {
        if (!partial_.empty())
            Emit({});
    }

private:
    void Emit(std::string_view text) {
        if (partial_.empty()) {
            take_(text);
            return;
        }
        partial_.append(text);
        take_(std::string_view(partial_));
        partial_.clear();
    }

    Take& take_;
    std::string partial_; // the start of a line that the next piece goes on with
    bool crEnded_ = false;
    bool ended_ = false;
};

// Calls `take(line)` for each line of `text` by SplitLines's rules.
template <class Take> void ForEachLine(std::string_view text, Take&& take) {
    LineSplitter<Take> splitter(take);
    splitter.Feed(text, true);
}

std::string LoadText(const std::string& path) {
    auto content = ReadWholeFile(path);
    if (!content)
        throw std::runtime_error("Cannot open file \"" + DisplayPath(path) + "\"");
    return std::move(*content);
}

} // namespace

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    ForEachLine(text, [&lines](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

std::vector<std::string> LoadLines(const std::string& path) {
    return SplitLines(LoadText(path));
}

namespace {
// The line feeds in `text`, found by the library's search (a byte at a time costs several
// times more on a list of a megabyte).
std::size_t CountLineFeeds(std::string_view text) {
    std::size_t count = 0;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (const void* hit = std::memchr(p, '\n', static_cast<std::size_t>(end - p))) {
        ++count;
        p = static_cast<const char*>(hit) + 1;
    }
    return count;
}
} // namespace

TextLines::TextLines(std::string text) : text_(std::make_unique<std::string>(std::move(text))) {
    // Room for every line at once (a text with line feeds has about one line per feed): a
    // growing index would be copied and would touch fresh memory at every step.
    lines_.reserve(CountLineFeeds(*text_) + 1);
    PrepareMemory(lines_.data(), lines_.capacity() * sizeof(std::string_view));
    ForEachLine(*text_, [this](std::string_view line) { lines_.push_back(line); });
}

TextLines LoadTextLines(const std::string& path) {
    return TextLines(LoadText(path));
}

void ForEachLineOfFile(const std::string& path, const std::function<void(std::string_view)>& take) {
    std::FILE* f = OpenFile(path, "rb");
    if (!f)
        throw std::runtime_error("Cannot open file \"" + DisplayPath(path) + "\"");
    const auto piece = std::make_unique_for_overwrite<char[]>(kLinePieceBytes);
    LineSplitter splitter(take);
    std::size_t n;
    while ((n = std::fread(piece.get(), 1, kLinePieceBytes, f)) > 0 &&
           splitter.Feed(std::string_view(piece.get(), n), false)) {
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        throw std::runtime_error("Cannot open file \"" + DisplayPath(path) + "\"");
    splitter.Finish();
}

} // namespace platform
