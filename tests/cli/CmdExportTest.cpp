#include "cli/CliRun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

std::string Quote(const fs::path& p) {
    std::string quoted(1, '\'');
    quoted += p.string();
    quoted += '\'';
    return quoted;
}

std::map<std::string, std::string> Snap(const fs::path& root) {
    std::map<std::string, std::string> s;
    for (const auto& e : fs::recursive_directory_iterator(root))
        s[fs::relative(e.path(), root).string()] =
            e.is_regular_file() ? ReadFile(e.path()) : std::string("<dir>");
    return s;
}

const std::string kListHead = "<ADL>\r\n"
                              "\t<SEQUENCE>\r\n"
                              "\t\t(SEQ_SAMPLE_RATE)\tS44100\r\n"
                              "\t\t(SEQ_FRAME_RATE)\t25\r\n"
                              "\t\t(SEQ_ADL_LEVEL)\t1\r\n"
                              "\t\t(SEQ_CLEAN)\tFALSE\r\n"
                              "\t\t(SEQ_DEST_START) 00.00.00.00|0000\r\n"
                              "\t</SEQUENCE>\r\n"
                              "\t<EVENT_LIST>\r\n"
                              "\t\t(Entry)\t0001\t(Cut)\tF\t\"OLD.WAV\"\t1\t1\t00.00.00.00|0000\t"
                              "00.00.00.00|0000\t00.00.01.00|0000\t_\r\n";
const std::string kListEnd = "\t</EVENT_LIST>\r\n</ADL>\r\n";

class CmdExport : public ::testing::Test {
protected:
    TempDir tmp;
    fs::path card = tmp / "card";
    fs::path pc = tmp / "pc";
    fs::path song = card / "SONG1";
    const std::string audio1 = Pattern(2 * 44100, 1);
    const std::string audio3 = Pattern(2 * 22050, 3);

    void SetUp() override {
        fs::create_directories(song);
        fs::create_directories(card / "OTHER");
        fs::create_directories(pc);
        WriteFile(song / "SONG1.ADL", kListHead + kListEnd);
        WriteFile(card / "OTHER" / "OTHER.ADL", kListHead + kListEnd);
        WriteFile(pc / "tr01.wav", MakeWav(audio1));
        WriteFile(pc / "tr03.wav", MakeWav(audio3));
    }

    CliResult Export(const std::string& extra) {
        return RunCliFull("export --from " + Quote(pc) + " --drive " + Quote(card) + " " + extra);
    }
};

TEST_F(CmdExport, CopiesTracksIntoTheNamedSong) {
    const CliResult run = Export("--song SONG1 --yes");

    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Complete!\n");
    EXPECT_NE(run.err.find("PC to ZT-6\n\n" + (pc / "tr(TrNo).wav").string() + "\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("Overwrite SONG1? (Can't cancel.)\n"), std::string::npos);
    EXPECT_EQ(ReadFile(song / "SONG1.ADL"),
              kListHead +
                  "\t\t(Entry)\t0002\t(Cut)\tF\t\"ZT60001.WAV\"\t1\t1\t00.00.00.00|0000\t"
                  "00.00.00.00|0000\t00.00.01.00|0000\t_\r\n"
                  "\t\t(Entry)\t0003\t(Cut)\tF\t\"ZT60002.WAV\"\t1\t3\t00.00.00.00|0000\t"
                  "00.00.00.00|0000\t00.00.00.12|0882\t_\r\n" +
                  kListEnd);
    EXPECT_EQ(ReadFile(song / "zt60001.wav").substr(46), audio1);
    EXPECT_EQ(ReadFile(song / "zt60002.wav").substr(46), audio3);
    EXPECT_EQ(ReadFile(card / "OTHER" / "OTHER.ADL"), kListHead + kListEnd);
}

TEST_F(CmdExport, TrackListLimitsTheTracks) {
    const CliResult run = Export("--song OTHER --tracks 3 --yes");

    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(card / "OTHER" / "zt60001.wav").substr(46), audio3);
    EXPECT_FALSE(fs::exists(card / "OTHER" / "zt60002.wav"));
    EXPECT_NE(ReadFile(card / "OTHER" / "OTHER.ADL").find("\"ZT60001.WAV\"\t1\t3\t"),
              std::string::npos);
}

TEST_F(CmdExport, StopsWithoutChangingTheCard) {
    const struct {
        const char* name;
        std::string args;
        int status;
        std::string err; // part of stderr
    } cases[] = {
        {"no answer without --yes", "--song SONG1", 1, "PC to ZT-6"},
        {"stereo file", "--song SONG1 --yes", 1, "Stereo .wav file not acceptable!\n"},
        {"take cut short", "--song SONG1 --yes", 1,
         "tr03.wav: The file ends before its audio does\n"},
        {"unticked file", "--song SONG1 --tracks 2 --yes", 1, "Select a wave file!\n"},
        {"unknown song", "--song SONG9 --yes", 2, "no song 'SONG9' on drive " + card.string()},
        {"bad track list", "--song SONG1 --tracks 9 --yes", 2, "usage"},
        {"no song", "--yes", 2, "--song"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) == "stereo file")
            WriteFile(pc / "tr03.wav", MakeWav(audio3, 44100, 2));
        if (std::string(c.name) == "take cut short")
            WriteFile(pc / "tr03.wav", MakeWav(audio3).substr(0, 100));
        const auto before = Snap(card);

        const CliResult run = Export(c.args);

        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_EQ(Snap(card), before);
    }
}

// A DAW's mix under its own name, 24-bit stereo at 48 kHz: refused without --convert, converted
// with it as the track --file names; the folder's other files follow --tracks.
TEST_F(CmdExport, ConvertsAFileGivenForATrack) {
    std::vector<double> stereo;
    for (int n = 0; n < 48000; ++n)
        stereo.insert(stereo.end(), 2, 0.25 * std::sin(n * 0.05));
    const fs::path mix = tmp / "Bass final.wav";
    WriteFile(mix, EncodeWav(stereo, 1, 24, 2, 48000));
    const auto before = Snap(card);

    const CliResult refused = Export("--song SONG1 --tracks 3 --file 2=" + Quote(mix) + " --yes");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("Sampling Frequency not matched!\n"), std::string::npos)
        << refused.err;
    EXPECT_EQ(Snap(card), before);

    const CliResult run =
        Export("--song SONG1 --tracks 3 --file 2=" + Quote(mix) + " --convert --yes");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string list = ReadFile(song / "SONG1.ADL");
    EXPECT_NE(list.find("\"ZT60001.WAV\"\t1\t2\t00.00.00.00|0000\t00.00.00.00|0000\t"
                        "00.00.01.00|0000\t_\r\n"),
              std::string::npos)
        << list;
    EXPECT_NE(list.find("\"ZT60002.WAV\"\t1\t3\t"), std::string::npos) << list;
    EXPECT_EQ(ReadFile(song / "zt60001.wav").size(), 46u + 2 * 44100);
    EXPECT_EQ(ReadFile(song / "zt60002.wav").substr(46), audio3);
}

TEST_F(CmdExport, FileOptionsAreChecked) {
    const struct {
        const char* name;
        std::string args;
        std::string err;
    } cases[] = {
        {"track 9", "--file 9=x.wav", "--file '9=x.wav'"},
        {"no such file", "--file 2=" + Quote(tmp / "none.wav"), "is not a file"},
        {"a track twice",
         "--file 2=" + Quote(pc / "tr01.wav") + " --file 2=" + Quote(pc / "tr03.wav"),
         "--file gives track 2 twice"},
        {"neither folder nor file", "", "export needs --from (or --file)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = Snap(card);
        const CliResult run =
            RunCliFull("export --drive " + Quote(card) + " --song SONG1 --yes " + c.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
        EXPECT_EQ(Snap(card), before);
    }
}

} // namespace
