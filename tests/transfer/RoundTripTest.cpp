// An export followed by an import of the same song gives back each exported track's audio.
#include "support/ImportRig.h"

#include "platform/Platform.h"
#include "transfer/P2z.h"
#include "transfer/Z2p.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

struct RoundTrip {
    int rate;
    const char* sequenceTc; // gives the song's frame rate
    const char* name;
};

class RoundTripTest : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTripTest, ImportGivesBackTheExportedAudio) {
    const RoundTrip& c = GetParam();
    TempDir card, pc, back;
    MappedDrive drive("E:", card.path());
    fs::create_directories(card / "SONG");
    // One earlier take on track 5, so the new events are appended after it.
    WriteFile(card / "SONG" / "zt60001.wav", MakeWav(Pattern(800, 9), c.rate));
    const std::string zero = std::string(c.sequenceTc);
    WriteFile(card / "SONG" / "SONG.ADL",
              AdlText(c.rate, zero, {EventLine(1, 5, "ZT60001.WAV", zero, zero, zero)}));

    // Lengths that end inside a frame, and one of several seconds.
    const std::map<int, std::string> takes = {
        {1, Pattern(2 * 12345, 1)}, {3, Pattern(2 * 3 * c.rate + 2 * 77, 3)}, {8, Pattern(2, 8)}};
    for (const auto& [track, audio] : takes)
        WriteFile(pc / ("tr0" + std::to_string(track) + ".wav"), MakeWav(audio, c.rate));

    ImportRig rig;
    auto& [ui, sel, table, renderer, importJob] = rig;
    th::LoadSongList(sel, "E:");
    ASSERT_EQ(sel.SampleRate, c.rate);
    sel.DestFolder = platform::ToDrivePath(pc.path().string());
    th::UpdateExportTracks(sel, sel.DestFolder);
    th::TExportJob exportJob(ui, sel);
    ASSERT_TRUE(exportJob.RunExport()) << (ui.messages.empty() ? "" : ui.messages.back());

    th::SelectSong(sel, sel.SongIndex);
    sel.DestFolder = platform::ToDrivePath(back.path().string());
    ASSERT_TRUE(importJob.RunImport()) << (ui.messages.empty() ? "" : ui.messages.back());
    EXPECT_EQ(table.EventCount, 4);

    for (const auto& [track, audio] : takes) {
        const std::string file = ReadFile(back / ("tr0" + std::to_string(track) + ".wav"));
        ASSERT_GE(file.size(), 46u) << track;
        EXPECT_EQ(file.substr(46), audio) << "track " << track;
        EXPECT_EQ(file.substr(24, 4), U32(static_cast<std::uint32_t>(c.rate)));
    }
}

INSTANTIATE_TEST_SUITE_P(RatesAndFrameRates, RoundTripTest,
                         ::testing::Values(RoundTrip{44100, "00=00=00.00|0000", "F24_44100"},
                                           RoundTrip{44100, "00.00.00.00|0000", "F25_44100"},
                                           RoundTrip{44100, "00|00|00.00|0000", "F30nd_44100"},
                                           RoundTrip{44100, "00|00|00,00|0000", "F30df_44100"},
                                           RoundTrip{22050, "00.00.00.00L0000", "F25_22050"},
                                           RoundTrip{22050, "00|00|00,00L0000", "F30df_22050"},
                                           RoundTrip{48000, "00|00|00.00/0000", "F30nd_48000"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
