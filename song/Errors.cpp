#include "song/Errors.h"

#include <cstdint>

namespace th {

TextError::TextError(const std::string& message)
    : std::runtime_error(message), message_(message), text_(message) {}

void TextError::SetLine(std::size_t line) {
    line_ = line;
    Compose();
}

void TextError::SetFile(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    file_ = slash == std::string::npos ? path : path.substr(slash + 1);
    Compose();
}

void TextError::Compose() {
    std::string place = file_;
    if (line_ != 0)
        place += (place.empty() ? "line " : ", line ") + std::to_string(line_);
    text_ = place.empty() ? message_ : place + ": " + message_;
}

int StrToInt(std::string_view text) {
    const auto fail = [&text]() -> int {
        throw ConvertError("'" + std::string(text) + "' is not a valid integer value");
    };
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return fail();
    // Accumulate the magnitude in 64 bits; anything past 2^31 is out of range either way.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return fail();
        value = value * 10 + (c - '0');
        if (value > limit)
            return fail();
    }
    return static_cast<int>(negative ? -value : value);
}

ListIndexError LineMissing(std::size_t index) {
    ListIndexError error("List index out of bounds (" + std::to_string(index) + ")");
    error.SetLine(index + 1);
    return error;
}

const std::string& LineAt(const std::vector<std::string>& lines, std::size_t index) {
    if (index >= lines.size())
        throw LineMissing(index);
    return lines[index];
}

} // namespace th
