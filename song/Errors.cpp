#include "song/Errors.h"

#include <cstdint>

namespace th {

int StrToInt(const std::string& text) {
    const auto fail = [&text]() -> int {
        throw ConvertError("'" + text + "' is not a valid integer value");
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

const std::string& LineAt(const std::vector<std::string>& lines, std::size_t index) {
    if (index >= lines.size())
        throw ListIndexError("List index out of bounds (" + std::to_string(index) + ")");
    return lines[index];
}

} // namespace th
