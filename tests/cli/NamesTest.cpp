// Folder and song names outside ASCII, given on the command line and found on the card: a
// Latin-1 name and names outside Latin-1.
#include "cli/CliRun.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

class CliNames : public ::testing::Test {
protected:
    TempDir tmp;
    const fs::path card = tmp.path() / platform::PathFromUtf8("Kärte");
    const fs::path out = tmp.path() / platform::PathFromUtf8("Außen");
    const fs::path song = card / platform::PathFromUtf8("ソング");
    const std::string take = Pattern(3000, 5);

    void SetUp() override {
        fs::create_directories(song);
        fs::create_directories(out);
        WriteFile(song / platform::PathFromUtf8("Tön.wav"), MakeWav(take));
        WriteFile(song / platform::PathFromUtf8("ソング.ADL"),
                  AdlText(44100, "00|00|00.00|0000",
                          {EventLine(1, 1, "Tön.wav", "00|00|00.00|0000", "00|00|00.00|0000",
                                     "00|00|00.00|1500")}));
    }
    static std::string Utf8(const fs::path& p) { return platform::Utf8FromPath(p); }
};

TEST_F(CliNames, SongsImportAndExportThroughNamesOutsideAscii) {
    CliResult r = RunCliArgs({"songs", "--drive", Utf8(card)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ソング\t44100\n");

    r = RunCliArgs({"import", "--drive", Utf8(card), "--song", "ソング", "--to", Utf8(out),
                    "--tracks", "1", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(out / "tr01.wav").substr(46), take);

    r = RunCliArgs({"export", "--from", Utf8(out), "--drive", Utf8(card), "--song", "ソング",
                    "--tracks", "1", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(song / "zt60001.wav").substr(46), take);
    EXPECT_NE(ReadFile(song / platform::PathFromUtf8("ソング.ADL")).find("\"ZT60001.WAV\""),
              std::string::npos);
}

// The card ignores letter case, also of letters outside ASCII: --song finds the folder
// however the name is typed.
TEST_F(CliNames, SongIsFoundWhateverTheLetterCase) {
    fs::rename(song, card / platform::PathFromUtf8("Übung Œuvre Σ Ключ"));
    fs::rename(card / platform::PathFromUtf8("Übung Œuvre Σ Ключ") /
                   platform::PathFromUtf8("ソング.ADL"),
               card / platform::PathFromUtf8("Übung Œuvre Σ Ключ") /
                   platform::PathFromUtf8("Übung Œuvre Σ Ключ.ADL"));
    for (const char* typed :
         {"Übung Œuvre Σ Ключ", "übung œuvre σ ключ", "ÜBUNG ŒUVRE Σ КЛЮЧ", "üBuNg œUvRe σ кЛюЧ"}) {
        SCOPED_TRACE(typed);
        const CliResult r = RunCliArgs({"show", "--drive", Utf8(card), "--song", typed});
        EXPECT_EQ(r.status, 0) << r.err;
    }
    for (const char* other : {"Ubung Œuvre Σ Ключ", "Übung Œuvre Σ Ключь", "Übung"}) {
        SCOPED_TRACE(other);
        const CliResult r = RunCliArgs({"show", "--drive", Utf8(card), "--song", other});
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find("no song"), std::string::npos) << r.err;
    }
}

TEST_F(CliNames, DemoCardInAFolderOutsideAscii) {
    const fs::path target = tmp.path() / platform::PathFromUtf8("Kärtchen Ω");
    const CliResult r = RunCliArgs({"demo-card", Utf8(target)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "demo card written to " + Utf8(target) + "\n");
    EXPECT_TRUE(fs::exists(target / "DEMO44K" / "DEMO44K.ADL"));
}

TEST_F(CliNames, MessagesNameTheFolderAsGiven) {
    const CliResult r =
        RunCliArgs({"songs", "--drive", Utf8(tmp.path() / platform::PathFromUtf8("Ωnone"))});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Ωnone' is neither a drive"), std::string::npos) << r.err;
}

} // namespace
