#include "song/Adl.h"

#include "song/Errors.h"

#include <gtest/gtest.h>

#include <string>

namespace th {
namespace {

// Line 5 of a <SEQUENCE> block: indentation and key fill 19 characters, then the timecode.
std::string SequenceLine5(const std::string& tc) {
    return "\t\t(DEST_FADE_TC)   " + tc;
}

Lines SequenceBlock(const std::string& rateLine, const std::string& tc) {
    return {"<SEQUENCE>",           "\t(SAMPLE_RATE)    S" + rateLine,
            "\t(FRAME_RATE)    25", "\t(ADL_ID)",
            "\t(VERSION)",          SequenceLine5(tc),
            "</SEQUENCE>"};
}

// A list as the recorder writes it, with `events` lines in its event list.
Lines MakeAdl(const Lines& events, const std::string& tc = "00.00.00.00|0000") {
    Lines lines = {"<ADL>", "\t<VERSION>", "\t</VERSION>"};
    for (const auto& l : SequenceBlock("44100", tc))
        lines.push_back(l);
    lines.push_back("<EVENT_LIST>");
    for (const auto& e : events)
        lines.push_back(e);
    lines.push_back("\t</EVENT_LIST>");
    lines.push_back("</ADL>");
    return lines;
}

std::string Join(const Lines& lines) {
    std::string text;
    for (const auto& l : lines)
        text += l + "\r\n";
    return text;
}

// Every field of an event, for comparing two.
std::string Describe(const SongEvent& e) {
    return e.EntryTag.str() + "|" + std::to_string(e.EntryNo) + "|" + e.EditKind.str() + "|" +
           e.SourceType.str() + "|" + e.SourceFile.str() + "|" + std::to_string(e.SourceChannel) +
           "|" + std::to_string(e.DestChannel) + "|" + e.SourceIn.str() + "|" + e.DestIn.str() +
           "|" + e.DestOut.str() + "|" + e.Remainder.str();
}

std::string CutLine(int no, const std::string& file, int track) {
    return "\t\t(Entry)\t" + std::to_string(1000 + no).substr(1) + "\t(Cut)\tF\t\"" + file +
           "\"\t1\t" + std::to_string(track) +
           "\t00.00.00.00|0000\t00.00.01.00|0000\t00.00.02.00|0000\t_";
}

TEST(Adl, TrimRemovesControlCharactersAndBlanksOnly) {
    EXPECT_EQ(Trim("\t\x01 a b \r\n"), "a b");
    EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0"); // bytes above 127 are text
    EXPECT_EQ(Trim(" \t "), "");
    EXPECT_EQ(Trim(std::string("\0x\0", 3)), "x");
}

TEST(Adl, SequenceLines) {
    EXPECT_FALSE(ReadSequenceLines({"<ADL>", "<sequence>", "<SEQUENCE> x", "</ADL>"}));

    const auto seq = ReadSequenceLines(MakeAdl({}));
    ASSERT_TRUE(seq);
    EXPECT_EQ((*seq)[0], "<SEQUENCE>");
    EXPECT_EQ((*seq)[1], "(SAMPLE_RATE)    S44100");
    EXPECT_EQ((*seq)[5], "(DEST_FADE_TC)   00.00.00.00|0000");
    EXPECT_EQ((*seq)[6], "");

    // Lines past the tenth slot are ignored.
    Lines longBlock = {"<SEQUENCE>"};
    for (int i = 1; i <= 14; ++i)
        longBlock.push_back("line" + std::to_string(i));
    longBlock.push_back("</SEQUENCE>");
    const auto longSeq = ReadSequenceLines(longBlock);
    ASSERT_TRUE(longSeq);
    EXPECT_EQ((*longSeq)[9], "line9");

    // A later block counts: it overwrites the slots from slot 0, the others keep their lines.
    Lines two = longBlock;
    for (const auto& l : {"<SEQUENCE>", "(SAMPLE_RATE)    S22050", "</SEQUENCE>"})
        two.push_back(l);
    const auto twoSeq = ReadSequenceLines(two);
    ASSERT_TRUE(twoSeq);
    EXPECT_EQ((*twoSeq)[1], "(SAMPLE_RATE)    S22050");
    EXPECT_EQ((*twoSeq)[2], "line2");

    EXPECT_THROW(ReadSequenceLines({"<SEQUENCE>", "(SAMPLE_RATE)    S44100"}), ListIndexError);
}

TEST(Adl, SampleRateFromSlotOne) {
    const struct {
        const char* slot1;
        int rate;
    } cases[] = {
        {"(SAMPLE_RATE)    S44100", 44100},
        {"ABCDEFGHIJKLMNOPQ   S48000", 48000},
        {"ABCDEFGHIJKLMNOPQS22050", 22050},
        {"(SAMPLE_RATE) S44100", 0}, // a short key cuts into the number: "00"
    };
    for (const auto& c : cases) {
        SequenceLines seq;
        seq[1] = c.slot1;
        EXPECT_EQ(SampleRateFromSequence(seq), c.rate) << c.slot1;
    }
    SequenceLines empty;
    try {
        SampleRateFromSequence(empty);
        ADD_FAILURE();
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid integer value");
    }
    SequenceLines bad;
    bad[1] = "(SAMPLE_RATE)    S44.1k";
    EXPECT_THROW(SampleRateFromSequence(bad), ConvertError);
}

TEST(Adl, FrameRateText) {
    const struct {
        std::string line;
        std::optional<std::string> text;
    } cases[] = {
        {SequenceLine5("00=00=00.00|0000"), "F24"},
        {SequenceLine5("00.00.00.00|0000"), "F25"},
        {SequenceLine5("00|00|00.00|0000"), "F30nd"},
        {SequenceLine5("00|00|00,00|0000"), "F30df"},
        {SequenceLine5("00|00|00,00L0000"), "F30df"},
        {SequenceLine5("00:00:00.00|0000"), std::nullopt}, // 29.97 isn't written
        {SequenceLine5("00|00|00;00|0000"), std::nullopt},
        {SequenceLine5("00=0"), "F24"},
        {SequenceLine5("00|00|0"), std::nullopt},
        {SequenceLine5(""), std::nullopt},
        {"\t(DEST_FADE_TC) 00|00|00,00|0000", std::nullopt}, // shifted: wrong characters
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FrameRateTextOfLine(c.line), c.text) << c.line;
}

TEST(Adl, ScanFindsFrameRateAndNextEntryNumber) {
    const struct {
        Lines events;
        int next;
    } cases[] = {
        {{CutLine(1, "A.WAV", 1), CutLine(2, "B.WAV", 2), CutLine(3, "C.WAV", 3)}, 4},
        {{}, 1},
        {{CutLine(1, "A.WAV", 1), ""}, 3}, // a blank line counts
    };
    for (const auto& c : cases) {
        ScanError why = ScanError::NoSequence;
        const auto scan = ScanForExport(MakeAdl(c.events, "00|00|00,00|0000"), &why);
        ASSERT_TRUE(scan);
        EXPECT_EQ(why, ScanError::None);
        EXPECT_EQ(scan->frameRateText, "F30df");
        EXPECT_EQ(scan->nextEntryNo, c.next);
    }
}

TEST(Adl, ScanLooksForTheEndFromTheSecondLineOn) {
    Lines lines = SequenceBlock("44100", "00=00=00.00|0000");
    for (const auto& l : {"<EVENT_LIST>", "</ADL>", "\t</EVENT_LIST>", "</ADL>"})
        lines.push_back(l);
    const auto scan = ScanForExport(lines);
    ASSERT_TRUE(scan);
    EXPECT_EQ(scan->frameRateText, "F24");
    EXPECT_EQ(scan->nextEntryNo, 2);
}

TEST(Adl, ScanRefusesWhatItCannotRewrite) {
    Lines noSequence = MakeAdl({});
    noSequence.erase(noSequence.begin() + 3, noSequence.begin() + 10);
    Lines shortSequence = {"<SEQUENCE>", "</SEQUENCE>", "<EVENT_LIST>", "\t</EVENT_LIST>",
                           "</ADL>"};
    Lines unclosed = MakeAdl({});
    unclosed.pop_back();
    Lines noEvents = MakeAdl({});
    noEvents.erase(noEvents.end() - 3);
    noEvents.erase(noEvents.end() - 2);
    Lines trailingBlank = MakeAdl({});
    trailingBlank.push_back("");
    // The import stops at the first "</EVENT_LIST>": events added after it would be unseen.
    Lines closedTwice = MakeAdl({});
    closedTwice.insert(closedTwice.end() - 2, "\t</EVENT_LIST>");
    closedTwice.insert(closedTwice.end() - 2, "\t\t(Entry)\t0001\t(Cut)");
    Lines secondList = MakeAdl({});
    for (const char* l : {"<EVENT_LIST>", "\t</EVENT_LIST>", "</ADL>"})
        secondList.push_back(l);

    const struct {
        Lines lines;
        ScanError why;
    } cases[] = {
        {noSequence, ScanError::NoSequence},
        {shortSequence, ScanError::NoSequence},
        {MakeAdl({}, "00:00:00.00|0000"), ScanError::BadFrameRate},
        {MakeAdl({}, "00|00"), ScanError::BadFrameRate},
        {unclosed, ScanError::UnclosedEventList},
        {noEvents, ScanError::NoEventList},
        {trailingBlank, ScanError::NoClosingLines},
        {closedTwice, ScanError::ClosedEarly},
        {secondList, ScanError::ClosedEarly},
        {{}, ScanError::NoSequence},
    };
    for (const auto& c : cases) {
        ScanError why = ScanError::None;
        EXPECT_FALSE(ScanForExport(c.lines, &why));
        EXPECT_EQ(why, c.why);
    }
}

TEST(Adl, FrameRateCodesAndZeroTimecodes) {
    const struct {
        int rate;
        const char* frt;
        int code;
        bool drop;
        const char* zero;
    } cases[] = {
        {22050, "F24", 24, false, "00=00=00.00L0000"},
        {44100, "F24", 24, false, "00=00=00.00|0000"},
        {22050, "F25", 25, false, "00.00.00.00L0000"},
        {44100, "F25", 25, false, "00.00.00.00|0000"},
        {22050, "F30nd", 30, false, "00|00|00.00L0000"},
        {44100, "F30nd", 30, false, "00|00|00.00|0000"},
        {22050, "F30df", 30, true, "00|00|00,00L0000"},
        {44100, "F30df", 30, true, "00|00|00,00|0000"},
        {48000, "F30df", 30, true, "00|00|00,00/0000"},
        {48000, "F24", 24, false, "00=00=00.00/0000"},
        {32000, "F25", 25, false, ""},
        {44100, "", 0, false, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FrameRateCode(c.frt), c.code) << c.frt;
        EXPECT_EQ(IsDropFrame(c.frt), c.drop) << c.frt;
        EXPECT_EQ(ZeroTimecode(c.rate, c.frt), c.zero) << c.frt << " " << c.rate;
    }
}

TEST(Adl, ComposesEventLine) {
    EXPECT_EQ(ComposeEventLine(4, "ZT60001.WAV", 3, "00.00.00.00|0000", "00.00.02.06|1216"),
              "\t\t(Entry)\t0004\t(Cut)\tF\t\"ZT60001.WAV\"\t1\t3\t00.00.00.00|0000\t"
              "00.00.00.00|0000\t00.00.02.06|1216\t_\r\n");
    EXPECT_EQ(ComposeEventLine(12345, "X", 8, "z", "l"),
              "\t\t(Entry)\t12345\t(Cut)\tF\t\"X\"\t1\t8\tz\tz\tl\t_\r\n");
    EXPECT_EQ(kClosingLines.size(), 24u);
}

TEST(Adl, CutsEventLines) {
    using Fields = std::array<std::string, 11>;
    const struct {
        std::string line;
        Fields fields;
    } cases[] = {
        {"\t\t(Entry)\t0007\t(Cut)\tF\t\"zt60003.wav\"\t1\t2\ta\tb\tc\t_",
         {"(Entry)", "0007", "(Cut)", "F", "zt60003.wav", "1", "2", "a", "b", "c", "_"}},
        {"(Entry)\t0002\t(Silence)\t3\ta\tb\t_",
         {"(Entry)", "0002", "(Silence)", "3", "a", "b", "", "", "", "", "_"}},
        {"(Entry)\t 1 \t(Cut)\tF\t\"my file.wav\"\t1",
         {"(Entry)", "1", "(Cut)", "F", "myfile.wav", "", "", "", "", "", "1"}},
        {"(Entry)\t0001\t(Cut)\tF\t\"x.wav\"\t", // the trailing TAB is trimmed away
         {"(Entry)", "0001", "(Cut)", "F", "", "", "", "", "", "", "\"x.wav\""}},
        {"a\tb\tc\td\te\tf\tg\th\ti\tj\tk \t l\tm  ",
         {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k \t l\tm"}},
        // The file name loses every quote and blank, wherever they stand.
        {"(Entry)\t1\t(Cut)\tF\t\"a\"b.wav\"\tz",
         {"(Entry)", "1", "(Cut)", "F", "ab.wav", "", "", "", "", "", "z"}},
        {"(Entry)\t1\t(Cut)\tF\t\"a.wav\tz",
         {"(Entry)", "1", "(Cut)", "F", "a.wav", "", "", "", "", "", "z"}},
        {"(Entry)\t1\t(Cut)\tF\ta.wav \"\tz",
         {"(Entry)", "1", "(Cut)", "F", "a.wav", "", "", "", "", "", "z"}},
        {"(Entry)\t1\t(Cut)\tF\t\"\"\tz",
         {"(Entry)", "1", "(Cut)", "F", "", "", "", "", "", "", "z"}},
        {"(Entry)\t1\t(Cut)\tF\t\"\tz",
         {"(Entry)", "1", "(Cut)", "F", "", "", "", "", "", "", "z"}},
        {"no tabs at all", {"", "", "", "", "", "", "", "", "", "", "no tabs at all"}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CutEventLine(c.line), c.fields) << c.line;
}

TEST(Adl, ReadsEventList) {
    const Lines lines =
        MakeAdl({CutLine(7, "zt60003.wav", 2), "\t\t(Entry)\t0002\t(Silence)\t3\ta\tb\t_"});
    SongEventTable table;
    ASSERT_TRUE(ReadEventList(lines, table));
    ASSERT_EQ(table.EventCount, 2);

    const SongEvent& cut = table.Row(1);
    EXPECT_EQ(cut.EntryTag, "(Entry)");
    EXPECT_EQ(cut.EntryNo, 7);
    EXPECT_EQ(cut.EditKind, "(Cut)");
    EXPECT_EQ(cut.SourceType, "F");
    EXPECT_EQ(cut.SourceFile, "zt60003.wav");
    EXPECT_EQ(cut.SourceChannel, 1);
    EXPECT_EQ(cut.DestChannel, 2);
    EXPECT_EQ(cut.SourceIn, "00.00.00.00|0000");
    EXPECT_EQ(cut.DestIn, "00.00.01.00|0000");
    EXPECT_EQ(cut.DestOut, "00.00.02.00|0000");
    EXPECT_EQ(cut.Remainder, "_");

    const SongEvent& silence = table.Row(2);
    EXPECT_TRUE(silence.IsSilence());
    EXPECT_EQ(silence.EntryNo, 2);
    EXPECT_EQ(silence.SourceType, "");
    EXPECT_EQ(silence.SourceFile, "");
    EXPECT_EQ(silence.SourceIn, "");
    EXPECT_EQ(silence.SourceChannel, 1);
    EXPECT_EQ(silence.DestChannel, 3);
    EXPECT_EQ(silence.DestIn, "a");
    EXPECT_EQ(silence.DestOut, "b");
    EXPECT_EQ(silence.Remainder, ""); // "_" has no TAB after it
}

TEST(Adl, ReadsTheSameTableFromLinesAndFromViews) {
    // Blanks and quotes inside fields, silences and cuts in turn, a long rest of the line.
    const Lines lines = MakeAdl({
        CutLine(1, "zt60001.wav", 1),
        "\t\t(Entry)\t0002\t(Silence)\t3\t00.00.01.00|0000\t00.00.02.00|0000\t_",
        "(Entry)\t 3 \t( Cut )\tF\t\" my take.wav \"\t 1\t8 \ta b\tc\td\trest\twith\ttabs",
        "\t\t(Entry)\t0 004\t( Sil ence )\t 2\ta\tb\tc d\te",
    });
    SongEventTable fromLines, fromViews;
    ASSERT_TRUE(ReadEventList(lines, fromLines));
    ASSERT_TRUE(ReadEventList(platform::TextLines(Join(lines)), fromViews));
    ASSERT_EQ(fromViews.EventCount, 4);
    EXPECT_EQ(fromLines.EventCount, 4);
    for (int r = 1; r <= 4; ++r)
        EXPECT_EQ(Describe(fromViews.Row(r)), Describe(fromLines.Row(r))) << r;
    EXPECT_EQ(fromViews.Row(3).SourceFile, "mytake.wav");
    EXPECT_EQ(fromViews.Row(3).EditKind, "(Cut)");
    EXPECT_EQ(fromViews.Row(3).DestChannel, 8);
    EXPECT_EQ(fromViews.Row(3).SourceIn, "ab");
    EXPECT_EQ(fromViews.Row(3).Remainder, "rest\twith\ttabs");
    EXPECT_EQ(fromViews.Row(4).Remainder, "cd");
    EXPECT_TRUE(fromViews.Row(4).IsSilence());
    EXPECT_EQ(fromViews.Row(4).EntryNo, 4);

    // A table read again takes every field of the new rows: a silence where a cut stood keeps
    // none of the cut's source.
    Lines swapped = MakeAdl({lines[lines.size() - 3], lines[lines.size() - 6]});
    ASSERT_TRUE(ReadEventList(platform::TextLines(Join(swapped)), fromViews));
    SongEvent fresh;
    fresh.EntryTag = "(Entry)";
    fresh.EntryNo = 4;
    fresh.EditKind = "(Silence)";
    fresh.SourceChannel = 1;
    fresh.DestChannel = 2;
    fresh.DestIn = "a";
    fresh.DestOut = "b";
    fresh.Remainder = "cd";
    EXPECT_EQ(Describe(fromViews.Row(1)), Describe(fresh));
    EXPECT_EQ(fromViews.Row(2).SourceFile, "zt60001.wav");
}

TEST(Adl, ReadsOnlyTheFirstEventList) {
    Lines lines = MakeAdl({CutLine(1, "a.wav", 1)});
    lines.insert(lines.end() - 1, "<EVENT_LIST>");
    lines.insert(lines.end() - 1, CutLine(2, "b.wav", 2));
    lines.insert(lines.end() - 1, "</EVENT_LIST>");
    SongEventTable table;
    ASSERT_TRUE(ReadEventList(lines, table));
    EXPECT_EQ(table.EventCount, 1);
    EXPECT_EQ(table.Row(1).SourceFile, "a.wav");
}

TEST(Adl, SilenceKindIsCaseSensitive) {
    SongEventTable table;
    ASSERT_TRUE(
        ReadEventList(MakeAdl({"(Entry)\t0001\t(SILENCE)\tF\tx\t1\t4\ta\tb\tc\t_"}), table));
    EXPECT_FALSE(table.Row(1).IsSilence());
    EXPECT_EQ(table.Row(1).DestChannel, 4);
}

TEST(Adl, ShorterReadLeavesOldRowsPastTheCount) {
    Lines nine, five;
    for (int i = 1; i <= 9; ++i)
        nine.push_back(CutLine(i, "old" + std::to_string(i) + ".wav", 1));
    for (int i = 1; i <= 5; ++i)
        five.push_back(CutLine(i, "new" + std::to_string(i) + ".wav", 2));
    SongEventTable table;
    ASSERT_TRUE(ReadEventList(MakeAdl(nine), table));
    ASSERT_TRUE(ReadEventList(MakeAdl(five), table));
    EXPECT_EQ(table.EventCount, 5);
    EXPECT_EQ(table.Row(5).SourceFile, "new5.wav");
    for (int r = 6; r <= 9; ++r)
        EXPECT_EQ(table.Row(r).SourceFile, "old" + std::to_string(r) + ".wav");
}

TEST(Adl, AcceptsAt9998Events) {
    SongEventTable table;
    ASSERT_TRUE(ReadEventList(MakeAdl({CutLine(1, "keep.wav", 1)}), table));

    Lines events(9998, CutLine(1, "x.wav", 3));
    ASSERT_TRUE(ReadEventList(MakeAdl(events), table));
    EXPECT_EQ(table.EventCount, 9998);
    EXPECT_EQ(table.Row(9998).DestChannel, 3);

    ASSERT_TRUE(ReadEventList(MakeAdl({CutLine(1, "keep.wav", 1)}), table));
    events.push_back(CutLine(2, "y.wav", 4));
    EXPECT_FALSE(ReadEventList(MakeAdl(events), table));
    EXPECT_EQ(table.EventCount, 1); // refused: table untouched
    EXPECT_EQ(table.Row(1).SourceFile, "keep.wav");
    EXPECT_EQ(table.Row(2).SourceFile, "x.wav");
}

TEST(Adl, LongListsReadAsEachOfTheirLinesReadsAlone) {
    // Every row of a long list, silences and cuts, is what its line gives when it is read
    // alone.
    Lines events;
    for (int i = 1; i <= 9998; ++i)
        events.push_back(
            i % 7 == 0 ? "\t\t(Entry)\t" + std::to_string(i) + "\t(Silence)\t" +
                             std::to_string(i % 8 + 1) + "\tin" + std::to_string(i) + "\tout\t_"
                       : CutLine(i % 1000, "take" + std::to_string(i) + ".wav", i % 8 + 1));
    for (const std::size_t count : {std::size_t{2047}, std::size_t{2048}, std::size_t{9998}}) {
        SCOPED_TRACE(count);
        const Lines list = MakeAdl(Lines(events.begin(), events.begin() + count));
        SongEventTable table, one;
        ASSERT_TRUE(ReadEventList(platform::TextLines(Join(list)), table));
        ASSERT_EQ(table.EventCount, static_cast<std::int32_t>(count));
        for (std::size_t k = 0; k < count; k += 1 + k % 5) {
            ASSERT_TRUE(ReadEventList(MakeAdl({events[k]}), one));
            ASSERT_EQ(Describe(table.Row(static_cast<int>(k) + 1)), Describe(one.Row(1))) << k;
        }
    }
}

TEST(Adl, ALongListNamesItsFirstBadLine) {
    // Bad lines early, late, or both: the error names the first in the file, and the table
    // stays as it was: one that held a list, or a new one, whose rows are filled as the lines
    // are read.
    const std::size_t count = 6000;
    const std::size_t firstEvent = 12; // the line of event 0, counted from 1, in MakeAdl
    const struct {
        std::vector<std::size_t> bad; // events, from 0
        std::size_t named;
    } cases[] = {
        {{10}, 10}, {{5999}, 5999}, {{4000, 200}, 200}, {{2999, 3000}, 2999}, {{3000, 5000}, 3000}};
    for (const auto& c : cases)
        for (const bool held : {true, false}) {
            SCOPED_TRACE(held ? "held a list" : "new");
            Lines events(count, CutLine(1, "x.wav", 2));
            for (const std::size_t k : c.bad)
                events[k] = "(Entry)\t" + std::to_string(k) + "x\t(Cut)\t";
            SongEventTable table;
            if (held) {
                ASSERT_TRUE(ReadEventList(MakeAdl({CutLine(1, "keep.wav", 1)}), table));
            }
            try {
                ReadEventList(platform::TextLines(Join(MakeAdl(events))), table);
                ADD_FAILURE() << c.named;
            } catch (const ConvertError& e) {
                EXPECT_EQ(std::string(e.what()), "line " + std::to_string(firstEvent + c.named) +
                                                     ": '" + std::to_string(c.named) +
                                                     "x' is not a valid integer value");
            }
            EXPECT_EQ(table.Untouched(), !held);
            const SongEventTable& read = table;
            EXPECT_EQ(read.EventCount, held ? 1 : 0);
            EXPECT_EQ(read.Row(1).SourceFile, held ? "keep.wav" : "");
            EXPECT_EQ(read.Row(2).SourceFile, "");
            EXPECT_EQ(read.Row(static_cast<int>(c.named)).DestChannel, 0);
        }
}

TEST(Adl, EventListFailures) {
    SongEventTable table;
    ASSERT_TRUE(ReadEventList(MakeAdl({CutLine(1, "keep.wav", 1)}), table));

    // A blank line or a bad number: a conversion error, and the table stays as it was.
    for (const auto& bad : {std::string(), std::string("(Entry)\t0001\t(Cut)\tF\tx\tone\t2\t"),
                            std::string("(Entry)\t12a\t(Cut)\t")}) {
        EXPECT_THROW(ReadEventList(MakeAdl({CutLine(2, "new.wav", 2), bad}), table), ConvertError);
        EXPECT_EQ(table.EventCount, 1);
        EXPECT_EQ(table.Row(1).SourceFile, "keep.wav");
    }
    EXPECT_THROW(ReadEventList({"<EVENT_LIST>", CutLine(1, "a.wav", 1)}, table), ListIndexError);

    // The error names the line of the list that holds it (the first line is line 1), or the
    // line that is missing.
    const struct {
        Lines lines;
        const char* text;
    } placed[] = {
        {{"<ADL>", "<EVENT_LIST>", CutLine(1, "a.wav", 1), "", "</EVENT_LIST>"},
         "line 4: '' is not a valid integer value"},
        {{"<EVENT_LIST>", "(Entry)\t12a\t(Cut)\t", "</EVENT_LIST>"},
         "line 2: '12a' is not a valid integer value"},
        {{"x", "<EVENT_LIST>", CutLine(1, "a.wav", 1)}, "line 4: List index out of bounds (3)"},
    };
    for (const auto& c : placed) {
        try {
            ReadEventList(c.lines, table);
            ADD_FAILURE() << c.text;
        } catch (const TextError& e) {
            EXPECT_STREQ(e.what(), c.text);
        }
        // The same list read as views of its text fails alike.
        try {
            ReadEventList(platform::TextLines(Join(c.lines)), table);
            ADD_FAILURE() << c.text;
        } catch (const TextError& e) {
            EXPECT_STREQ(e.what(), c.text);
        }
        EXPECT_EQ(table.Row(1).SourceFile, "keep.wav");
    }

    ASSERT_TRUE(ReadEventList({"<ADL>", "</ADL>"}, table));
    EXPECT_EQ(table.EventCount, 0);
    EXPECT_EQ(table.Row(1).SourceFile, "keep.wav");
}

} // namespace
} // namespace th
