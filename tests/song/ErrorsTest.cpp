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

// The place is added by whoever knows it; the type and the bare message stay.
TEST(TextError, NamesThePlaceItIsGiven) {
    const struct {
        std::size_t line;
        const char* file;
        const char* text;
    } cases[] = {
        {0, nullptr, "'' is not a valid integer value"},
        {12, nullptr, "line 12: '' is not a valid integer value"},
        {0, "E:\\SONG01\\SONG01.ADL", "SONG01.ADL: '' is not a valid integer value"},
        {12, "E:\\SONG01\\SONG01.ADL", "SONG01.ADL, line 12: '' is not a valid integer value"},
        {3, "song.adl", "song.adl, line 3: '' is not a valid integer value"},
    };
    for (const auto& c : cases) {
        try {
            try {
                StrToInt("");
            } catch (TextError& e) {
                if (c.line)
                    e.SetLine(c.line);
                if (c.file)
                    e.SetFile(c.file);
                throw;
            }
            ADD_FAILURE();
        } catch (const ConvertError& e) {
            EXPECT_STREQ(e.what(), c.text);
            EXPECT_EQ(e.Message(), "'' is not a valid integer value");
        }
    }
}

} // namespace
} // namespace th
