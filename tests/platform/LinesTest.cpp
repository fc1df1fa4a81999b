#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct SplitCase {
    const char* label;
    std::string text;
    std::vector<std::string> lines;
};

class SplitLinesTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitLinesTest, SplitsAtEveryKindOfLineEnd) {
    EXPECT_EQ(platform::SplitLines(GetParam().text), GetParam().lines);
    // The views split alike, and stay valid when the lines are moved.
    platform::TextLines moved(GetParam().text);
    const platform::TextLines views = std::move(moved);
    std::vector<std::string> viewed;
    for (std::size_t i = 0; i < views.size(); ++i)
        viewed.emplace_back(views[i]);
    EXPECT_EQ(viewed, GetParam().lines);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitLinesTest,
    ::testing::Values(
        SplitCase{"Empty", "", {}}, SplitCase{"NoLineEnd", "one", {"one"}},
        SplitCase{"CrLf", "a\r\nb\r\nc", {"a", "b", "c"}},
        SplitCase{"LoneCr", "a\rb\rc", {"a", "b", "c"}},
        SplitCase{"LoneLf", "a\nb\nc", {"a", "b", "c"}},
        SplitCase{"Mixed", "a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        SplitCase{"FinalLineEndAddsNoLine", "a\r\nb\r\n", {"a", "b"}},
        SplitCase{"FinalLoneCr", "a\r", {"a"}}, SplitCase{"TwoEmptyLines", "\r\n\r\n", {"", ""}},
        SplitCase{"LfCrIsTwoLineEnds", "a\n\rb", {"a", "", "b"}},
        SplitCase{"CrCrLf", "a\r\r\nb", {"a", "", "b"}},
        SplitCase{"ZeroByteEndsText", "a\r\nb\0c\r\nd"s, {"a", "b"}},
        SplitCase{"ZeroByteFirst", "\0a\r\n"s, {}},
        SplitCase{"CrLfSplitByZero", "a\r\0\nb"s, {"a"}},
        SplitCase{"EightBitBytesKept", "\x82\xa0\t \xff\r\n\x80", {"\x82\xa0\t \xff", "\x80"}},
        SplitCase{"BlanksKept", "  a  \r\n\t", {"  a  ", "\t"}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return info.param.label; });

// A file read in pieces splits as the whole text does, whichever byte of a case stands at the
// border between two pieces.
TEST_P(SplitLinesTest, SplitsAlikeAcrossTheBorderOfTwoPieces) {
    testsupport::TempDir dir;
    testsupport::MappedDrive drive("E:", dir.path());
    for (std::size_t before : {1u, 2u, 3u}) {
        const std::string text =
            std::string(platform::kLinePieceBytes - before, 'p') + GetParam().text + "\r\nz";
        testsupport::WriteFile(dir / "list.adl", text);
        std::vector<std::string> lines;
        platform::ForEachLineOfFile("E:\\list.adl",
                                    [&lines](std::string_view line) { lines.emplace_back(line); });
        EXPECT_EQ(lines, platform::SplitLines(text)) << before;
    }
}

TEST(LoadLinesTest, ReadsThroughTheDriveLetter) {
    testsupport::TempDir dir;
    testsupport::MappedDrive drive("E:", dir.path());
    std::filesystem::create_directory(dir / "Song");
    testsupport::WriteFile(dir / "Song" / "Song.adl",
                           "<SEQUENCE>\r\n\tSample_frequency\tF48000\r\n");
    EXPECT_EQ(platform::LoadLines("E:\\Song\\Song.ADL"),
              (std::vector<std::string>{"<SEQUENCE>", "\tSample_frequency\tF48000"}));
    const platform::TextLines views = platform::LoadTextLines("E:\\Song\\Song.ADL");
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views.back(), "\tSample_frequency\tF48000");
}

TEST(LoadLinesTest, ReadsALargeFileWhole) {
    // Longer than any one read, with a line end across the reads' borders.
    testsupport::TempDir dir;
    testsupport::MappedDrive drive("E:", dir.path());
    std::string text;
    for (int i = 0; text.size() < 300000; ++i)
        text += "line " + std::to_string(i) + (i % 2 ? "\r\n" : "\n");
    testsupport::WriteFile(dir / "big.adl", text);
    EXPECT_EQ(platform::LoadLines("E:\\big.adl"), platform::SplitLines(text));
    EXPECT_EQ(platform::LoadTextLines("E:\\big.adl").size(), platform::SplitLines(text).size());
}

TEST(LoadLinesTest, MissingFileThrowsNamingTheFile) {
    testsupport::TempDir dir;
    testsupport::MappedDrive drive("E:", dir.path());
    try {
        platform::LoadLines("E:\\Song\\Song.ADL");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        // The file as the system writes its path.
        EXPECT_EQ(e.what(), "Cannot open file \"" + (dir / "Song" / "Song.ADL").string() + "\"");
    }
    // A folder is not a text file either.
    std::filesystem::create_directory(dir / "Song");
    EXPECT_THROW(platform::LoadLines("E:\\Song"), std::runtime_error);
    EXPECT_THROW(platform::LoadTextLines("E:\\Song"), std::runtime_error);
    EXPECT_THROW(platform::ForEachLineOfFile("E:\\Song", [](std::string_view) {}),
                 std::runtime_error);
}

} // namespace
