#pragma once
// Errors that no engine catches: they end the handler and reach the user as a message box.
#include <stdexcept>
#include <string>
#include <vector>

namespace th {

// A text that is not a decimal integer where one is needed.
class ConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A list of lines read past its end.
class ListIndexError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Decimal text to a signed 32-bit integer: optional blanks, optional sign, digits.
// Throws ConvertError "'<text>' is not a valid integer value" otherwise (also on overflow).
int StrToInt(const std::string& text);

// Line `index` of `lines`; throws ListIndexError naming the index when it is past the end.
const std::string& LineAt(const std::vector<std::string>& lines, std::size_t index);

} // namespace th
