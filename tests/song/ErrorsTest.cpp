#include "song/Errors.h"

#include <gtest/gtest.h>

namespace th {
namespace {

TEST(StrToInt, ConvertsDecimal) {
    const struct {
        const char* text;
        int value;
    } cases[] = {{"0", 0},
                 {"0001", 1},
                 {"7", 7},
                 {"-5", -5},
                 {"+12", 12},
                 {"  42", 42},
                 {"2147483647", 2147483647},
                 {"-2147483648", -2147483647 - 1}};
    for (const auto& c : cases)
        EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
}

TEST(StrToInt, RejectsEverythingElseWithItsMessage) {
    for (const char* text : {"", " ", "-", "12a", "1 ", "1.5", "0x10", "$10", "2147483648",
                             "-2147483649", "99999999999999999999", "\"1\""}) {
        try {
            StrToInt(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const ConvertError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "'" + std::string(text) + "' is not a valid integer value");
        }
    }
}

TEST(LineAt, ThrowsPastTheEnd) {
    const std::vector<std::string> lines = {"a", "b", "c"};
    EXPECT_EQ(LineAt(lines, 2), "c");
    try {
        LineAt(lines, 3);
        ADD_FAILURE();
    } catch (const ListIndexError& e) {
        // The missing line is the fourth.
        EXPECT_STREQ(e.what(), "line 4: List index out of bounds (3)");
        EXPECT_EQ(e.Message(), "List index out of bounds (3)");
    }
    EXPECT_THROW(LineAt({}, 0), ListIndexError);
}

} // namespace
} // namespace th
