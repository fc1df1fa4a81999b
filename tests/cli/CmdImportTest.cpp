// trackhaul-cli songs and import on a generated card: upper-case names in the edit list,
// lower-case files on disk, as a card copied to a case-sensitive folder holds them.
#include "cli/CliRun.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

class CliImport : public ::testing::Test {
protected:
    TempDir card, out;
    std::string take1 = Pattern(3000, 1), take2 = Pattern(2000, 2);

    void SetUp() override {
        fs::create_directories(card / "SONG01");
        fs::create_directories(card / "SONG02");
        fs::create_directories(card / "EMPTY");
        WriteFile(card / "SONG01" / "zt60001.wav", MakeWav(take1));
        WriteFile(card / "SONG01" / "zt60002.wav", MakeWav(take2));
        // Track 1: take 1 at 0. Track 2: 1000 bytes of silence, then take 2 from byte 200.
        WriteFile(card / "SONG01" / "song01.adl",
                  AdlText(44100, "00|00|00.00|0000",
                          {EventLine(1, 1, "ZT60001.WAV", "00|00|00.00|0000", "00|00|00.00|0000",
                                     "00|00|00.00|1500"),
                           EventLine(2, 2, "ZT60002.WAV", "00|00|00.00|0100", "00|00|00.00|0500",
                                     "00|00|00.00|1400")}));
        WriteFile(card / "SONG02" / "SONG02.ADL", AdlText(22050, "00|00|00,00L0000", {}));
        WriteFile(card / "notes.txt", "not a song");
    }

    std::string Import(const std::string& extra) const {
        return "import --drive '" + card.path().string() + "' --song SONG01 --to '" +
               out.path().string() + "' " + extra;
    }
    fs::path Track(int n) const { return out / ("tr0" + std::to_string(n) + ".wav"); }
};

TEST_F(CliImport, ListsSongsWithTheirRates) {
    const CliResult r = RunCliFull("songs --drive '" + card.path().string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    // Enumeration order is the file system's: compare as a set of lines.
    for (const char* line : {"SONG01\t44100\n", "SONG02\t22050\n", "EMPTY\t\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
    EXPECT_EQ(r.out.find("notes.txt"), std::string::npos);
}

TEST_F(CliImport, RendersTheTickedTracks) {
    const CliResult r = RunCliFull(Import("--tracks 1,2 --yes"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Complete!\n");
    // Paths in the messages are native ones.
    EXPECT_NE(r.err.find("ZT-6 to PC\n\n" + (out / "tr(TrNo).wav").string() + "\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ReadFile(Track(1)).substr(46), take1);
    EXPECT_EQ(ReadFile(Track(2)).substr(46), std::string(1000, '\0') + take2.substr(200, 1800));
    EXPECT_EQ(ReadFile(Track(2)).substr(24, 4), U32(44100));
    EXPECT_FALSE(fs::exists(Track(3)));
}

TEST_F(CliImport, OnlyListedTracksAreRendered) {
    ASSERT_EQ(RunCliFull(Import("--tracks 2 --yes")).status, 0);
    EXPECT_FALSE(fs::exists(Track(1)));
    EXPECT_TRUE(fs::exists(Track(2)));

    const CliResult again = RunCliFull(Import("--tracks 2 --yes"));
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.err.find("Overwrite <" + Track(2).string() + "> ?\n"), std::string::npos)
        << again.err;
}

TEST_F(CliImport, WithoutYesAndWithoutTerminalTheAnswerIsCancel) {
    const CliResult r = RunCliFull(Import(""));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(Track(1)));
}

TEST_F(CliImport, ExistingTakeNeedsAnAnswer) {
    WriteFile(Track(1), "old take");
    // --yes answers both the confirmation and the overwrite question.
    ASSERT_EQ(RunCliFull(Import("--tracks 1 --yes")).status, 0);
    EXPECT_EQ(ReadFile(Track(1)).substr(46), take1);
}

TEST_F(CliImport, FailuresAndTheirStatus) {
    fs::remove(card / "SONG01" / "zt60002.wav");
    CliResult r = RunCliFull(Import("--yes"));
    EXPECT_EQ(r.status, 1);
    // The message, then the file and the reason on the next line.
    EXPECT_NE(r.err.find("Copy failed!\n" + (card / "SONG01" / "ZT60002.WAV").string() +
                         ": No such file or directory\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");

    fs::remove(card / "SONG01" / "song01.adl");
    r = RunCliFull(Import("--yes"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("This drive isn't ZT-6.\n" + (card / "SONG01").string() +
                         ": The song folder holds no edit list (.ADL)\n"),
              std::string::npos)
        << r.err;

    WriteFile(
        card / "SONG01" / "song01.adl",
        AdlText(44100, "00|00|00.00|0000", {"\t\t(Entry)\tX\t(Cut)\tF\t\"A\"\t1\t1\ta\tb\tc\t_"}));
    r = RunCliFull(Import("--yes"));
    EXPECT_EQ(r.status, 3);
    // The edit list and the line of the error are named.
    EXPECT_NE(r.err.find("song01.adl, line 13: 'X' is not a valid integer value\n"),
              std::string::npos)
        << r.err;
}

// As in the window, a broken first song does not keep another song from being picked.
TEST_F(CliImport, BrokenSongIsReportedWithoutStoppingOthers) {
    fs::create_directories(card / "AAA");
    WriteFile(card / "AAA" / "AAA.ADL", "<SEQUENCE>\r\n(Sample_Rate)    Snope\r\n</SEQUENCE>\r\n");
    CliResult r = RunCliFull("songs --drive '" + card.path().string() + "'");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("AAA\t\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("SONG01\t44100\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("AAA: AAA.ADL, line 2: 'nope' is not a valid integer value\n"),
              std::string::npos)
        << r.err;

    r = RunCliFull(Import("--tracks 1 --yes"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(Track(1)).substr(46), take1);
}

TEST_F(CliImport, UsageErrors) {
    for (const std::string& args :
         {std::string("import --song SONG01 --to /tmp"), Import("--tracks 9"),
          Import("--tracks 1,,2"), Import("--bogus"),
          std::string("import --drive /no/such/folder --song S --to /tmp"), std::string("songs")}) {
        const CliResult r = RunCliFull(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << args;
    }
}

} // namespace
