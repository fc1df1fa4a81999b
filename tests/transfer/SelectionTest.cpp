// Choosing a drive and a song: the state the transfers read.
#include "support/TestSupport.h"

#include "platform/Platform.h"
#include "song/Errors.h"
#include "transfer/Selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

class SelectionTest : public ::testing::Test {
protected:
    TempDir card;
    MappedDrive drive{"E:", card.path()};
    th::Selection sel;

    void Song(const std::string& name, const std::string& adlName, int rate) {
        fs::create_directories(card / name);
        if (!adlName.empty())
            WriteFile(card / name / adlName, AdlText(rate, "00|00|00.00|0000", {}));
    }
    void Pick(const std::string& name) {
        const auto it = std::find(sel.Songs.begin(), sel.Songs.end(), name);
        ASSERT_NE(it, sel.Songs.end()) << name;
        th::SelectSong(sel, static_cast<int>(it - sel.Songs.begin()));
    }
};

TEST_F(SelectionTest, SongsAreTheFoldersAtTheRoot) {
    Song("ONE", "ONE.ADL", 44100);
    Song(".hidden", "", 0);
    WriteFile(card / "loose.wav", "x");
    th::LoadSongList(sel, "E:");
    std::vector<std::string> songs = sel.Songs;
    std::sort(songs.begin(), songs.end());
    EXPECT_EQ(songs, (std::vector<std::string>{".hidden", "ONE"}));
    EXPECT_TRUE(sel.TransferEnabled);
    EXPECT_EQ(sel.BITinfo, "16");
    EXPECT_EQ(sel.DriveRoot, "E:");
}

TEST_F(SelectionTest, EditListIsFoundWhateverTheCaseOfItsExtension) {
    Song("A", "song.adl", 22050);
    th::LoadSongList(sel, "E:");
    EXPECT_EQ(sel.AdlPath, "E:\\A\\song.adl");
    EXPECT_EQ(sel.SampleRate, 22050);
    EXPECT_EQ(sel.FSinfo, "22050");
}

TEST_F(SelectionTest, SongWithoutEditListKeepsTheLastRate) {
    Song("A", "A.ADL", 48000);
    Song("B", "", 0);
    th::LoadSongList(sel, "E:");
    Pick("A");
    Pick("B");
    EXPECT_EQ(sel.AdlPath, "");
    EXPECT_EQ(sel.SampleRate, 48000);
    EXPECT_EQ(sel.FSinfo, "48000");

    // A new drive whose first song has no list: the label empties, the rate stays.
    TempDir other;
    MappedDrive f("F:", other.path());
    fs::create_directories(other / "NOLIST");
    th::LoadSongList(sel, "F:");
    EXPECT_EQ(sel.FSinfo, "");
    EXPECT_EQ(sel.SampleRate, 48000);
}

TEST_F(SelectionTest, DriveWithoutSongsDisablesTransfers) {
    WriteFile(card / "file.txt", "x");
    sel.SampleRate = 44100;
    th::LoadSongList(sel, "E:");
    EXPECT_TRUE(sel.Songs.empty());
    EXPECT_FALSE(sel.TransferEnabled);
    EXPECT_EQ(sel.SampleRate, 0);
    EXPECT_EQ(sel.FSinfo, "");
    EXPECT_EQ(sel.BITinfo, "");
}

TEST_F(SelectionTest, UnreadableRateIsAnErrorAndKeepsTheOldRate) {
    Song("SONG", "SONG.ADL", 44100);
    th::LoadSongList(sel, "E:");
    WriteFile(card / "SONG" / "SONG.ADL", "<SEQUENCE>\r\n(Sample_Rate)    Sxyz\r\n</SEQUENCE>\r\n");
    EXPECT_THROW(Pick("SONG"), th::ConvertError);
    EXPECT_EQ(sel.AdlPath, "E:\\SONG\\SONG.ADL");
    EXPECT_EQ(sel.SampleRate, 44100);
    EXPECT_EQ(sel.FSinfo, "44100");
}

// The rate comes from the last <SEQUENCE> block however long the list, and an error names the
// line it concerns; the list is read in pieces, so blocks are put across their borders too.
TEST_F(SelectionTest, RateOfLongListsAndItsErrors) {
    const std::string pad(platform::kLinePieceBytes - 12, 'x'); // "<SEQUENCE>\r" at the border
    const std::string seq = "<SEQUENCE>\r\n(Sample_Rate)    S";
    const struct {
        const char* label;
        std::string text;
        const char* error; // nullptr: the rate is 48000
    } cases[] = {
        {"OneBlock", seq + "48000\r\n</SEQUENCE>\r\n", nullptr},
        {"BlockAtTheBorder", pad + "\r\n" + seq + "48000\r\n</SEQUENCE>\r\n", nullptr},
        {"LaterBlockWins",
         seq + "44100\r\n</SEQUENCE>\r\n" + pad + "\n" + seq + "48000\n</SEQUENCE>", nullptr},
        {"Unclosed", pad + "\r\n" + seq + "48000\r\n",
         "SONG.ADL, line 4: List index out of bounds (3)"},
        {"BadRate", "a\r\n" + pad + "\r\n" + seq + "4x000\r\n</SEQUENCE>\r\n",
         "SONG.ADL, line 4: '4x000' is not a valid integer value"},
        // The line the rate stands on, not the last "<SEQUENCE>" (which is block content here),
        // nor a later block's that doesn't reach the rate's slot.
        {"TagInsideTheBlock", seq + "4x000\r\n<SEQUENCE>\r\n</SEQUENCE>\r\n",
         "SONG.ADL, line 2: '4x000' is not a valid integer value"},
        {"ShortLaterBlock", seq + "4x000\r\n</SEQUENCE>\r\n<SEQUENCE>\r\n</SEQUENCE>\r\n",
         "SONG.ADL, line 2: '4x000' is not a valid integer value"},
        {"ZeroByteEndsTheList", std::string("\0", 1) + seq + "48000\r\n</SEQUENCE>\r\n",
         "SONG.ADL: '' is not a valid integer value"},
    };
    Song("SONG", "SONG.ADL", 44100);
    for (const auto& c : cases) {
        WriteFile(card / "SONG" / "SONG.ADL", c.text);
        try {
            EXPECT_EQ(th::ReadSongSampleRate("E:\\SONG\\SONG.ADL"), 48000) << c.label;
            EXPECT_EQ(c.error, nullptr) << c.label;
        } catch (const th::TextError& e) {
            EXPECT_STREQ(e.what(), c.error ? c.error : "") << c.label;
        }
    }
}

TEST_F(SelectionTest, ExportBoxesFollowTheTrackFiles) {
    TempDir pc;
    WriteFile(pc / "tr01.wav", "not even a wav");
    WriteFile(pc / "tr03.wav", MakeWav("ab"));
    WriteFile(pc / "tr09.wav", MakeWav("ab"));
    th::UpdateExportTracks(sel, platform::ToDrivePath(pc.path().string()));
    EXPECT_EQ(sel.ExportEnabled,
              (std::array<bool, 8>{true, false, true, false, false, false, false, false}));
    th::UpdateExportTracks(sel, "");
    EXPECT_EQ(sel.ExportEnabled, (std::array<bool, 8>{}));
}

} // namespace
