// What a list says that the import reads without a word: a time that is not well formed is
// read as before and warned about after the final message; a take whose file is not in the
// song folder is marked in the song map.
#include "cli/CliRun.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string kTc = "00.00.00.00|0000";

// The last `lines` lines of a text.
std::string Tail(const std::string& text, int lines) {
    std::size_t at = text.size();
    for (int n = 0; n <= lines && at != std::string::npos && at > 0; ++n)
        at = text.rfind('\n', at - 1);
    return at == std::string::npos ? text : text.substr(at + 1);
}

class CliListWarnings : public ::testing::Test {
protected:
    TempDir card, odd, same;

    // Track 1 ends at a dest out whose seconds hold no digits; track 2's take starts at a
    // source in without digits in its frames; track 3's silence ends at a short text.
    void WriteSong(const std::string& name, bool oddTimes) {
        fs::create_directories(card / name);
        WriteFile(card / name / "zt60001.wav", MakeWav(Pattern(44100 * 2 * 5, 1)));
        const std::vector<std::string> events = {
            EventLine(1, 1, "ZT60001.WAV", kTc, kTc,
                      oddTimes ? "00.00.xx.12|0882" : "00.00.00.12|0882"),
            EventLine(2, 2, "ZT60001.WAV", oddTimes ? "00.00.01.x0|0000" : "00.00.01.00|0000", kTc,
                      "00.00.01.00|0000"),
            SilenceLine(3, 3, kTc, oddTimes ? "00.00.01.00|00" : "00.00.01.00|0000"),
            EventLine(4, 3, "ZT60001.WAV", kTc, kTc, "00.00.02.00|0000"),
        };
        WriteFile(card / name / (name + ".ADL"), AdlText(44100, kTc, events));
    }
    CliResult Import(const std::string& song, const fs::path& to, const std::string& tracks) {
        return RunCliFull("import --drive '" + card.path().string() + "' --song " + song +
                          " --to '" + to.string() + "' --tracks " + tracks + " --yes");
    }
    CliResult Show(const std::string& song, const std::string& extra = "") {
        return RunCliFull("show --drive '" + card.path().string() + "' --song " + song + " " +
                          extra);
    }
};

TEST_F(CliListWarnings, ImportReadsAsBeforeAndWarnsAfterItsFinalMessage) {
    WriteSong("ODD", true);
    WriteSong("SAME", false);
    const CliResult r = Import("ODD", odd.path(), "1,2");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Complete!\n");
    // After the run's own lines; track 3 is not imported: its short time is no concern of
    // this run.
    EXPECT_EQ(Tail(r.err, 2), "Warning: ODD.ADL, line 13: dest out '00.00.xx.12|0882' is not a "
                              "well-formed time; read as 0:00:00.500\n"
                              "Warning: ODD.ADL, line 14: source in '00.00.01.x0|0000' is not a "
                              "well-formed time; read as 0:00:01.000\n");

    // The same list with the times written as they are read gives the same files, and no
    // warning.
    const CliResult sound = Import("SAME", same.path(), "1,2");
    EXPECT_EQ(sound.status, 0);
    EXPECT_EQ(sound.err.find("Warning"), std::string::npos) << sound.err;
    for (const char* track : {"tr01.wav", "tr02.wav"})
        EXPECT_EQ(ReadFile(odd / track), ReadFile(same / track)) << track;

    const CliResult all = Import("ODD", odd.path(), "3");
    EXPECT_EQ(Tail(all.err, 1), "Warning: ODD.ADL, line 15: dest out '00.00.01.00|00' is not a "
                                "well-formed time; read as 0:00:01.000\n");
}

TEST_F(CliListWarnings, FailedImportStillWarnsWithItsStatus) {
    WriteSong("ODD", true);
    fs::remove(card / "ODD" / "zt60001.wav");
    const CliResult r = Import("ODD", odd.path(), "1");
    EXPECT_EQ(r.status, 1);
    const std::size_t failed = r.err.find("Copy failed!\n");
    ASSERT_NE(failed, std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\nWarning: ODD.ADL, line 13: dest out", failed), std::string::npos)
        << r.err;
}

TEST_F(CliListWarnings, ShowCarriesWarningsAndMissingTakes) {
    WriteSong("ODD", true);
    WriteSong("SAME", false);
    // A take that the list names but the folder doesn't hold.
    std::string adl = ReadFile(card / "SAME" / "SAME.ADL");
    adl.replace(adl.find("\"ZT60001.WAV\"\t1\t2"), 13, "\"ZT60009.WAV\"");
    WriteFile(card / "SAME" / "SAME.ADL", adl);

    const CliResult json = Show("ODD", "--json");
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_NE(json.out.find("  \"warnings\": [\n    \"Warning: ODD.ADL, line 13: dest out "
                            "'00.00.xx.12|0882' is not a well-formed time; read as "
                            "0:00:00.500\",\n    \"Warning: ODD.ADL, line 14:"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("line 15: dest out '00.00.01.00|00'"), std::string::npos);
    EXPECT_EQ(json.out.find("\"missing\""), std::string::npos); // the files are there
    EXPECT_EQ(json.err, "");

    const CliResult sound = Show("SAME", "--json");
    EXPECT_EQ(sound.out.find("\"warnings\""), std::string::npos);
    // Only the event of the absent file is marked; names are matched ignoring case.
    const std::size_t missing = sound.out.find("\"missing\": true");
    ASSERT_NE(missing, std::string::npos) << sound.out;
    EXPECT_EQ(sound.out.find("\"missing\": true", missing + 1), std::string::npos);
    EXPECT_LT(sound.out.rfind("ZT60009.WAV", missing), missing);

    const CliResult table = Show("SAME");
    EXPECT_NE(table.out.find("ZT60009.WAV missing"), std::string::npos) << table.out;
    EXPECT_EQ(table.out.find("ZT60001.WAV missing"), std::string::npos);
    // Without JSON the warnings go to stderr, as the import gives them.
    EXPECT_NE(Show("ODD").err.find("Warning: ODD.ADL, line 13:"), std::string::npos);
    const CliResult svg = Show("SAME", "--svg -");
    EXPECT_NE(svg.out.find("<g class=\"missing\">"), std::string::npos);
}

TEST_F(CliListWarnings, WholeCardImportAsksWithNativePaths) {
    WriteSong("ODD", true);
    const CliResult r = RunCliFull("import --all --drive '" + card.path().string() + "' --to '" +
                                   odd.path().string() + "' --tracks 1 --yes");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("ZT-6 to PC\n\n" + (odd / "(Song)" / "tr(TrNo).wav").string() + "\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Warning: ODD.ADL, line 13: dest out"), std::string::npos) << r.err;
}

} // namespace
