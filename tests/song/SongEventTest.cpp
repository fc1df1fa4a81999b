#include "song/SongEvent.h"

#include "song/Adl.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace th {
namespace {

// Both sizes of text field, each with texts on both sides of the length it keeps in place:
// the empty text, a timecode, the longest kept in place, one byte more, and a long damaged
// field.
template <class Text> class TextField : public ::testing::Test {};
using TextSizes = ::testing::Types<ShortText, TimecodeText>;
TYPED_TEST_SUITE(TextField, TextSizes);

TYPED_TEST(TextField, KeepsEveryTextWholeThroughCopiesMovesAndReassignments) {
    using Text = TypeParam;
    const std::string texts[] = {"", "00|00|54.09|1428", std::string(Text::kKeptInPlace, 'a'),
                                 std::string(Text::kKeptInPlace + 1, 'b'),
                                 std::string(300, 'c') + "\t\"x\""};
    for (const std::string& first : texts) {
        for (const std::string& second : texts) {
            SCOPED_TRACE(first.size());
            SCOPED_TRACE(second.size());
            Text a(first);
            EXPECT_EQ(a, first);
            EXPECT_EQ(a.size(), first.size());
            EXPECT_EQ(a.data()[a.size()], '\0');

            Text copy(a);
            a = second;
            EXPECT_EQ(copy, first);
            EXPECT_EQ(a, second);
            EXPECT_EQ(a.data()[a.size()], '\0'); // also where a longer text stood

            Text moved(std::move(copy));
            EXPECT_EQ(moved, first);
            copy = "z"; // a moved-from text takes a new one
            EXPECT_EQ(copy, "z");

            moved = std::move(a);
            EXPECT_EQ(moved, second);
            moved = moved;
            EXPECT_EQ(moved, second);
            // A text assigned from a part of itself: the part is taken before the old text goes.
            moved.assign(moved.view().substr(moved.size() / 2));
            EXPECT_EQ(moved, second.substr(second.size() / 2));
            EXPECT_EQ(moved.data()[moved.size()], '\0');
            moved.clear();
            EXPECT_TRUE(moved.empty());
            EXPECT_EQ(moved, "");
            a.assign(std::string_view()); // a view of no bytes at all
            EXPECT_EQ(a, "");
        }
    }
}

TEST(TimecodeText, AnEventListKeepsLongTimecodeFieldsWhole) {
    const std::string longIn = "00|00|54.09|1428" + std::string(40, '9');
    SongEventTable table;
    ASSERT_TRUE(ReadEventList(
        Lines{"<EVENT_LIST>",
              "(Entry)\t0001\t(Cut)\tF\t\"A.WAV\"\t1\t1\t" + longIn + "\t00 |00|00.00|0000\tx\t_",
              "</EVENT_LIST>"},
        table));
    EXPECT_EQ(table.Row(1).SourceIn, longIn);
    EXPECT_EQ(table.Row(1).DestIn, "00|00|00.00|0000"); // blanks removed
    EXPECT_EQ(table.Row(1).DestOut, "x");
}

// Rows are made when first asked for: a row handed out stays in place while later rows are
// made, one never made reads as empty, copies keep every row, and rows outside 1..9999 are
// refused.
TEST(SongEventTable, RowsStayInPlaceAndReadEmptyUntilMade) {
    SongEventTable table;
    const SongEventTable& view = table;
    EXPECT_EQ(view.Row(SongEventTable::kRows).SourceFile, "");
    SongEvent& first = table.Row(1);
    first.SourceFile = "ZT60001.WAV";
    EXPECT_EQ(view.Row(1).SourceFile, "ZT60001.WAV");
    EXPECT_EQ(view.Row(2).SourceFile, "");
    table.Row(5000).DestChannel = 3;
    table.Row(SongEventTable::kRows).EntryNo = 9999;
    EXPECT_EQ(&first, &table.Row(1));
    EXPECT_EQ(view.Row(1).SourceFile, "ZT60001.WAV");
    EXPECT_EQ(view.Row(4999).DestChannel, 0);

    table.EventCount = 2;
    SongEventTable copy = table;
    SongEvent& copied = copy.Row(1);
    copy.Row(SongEventTable::kRows).EntryNo = 1;
    EXPECT_EQ(&copied, &copy.Row(1));
    EXPECT_EQ(copy.Row(1).SourceFile, "ZT60001.WAV");
    EXPECT_EQ(copy.Row(5000).DestChannel, 3);
    EXPECT_EQ(copy.EventCount, 2);
    EXPECT_EQ(view.Row(SongEventTable::kRows).EntryNo, 9999);

    for (const int outside : {0, -1, SongEventTable::kRows + 1}) {
        EXPECT_THROW(table.Row(outside), std::out_of_range) << outside;
        EXPECT_THROW(view.Row(outside), std::out_of_range) << outside;
    }
}

} // namespace
} // namespace th
