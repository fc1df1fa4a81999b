// trackhaul-cli import --all on a generated card of several songs, some of them broken: the
// good songs come over whatever happens to the others, and the exit status tells.
#include "cli/CliRun.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string kTc = "00|00|00.00|0000";

class CliImportAll : public ::testing::Test {
protected:
    TempDir card, out;
    std::string take1 = Pattern(3000, 1), take2 = Pattern(2000, 2), take3 = Pattern(800, 3);

    void SetUp() override {
        for (const char* song : {"SONG01", "SONG02", "BROKEN", "NOLIST"})
            fs::create_directories(card / song);
        WriteFile(card / "SONG01" / "zt60001.wav", MakeWav(take1));
        WriteFile(card / "SONG01" / "zt60002.wav", MakeWav(take2));
        WriteFile(card / "SONG01" / "SONG01.ADL",
                  AdlText(44100, kTc,
                          {EventLine(1, 1, "ZT60001.WAV", kTc, kTc, "00|00|00.00|1500"),
                           EventLine(2, 2, "ZT60002.WAV", "00|00|00.00|0100", "00|00|00.00|0500",
                                     "00|00|00.00|1400")}));
        WriteFile(card / "SONG02" / "zt60001.wav", MakeWav(take3, 22050));
        WriteFile(card / "SONG02" / "SONG02.ADL",
                  AdlText(22050, "00|00|00.00L0000",
                          {EventLine(1, 2, "ZT60001.WAV", "00|00|00.00L0000", "00|00|00.00L0000",
                                     "00|00|00.00L0400")}));
        WriteFile(card / "BROKEN" / "BROKEN.ADL",
                  AdlText(44100, kTc, {"\t\t(Entry)\tX\t(Cut)\tF\t\"A\"\t1\t1\ta\tb\tc\t_"}));
        WriteFile(card / "NOLIST" / "readme.txt", "no edit list");
    }

    CliResult ImportAll(const std::string& extra) const {
        return RunCliFull("import --drive '" + card.path().string() + "' --all --to '" +
                          out.path().string() + "' " + extra);
    }
    std::string Audio(const std::string& song, int n) const {
        return ReadFile(out / song / ("tr0" + std::to_string(n) + ".wav")).substr(46);
    }
    void Break(const std::string& song) { fs::remove_all(card / song); }
};

TEST_F(CliImportAll, GoodSongsComeOverAndBrokenOnesAreSkipped) {
    const CliResult r = ImportAll("--yes");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(Audio("SONG01", 1), take1);
    EXPECT_EQ(Audio("SONG01", 2), std::string(1000, '\0') + take2.substr(200, 1800));
    EXPECT_EQ(Audio("SONG02", 2), take3);
    EXPECT_FALSE(fs::exists(out / "SONG02" / "tr01.wav"));
    // A skipped song leaves no folder behind.
    EXPECT_FALSE(fs::exists(out / "BROKEN"));
    EXPECT_FALSE(fs::exists(out / "NOLIST"));

    const std::uintmax_t bytes = fs::file_size(out / "SONG01" / "tr01.wav") +
                                 fs::file_size(out / "SONG01" / "tr02.wav") +
                                 fs::file_size(out / "SONG02" / "tr02.wav");
    for (const std::string& line :
         {"SONG01: imported, 2 tracks, " +
              std::to_string(bytes - fs::file_size(out / "SONG02" / "tr02.wav")) + " bytes\n",
          std::string("SONG02: imported, 1 track, 846 bytes\n"),
          std::string("BROKEN: skipped: BROKEN.ADL, line 13: 'X' is not a valid integer value\n"),
          std::string("NOLIST: skipped: no edit list (.ADL) in the song folder\n"),
          std::string("Songs imported: 2\nSongs skipped: 2\n"),
          "Bytes written: " + std::to_string(bytes) + " (", std::string("Time taken: ")})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    EXPECT_EQ(r.out.find("Complete!"), std::string::npos);
}

TEST_F(CliImportAll, ACardThatComesOverWhollyEndsWithStatusZero) {
    Break("BROKEN");
    Break("NOLIST");
    const CliResult r = ImportAll("--yes --tracks 2");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Songs imported: 2\nSongs skipped: 0\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 10), "Complete!\n");
    // --tracks holds for every song.
    EXPECT_FALSE(fs::exists(out / "SONG01" / "tr01.wav"));
    EXPECT_TRUE(fs::exists(out / "SONG01" / "tr02.wav"));
    EXPECT_TRUE(fs::exists(out / "SONG02" / "tr02.wav"));
}

TEST_F(CliImportAll, AFailedRenderSkipsItsSongOnly) {
    Break("BROKEN");
    Break("NOLIST");
    fs::remove(card / "SONG01" / "zt60002.wav");
    const CliResult r = ImportAll("--yes");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("SONG01: skipped: Copy failed! (Track2): " +
                         (card / "SONG01" / "ZT60002.WAV").string() +
                         ": No such file or directory\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(Audio("SONG01", 1), take1); // the tracks before stay, as in an import
    EXPECT_FALSE(fs::exists(out / "SONG01" / "tr02.wav"));
    EXPECT_EQ(Audio("SONG02", 2), take3);
}

// --quiet: the songs that were skipped and nothing else.
TEST_F(CliImportAll, QuietTellsOnlyTheSkippedSongs) {
    fs::remove(card / "SONG01" / "zt60002.wav");
    const CliResult r = ImportAll("--yes --quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.find("imported"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("SONG01: skipped: Copy failed! (Track2)"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Songs skipped"), std::string::npos) << r.out;
    EXPECT_EQ(Audio("SONG02", 2), take3);
}

TEST_F(CliImportAll, QuestionsAreAskedAsInAnImport) {
    // No terminal and no --yes: the first question is answered Cancel and nothing is written.
    CliResult r = ImportAll("");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ZT-6 to PC\n\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fs::is_empty(out.path()));

    // --yes also answers the question about an existing take, which is then replaced.
    fs::create_directories(out / "SONG02");
    WriteFile(out / "SONG02" / "tr02.wav", "old take");
    r = ImportAll("--yes");
    EXPECT_NE(r.err.find("tr02.wav> ?"), std::string::npos) << r.err;
    EXPECT_EQ(Audio("SONG02", 2), take3);
}

TEST_F(CliImportAll, UsageErrors) {
    for (const char* extra : {"--song SONG01", "--tracks 0", "stray"}) {
        const CliResult r = ImportAll(extra);
        EXPECT_EQ(r.status, 2) << extra;
        EXPECT_NE(r.err.find("usage:"), std::string::npos) << extra;
    }
}

} // namespace
