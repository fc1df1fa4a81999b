// trackhaul-cli show: the song map as a table, JSON and an SVG file; lists the import refuses
// are refused with its message.
#include "cli/CliRun.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string kTc = "00|00|00.00|0000";

class CliShow : public ::testing::Test {
protected:
    TempDir card, out;

    void SetUp() override {
        fs::create_directories(card / "SONG01");
        for (const char* take : {"zt60001.wav", "zt60002.wav"})
            WriteFile(card / "SONG01" / take, MakeWav(Pattern(1000, 1)));
        fs::create_directories(card / "NOLIST");
        // Track 1: A 0-1 s, then B listed later from 0.25 to 0.5 s; track 3: a silence.
        WriteFile(card / "SONG01" / "SONG01.ADL",
                  AdlText(44100, kTc,
                          {EventLine(1, 1, "ZT60001.WAV", kTc, kTc, "00|00|01.00|0000"),
                           EventLine(2, 1, "ZT60002.WAV", "00|00|00.00|0441", "00|00|00.07|0735",
                                     "00|00|00.15|0000"),
                           SilenceLine(3, 3, kTc, "00|00|00.15|0000")}));
    }

    CliResult Show(const std::string& song, const std::string& extra) const {
        return RunCliFull("show --drive '" + card.path().string() + "' --song " + song + " " +
                          extra);
    }
};

TEST_F(CliShow, TableHasABlockPerTrack) {
    const CliResult r = Show("SONG01", "");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* text :
         {"SONG01  44100 Hz  length 0:00:01.000\n",
          "\nTR1  ends at 0:00:01.000 (44100 samples), 2 events\n",
          "  0002   ZT60002.WAV  0:00:00.250   0:00:00.500   0:00:00.010   0:00:00.250\n",
          "  0:00:00.250 - 0:00:00.500   0002  ZT60002.WAV from 0:00:00.010\n",
          "  0:00:00.500 - 0:00:01.000   0001  ZT60001.WAV from 0:00:00.500\n",
          "\nTR2  no events\n", "\nTR3  no audio: no file, 1 event\n", "\nTR8  no events\n"})
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
}

TEST_F(CliShow, JsonAndSvg) {
    CliResult r = Show("SONG01", "--json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 22), "{\n  \"song\": \"SONG01\",\n");
    EXPECT_NE(r.out.find("\"source_at\": 441}"), std::string::npos) << r.out;

    const fs::path svg = out / "map.svg";
    r = Show("SONG01", "--svg '" + svg.string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const std::string picture = ReadFile(svg);
    EXPECT_EQ(picture.rfind("<?xml", 0), 0u);
    std::size_t lanes = 0;
    for (std::size_t at = 0; (at = picture.find("class=\"lane\"", at)) != std::string::npos; ++at)
        ++lanes;
    EXPECT_EQ(lanes, 8u);
    EXPECT_EQ(Show("SONG01", "--svg -").out, picture);
}

// A constant level per source: each bucket's pair names what plays in it.
std::string Level(std::int16_t v, std::size_t samples) {
    std::string audio;
    for (std::size_t i = 0; i < samples; ++i)
        audio += U16(static_cast<std::uint16_t>(v));
    return audio;
}

TEST_F(CliShow, PeaksAndWaveformsOfWhatIsHeard) {
    WriteFile(card / "SONG01" / "ZT60001.WAV", MakeWav(Level(100, 44100)));
    WriteFile(card / "SONG01" / "ZT60002.WAV", MakeWav(Level(-200, 44100)));
    CliResult r = Show("SONG01", "--json --peaks 4");
    ASSERT_EQ(r.status, 0) << r.err;
    // Quarters of track 1: A, then B (0.25 to 0.5 s), then A again.
    EXPECT_NE(r.out.find("\"peaks\": [[100, 100], [-200, -200], [100, 100], [100, 100]]}"),
              std::string::npos)
        << r.out;
    // Tracks without a file have as many pairs, all zero.
    std::size_t silent = 0;
    for (std::size_t at = 0;
         (at = r.out.find("\"peaks\": [[0, 0], [0, 0], [0, 0], [0, 0]]}", at)) != std::string::npos;
         ++at)
        ++silent;
    EXPECT_EQ(silent, 7u);
    EXPECT_EQ(Show("SONG01", "--json").out.find("peaks"), std::string::npos);

    // One waveform in each of track 1's three heard stretches; a flat level is one stroke high.
    r = Show("SONG01", "--svg -");
    ASSERT_EQ(r.status, 0) << r.err;
    std::size_t waves = 0;
    for (std::size_t at = 0; (at = r.out.find("class=\"wave\"", at)) != std::string::npos; ++at)
        ++waves;
    EXPECT_EQ(waves, 3u) << r.out;
}

TEST_F(CliShow, ListsTheImportRefusesAreRefused) {
    CliResult r = Show("NOLIST", "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "This drive isn't ZT-6.\n");
    EXPECT_EQ(r.out, "");

    WriteFile(card / "SONG01" / "SONG01.ADL",
              AdlText(44100, kTc, {"\t\t(Entry)\tX\t(Cut)\tF\t\"A\"\t1\t1\ta\tb\tc\t_"}));
    r = Show("SONG01", "");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("'X' is not a valid integer value"), std::string::npos) << r.err;

    for (const char* usage :
         {"NOSUCH", "SONG01 --json --svg -", "SONG01 extra", "SONG01 --peaks 4",
          "SONG01 --json --peaks 0", "SONG01 --json --peaks x", "SONG01 --json --peaks 1000001"})
        EXPECT_EQ(Show(usage, "").status, 2) << usage;
}

} // namespace
