// The demo card: both songs read and import cleanly, and the card is the same every time.
#include "support/ImportRig.h"

#include "platform/Platform.h"
#include "song/Adl.h"
#include "support/Process.h"
#include "transfer/DemoCard.h"
#include "transfer/Z2p.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

struct ExpectedSong {
    const char* name;
    int rate;
    const char* frameRate;
    int events;
    std::vector<std::uint32_t> trackSamples; // rendered length of tracks 1..8, 0 = no file
};

const ExpectedSong kSongs[] = {
    {"DEMO44K", 44100, "F25", 7, {198450, 132300, 66150, 176400, 0, 0, 0, 0}},
    {"DEMO22K", 22050, "F30df", 4, {44100, 33075, 0, 0, 0, 0, 0, 0}},
};

// The audio bytes of a WAV file the program wrote (46-byte header).
std::string Audio(const fs::path& p) {
    return ReadFile(p).substr(46);
}

class DemoCard : public ::testing::Test {
protected:
    TempDir card, out;
    void SetUp() override { th::WriteDemoCard((card / "card").string()); }
};

TEST_F(DemoCard, SongsImportCleanly) {
    MappedDrive drive("E:", card / "card");
    ASSERT_EQ(th::DemoSongs().size(), 2u);
    for (const ExpectedSong& want : kSongs) {
        SCOPED_TRACE(want.name);
        ImportRig rig;
        auto& [ui, sel, table, renderer, job] = rig;
        rig.PickSong("E:", want.name);
        ASSERT_EQ(sel.Songs.size(), 2u);
        EXPECT_EQ(sel.SampleRate, want.rate);
        EXPECT_EQ(sel.AdlPath, std::string("E:\\") + want.name + "\\" + want.name + ".ADL");

        const th::Lines lines = platform::LoadLines(sel.AdlPath);
        th::ScanError why = th::ScanError::None;
        const auto scan = th::ScanForExport(lines, &why);
        ASSERT_TRUE(scan) << static_cast<int>(why);
        EXPECT_EQ(scan->frameRateText, want.frameRate);
        EXPECT_EQ(scan->nextEntryNo, want.events + 1);

        const fs::path dest = out / want.name;
        fs::create_directories(dest);
        sel.DestFolder = platform::ToDrivePath(dest.string());
        ASSERT_TRUE(job.RunImport());
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(table.EventCount, want.events);
        for (int n = 1; n <= 8; ++n) {
            const fs::path track = dest / ("tr0" + std::to_string(n) + ".wav");
            const std::uint32_t samples = want.trackSamples[static_cast<std::size_t>(n - 1)];
            if (samples == 0) {
                EXPECT_FALSE(fs::exists(track)) << n;
            } else {
                ASSERT_TRUE(fs::exists(track)) << n;
                EXPECT_EQ(fs::file_size(track), 46u + 2u * samples) << n;
            }
        }
    }
}

TEST_F(DemoCard, OverlapGapAndSilenceLandWhereTheListSays) {
    MappedDrive drive("E:", card / "card");
    ImportRig rig;
    auto& [ui, sel, table, renderer, job] = rig;
    rig.PickSong("E:", "DEMO44K");
    sel.DestFolder = platform::ToDrivePath(out.path().string());
    ASSERT_TRUE(job.RunImport());

    const fs::path song = card / "card" / "DEMO44K";
    const std::string tone1 = Audio(song / "zt60001.wav");
    const std::string tone2 = Audio(song / "zt60002.wav");
    const std::string tone3 = Audio(song / "zt60003.wav");
    const std::string t1 = Audio(out / "tr01.wav");
    const std::string t2 = Audio(out / "tr02.wav");
    const std::string t3 = Audio(out / "tr03.wav");
    // Track 1: half a second of gap, then the first tone.
    EXPECT_EQ(t1.substr(0, 44100), std::string(44100, '\0'));
    EXPECT_EQ(t1.substr(44100, tone1.size()), tone1);
    // Track 2: the later event wins from 1 s to 2 s, then the earlier one resumes.
    EXPECT_EQ(t2.substr(0, 88200), tone3.substr(0, 88200));
    EXPECT_EQ(t2.substr(88200, 88200), tone1.substr(44100, 88200));
    EXPECT_EQ(t2.substr(176400), tone3.substr(176400));
    // Track 3: silence inside the tone.
    EXPECT_EQ(t3.substr(0, 44100), tone2.substr(0, 44100));
    EXPECT_EQ(t3.substr(44100, 44100), std::string(44100, '\0'));
    EXPECT_EQ(t3.substr(88200), tone2.substr(88200));
    EXPECT_NE(tone1.find_first_not_of('\0'), std::string::npos);
}

TEST_F(DemoCard, IsTheSameEveryTimeAndNamesFilesLikeTheRecorder) {
    th::WriteDemoCard((card / "again").string());
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(card / "card")) {
        if (!e.is_regular_file())
            continue;
        ++files;
        const fs::path rel = fs::relative(e.path(), card / "card");
        EXPECT_EQ(ReadFile(e.path()), ReadFile(card / "again" / rel)) << rel;
        const std::string name = rel.filename().string();
        if (name.size() > 4 && name.substr(name.size() - 4) == ".wav") {
            EXPECT_EQ(name.substr(0, 3), "zt6") << name;
        }
    }
    EXPECT_EQ(files, 3 + 1 + 2 + 1);
    const std::string adl = ReadFile(card / "card" / "DEMO44K" / "DEMO44K.ADL");
    EXPECT_NE(adl.find("\"ZT60003.WAV\""), std::string::npos);
    EXPECT_NE(adl.find("(Silence)"), std::string::npos);
}

TEST(DemoCardCli, WritesTheCardIntoANewFolder) {
    TempDir dir;
    const fs::path target = dir / "new" / "card";
    const testsupport::ProcessResult run =
        testsupport::RunProgram(TRACKHAUL_CLI, {"demo-card", target.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(target / "DEMO22K" / "DEMO22K.ADL"));
    EXPECT_TRUE(fs::exists(target / "DEMO44K" / "zt60003.wav"));
}

} // namespace
