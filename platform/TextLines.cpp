// Splitting text into lines, whole or in pieces as a file is read.
#include "platform/TextLines.h"

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Streams.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace platform {

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
