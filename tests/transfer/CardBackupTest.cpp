// Backing up a card through a scripted user: the start question, Cancel stopping the whole
// run, and the labels that name song and track.
#include "support/TestSupport.h"

#include "platform/Platform.h"
#include "transfer/CardBackup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string kTc = "00|00|00.00|0000";

class CardBackup : public ::testing::Test {
protected:
    TempDir card, out;
    MappedDrive drive{"E:", card.path()};
    FakeUi ui;
    std::array<bool, 8> all{true, true, true, true, true, true, true, true};

    void SetUp() override {
        // Two songs of one long take each: a copy takes several blocks.
        for (const char* song : {"A", "B"}) {
            fs::create_directories(card / song);
            WriteFile(card / song / "zt60001.wav", MakeWav(Pattern(200000, 1)));
            WriteFile(card / song / (std::string(song) + ".ADL"),
                      AdlText(44100, kTc,
                              {EventLine(1, 1, "ZT60001.WAV", kTc, kTc, "00|00|01.00|0000"),
                               EventLine(2, 3, "ZT60001.WAV", kTc, kTc, "00|00|00.00|0100")}));
        }
    }
    std::string Dest() const { return platform::ToDrivePath(out.path().string()); }
};

TEST_F(CardBackup, DecliningTheQuestionReadsAndWritesNothing) {
    ui.answers = {false};
    const th::CardBackupReport r = th::BackupCard(ui, "E:", Dest(), all);
    EXPECT_TRUE(r.refused);
    EXPECT_FALSE(r.AllImported());
    EXPECT_TRUE(r.songs.empty());
    // The path as the system writes it, as an import's question gives it.
    EXPECT_EQ(ui.questions,
              std::vector<std::string>{"ZT-6 to PC\r\n\r\n" +
                                       platform::DisplayPath(Dest() + "\\(Song)\\tr(TrNo).wav")});
    EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST_F(CardBackup, EverySongWithItsTracksAndSizes) {
    std::vector<std::string> heard;
    const th::CardBackupReport r = th::BackupCard(
        ui, "E:", Dest(), all, [&](const th::SongBackup& s) { heard.push_back(s.song); });
    ASSERT_TRUE(r.AllImported());
    ASSERT_EQ(r.songs.size(), 2u);
    EXPECT_EQ(heard.size(), 2u);
    for (const th::SongBackup& s : r.songs) {
        EXPECT_EQ(s.tracks, 2);
        EXPECT_EQ(s.bytes, (46u + 88200u) + (46u + 200u));
        EXPECT_EQ(fs::file_size(out / s.song / "tr01.wav"), 46u + 88200u);
    }
    EXPECT_EQ(r.Bytes(), 2 * ((46u + 88200u) + (46u + 200u)));
    EXPECT_NE(std::find(ui.labels.begin(), ui.labels.end(), r.songs[1].song + " Track3"),
              ui.labels.end());
}

TEST_F(CardBackup, CancelStopsTheWholeRun) {
    ui.onPump = [](FakeUi& u) { u.cancelled = true; };
    const th::CardBackupReport r = th::BackupCard(ui, "E:", Dest(), all);
    EXPECT_TRUE(r.stopped);
    EXPECT_FALSE(r.AllImported());
    ASSERT_EQ(r.songs.size(), 1u);
    EXPECT_FALSE(r.songs[0].imported);
    EXPECT_EQ(r.songs[0].reason, "Copy failed! (Track1): " +
                                     (out / r.songs[0].song / "tr01.wav").string() + ": Cancelled");
    EXPECT_FALSE(fs::exists(out / r.songs[0].song / "tr01.wav"));
    EXPECT_FALSE(fs::exists(out / r.songs[0].song / "tr01"));
}

} // namespace
