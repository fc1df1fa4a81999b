#pragma once
// Errors that no engine catches: they end the handler and reach the user as a message box.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace th {

// An error in text read from a file. Its text names the place as far as it is known:
// "SONG01.ADL, line 12: '' is not a valid integer value". Whoever knows the line or the file
// adds it and throws the error on.
class TextError : public std::runtime_error {
public:
    explicit TextError(const std::string& message);
    const char* what() const noexcept override { return text_.c_str(); }
    // The error without its place.
    const std::string& Message() const { return message_; }
    // Line 1 is the file's first line.
    void SetLine(std::size_t line);
    // The file's name is what follows the last backslash of `path`.
    void SetFile(const std::string& path);

private:
    void Compose();
    std::string message_;
    std::string file_;
    std::size_t line_ = 0;
    std::string text_;
};

// A text that is not a decimal integer where one is needed.
class ConvertError : public TextError {
public:
    using TextError::TextError;
};

// A list of lines read past its end.
class ListIndexError : public TextError {
public:
    using TextError::TextError;
};

// Decimal text to a signed 32-bit integer: optional blanks, optional sign, digits.
// Throws ConvertError "'<text>' is not a valid integer value" otherwise (also on overflow).
int StrToInt(std::string_view text);

// The error for reading line `index` of a list that ends before it.
ListIndexError LineMissing(std::size_t index);

// Line `index` of `lines`; throws ListIndexError naming the index when it is past the end, at
// line index + 1, the line that is missing.
const std::string& LineAt(const std::vector<std::string>& lines, std::size_t index);

} // namespace th
