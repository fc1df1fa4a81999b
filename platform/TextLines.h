#pragma once
// Text files as lines. A line ends at CR LF, a lone CR or a lone LF; the end of the text ends
// the last line (so a final line end leaves no empty last line); a zero byte ends the text.
// Bytes are kept as they are.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Splits text into lines by the rules above.
std::vector<std::string> SplitLines(const std::string& text);

// Loads a text file as lines (SplitLines). Throws std::runtime_error naming the file when it
// can't be opened.
std::vector<std::string> LoadLines(const std::string& path);

// A text's lines by SplitLines's rules, as views into the text, which the object keeps: a long
// list is read without a string per line.
class TextLines {
public:
    TextLines() = default;
    explicit TextLines(std::string text);
    TextLines(TextLines&&) = default;
    TextLines& operator=(TextLines&&) = default;
    TextLines(const TextLines&) = delete;
    TextLines& operator=(const TextLines&) = delete;

    std::size_t size() const { return lines_.size(); }
    bool empty() const { return lines_.empty(); }
    std::string_view operator[](std::size_t i) const { return lines_[i]; }
    std::string_view back() const { return lines_.back(); }

private:
    std::unique_ptr<std::string> text_; // on the heap, so that a move leaves the views valid
    std::vector<std::string_view> lines_;
};

// Loads a text file as TextLines; throws as LoadLines does.
TextLines LoadTextLines(const std::string& path);

// Calls `take` with each line of a text file (SplitLines's rules), reading the file in pieces
// of kLinePieceBytes, so that a long file is never held whole. Throws as LoadLines does, also
// when the file can't be read to its end (after the lines read so far were taken).
inline constexpr std::size_t kLinePieceBytes = 65536;
void ForEachLineOfFile(const std::string& path, const std::function<void(std::string_view)>& take);

} // namespace platform
