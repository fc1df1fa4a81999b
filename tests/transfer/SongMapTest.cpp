// The song map against hand-worked lists and, on random lists, against what the renderer
// actually writes; reading a list fails as the import does.
#include "support/EventTables.h"
#include "support/ImportRig.h"

#include "platform/Platform.h"
#include "song/Errors.h"
#include "song/Tc2w.h"
#include "transfer/SongMap.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// A stretch as "start-end:row@source" (row 0 never appears).
std::vector<std::string> Plays(const th::TrackMap& t) {
    std::vector<std::string> out;
    for (const th::MapStretch& s : t.plays)
        out.push_back(std::to_string(s.start) + "-" + std::to_string(s.end) + ":" +
                      std::to_string(t.events[s.event].row) + "@" + std::to_string(s.sourceAt));
    return out;
}

struct MapCase {
    const char* name;
    std::vector<Ev> events;
    std::uint32_t end;              // of track 1, samples
    std::vector<std::string> plays; // of track 1
};

class SongMapLists : public ::testing::TestWithParam<MapCase> {};

TEST_P(SongMapLists, PlaysWhatTheRendererWouldWrite) {
    th::SongEventTable table;
    Fill(table, GetParam().events);
    const th::SongMap map = th::BuildSongMap(table, "S", 44100);
    EXPECT_EQ(map.tracks[0].end, GetParam().end);
    EXPECT_EQ(Plays(map.tracks[0]), GetParam().plays);
}

INSTANTIATE_TEST_SUITE_P(
    Overlaps, SongMapLists,
    ::testing::Values(
        MapCase{"LaterInnerEventWinsThenOuterResumes",
                {{1, 0, 20, 3, "a"}, {1, 5, 10, 7, "b"}},
                20,
                {"0-5:1@3", "5-10:2@7", "10-20:1@13"}},
        MapCase{"EarlierInnerEventIsHidden",
                {{1, 5, 10, 7, "b"}, {1, 0, 20, 3, "a"}},
                20,
                {"0-20:2@3"}},
        MapCase{"GapAndBackwardsListing",
                {{1, 20, 30, 0, "b"}, {1, 0, 10, 0, "a"}},
                30,
                {"0-10:2@0", "20-30:1@0"}},
        MapCase{"SilenceCutsTheTrack", {{1, 0, 10, 0, "a"}, {1, 5, 15, 0, ""}}, 5, {"0-5:1@0"}},
        MapCase{"SilenceInsideAnEvent",
                {{1, 0, 40, 0, "a"}, {1, 10, 20, 0, ""}},
                40,
                {"0-10:1@0", "10-20:2@0", "20-40:1@20"}},
        MapCase{"LaterAudioExtendsACutTrack",
                {{1, 0, 10, 0, "a"}, {1, 5, 15, 0, ""}, {1, 8, 12, 0, "b"}},
                12,
                {"0-5:1@0", "5-8:2@0", "8-12:3@0"}},
        MapCase{"ReversedAndEmptyEventsCoverNothing",
                {{1, 0, 20, 0, "a"}, {1, 60, 30, 0, "b"}, {1, 10, 10, 0, "c"}},
                30,
                {"0-20:1@0"}},
        MapCase{"OnlySilence", {{1, 0, 100, 0, ""}}, 0, {}},
        MapCase{
            "OtherTracksAreApart", {{2, 0, 50, 0, "b"}, {1, 10, 20, 0, "a"}}, 20, {"10-20:2@0"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SongMap, EventsKeepTheirListOrderTimecodesAndPlayedLength) {
    th::SongEventTable table;
    Fill(table, {{3, 0, 20, 3, "a.wav"}, {9, 0, 5, 0, "x"}, {3, 5, 10, 7, "b.wav"}});
    table.Row(3).EntryNo = 42;
    const th::SongMap map = th::BuildSongMap(table, "SONG", 22050);
    EXPECT_EQ(map.song, "SONG");
    EXPECT_EQ(map.sampleRate, 22050);
    EXPECT_EQ(map.Length(), 20u);
    const th::TrackMap& t = map.tracks[2];
    EXPECT_EQ(t.track, 3);
    ASSERT_EQ(t.events.size(), 2u); // track 9 belongs to no lane
    EXPECT_EQ(t.events[1].row, 3);
    EXPECT_EQ(t.events[1].entryNo, 42);
    EXPECT_EQ(t.events[1].sourceFile, "b.wav");
    EXPECT_EQ(t.events[1].sourceInTc, Tc(7));
    EXPECT_EQ(t.events[1].destOutTc, Tc(10));
    EXPECT_EQ(t.events[0].played, 15u);
    EXPECT_EQ(t.events[1].played, 5u);
}

// What is not heard of each event: under a later event, and past the track's end.
TEST(SongMap, HiddenParts) {
    using Parts = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
    th::SongEventTable table;
    Fill(table, {{1, 0, 20, 0, "a"},
                 {1, 5, 10, 0, "b"},
                 {1, 2, 4, 0, "c"},
                 {1, 0, 30, 0, "a"},
                 {1, 25, 40, 0, ""}});
    const th::TrackMap t = th::BuildSongMap(table, "S", 44100).tracks[0];
    EXPECT_EQ(t.end, 25u);
    EXPECT_EQ(t.events[0].hidden, (Parts{{0, 20}})); // wholly under row 4
    EXPECT_EQ(t.events[1].hidden, (Parts{{5, 10}}));
    EXPECT_EQ(t.events[3].hidden, (Parts{{25, 30}})); // past the end
    EXPECT_EQ(t.events[4].hidden, (Parts{{25, 40}})); // the cutting silence
    EXPECT_EQ(t.events[2].played, 0u);
    EXPECT_TRUE(th::BuildSongMap(table, "S", 44100).tracks[1].events.empty());

    // Without audio nothing is heard.
    Fill(table, {{1, 0, 20, 0, ""}});
    EXPECT_EQ(th::BuildSongMap(table, "S", 44100).tracks[0].events[0].hidden, (Parts{{0, 20}}));
    // A reversed audio event covers nothing but still reaches its out point, as in the renderer.
    Fill(table, {{1, 0, 20, 0, ""}, {1, 30, 10, 0, "a"}});
    const th::TrackMap reversed = th::BuildSongMap(table, "S", 44100).tracks[0];
    EXPECT_EQ(reversed.end, 10u);
    EXPECT_EQ(reversed.events[0].hidden, (Parts{{10, 20}}));
    EXPECT_TRUE(reversed.events[1].hidden.empty());
}

TEST(SongMap, TimesAsHoursMinutesSecondsMilliseconds) {
    EXPECT_EQ(th::FormatTime(0, 44100), "0:00:00.000");
    EXPECT_EQ(th::FormatTime(44100 * 3661 + 22050, 44100), "1:01:01.500");
    EXPECT_EQ(th::FormatTime(47, 48000), "0:00:00.000");
    EXPECT_EQ(th::FormatTime(48, 48000), "0:00:00.001");
    EXPECT_EQ(th::FormatTime(0xFFFFFFFFu, 22050), "54:06:23.097");
    EXPECT_EQ(th::FormatTime(100, 0), "?");
}

// Random lists rendered by the real renderer: the audio stretches are exactly the non-zero
// bytes of the file, each byte taken from its source where the map says, and the file is as
// long as the map's end. Sources hold no zero byte and are long enough for every read.
TEST(SongMap, RandomListsAgreeWithTheRenderer) {
    TempDir card, out;
    MappedDrive drive("E:", card.path());
    fs::create_directories(card / "Song");
    ImportRig rig;
    rig.sel.DriveRoot = "E:";
    rig.sel.Songs = {"Song"};
    rig.sel.SongIndex = 0;
    rig.sel.SampleRate = 44100;
    rig.sel.DestFolder = platform::ToDrivePath(out.path().string());
    const std::vector<std::string> names = {"s1.wav", "s2.wav", "s3.wav"};
    std::map<std::string, std::string> sources;
    for (std::size_t i = 0; i < names.size(); ++i) {
        sources[names[i]] = Pattern(400, static_cast<std::uint32_t>(i + 30));
        WriteFile(card / "Song" / names[i], MakeWav(sources[names[i]]));
    }

    std::mt19937 rng(14);
    auto at = [&](std::uint32_t limit) { return static_cast<std::uint32_t>(rng() % (limit + 1)); };
    for (int iter = 0; iter < 1500; ++iter) {
        std::vector<Ev> events(1 + rng() % 8);
        for (Ev& e : events) {
            e.track = 1 + static_cast<int>(rng() % 2);
            e.start = at(60);
            e.end = rng() % 6 == 0 ? at(60) : e.start + at(40); // sometimes reversed
            e.src = at(100);
            e.file = rng() % 4 == 0 ? "" : names[rng() % names.size()];
        }
        Fill(rig.table, events);
        const th::SongMap map = th::BuildSongMap(rig.table, "Song", 44100);
        for (int n = 1; n <= 2; ++n) {
            const th::TrackMap& t = map.tracks[static_cast<std::size_t>(n - 1)];
            const fs::path file = out / ("tr0" + std::to_string(n) + ".wav");
            ASSERT_TRUE(rig.renderer.RenderTrack(n)) << iter;
            if (t.end == 0) {
                ASSERT_FALSE(fs::exists(file)) << iter;
                continue;
            }
            const std::string audio = ReadFile(file).substr(46);
            fs::remove(file);
            ASSERT_EQ(audio.size(), 2u * t.end) << iter;
            std::string expected(audio.size(), '\0');
            std::uint32_t last = 0;
            for (const th::MapStretch& s : t.plays) {
                ASSERT_LE(last, s.start) << iter;
                ASSERT_LT(s.start, s.end) << iter;
                last = s.end;
                const th::MapEvent& e = t.events[s.event];
                if (!e.silence)
                    expected.replace(2 * s.start, 2 * (s.end - s.start), sources.at(e.sourceFile),
                                     2 * s.sourceAt, 2 * (s.end - s.start));
            }
            ASSERT_LE(last, t.end) << iter;
            ASSERT_EQ(audio, expected) << iter << " track " << n;
        }
    }
}

struct BadList {
    const char* name;
    std::string adl; // empty: no file
    const char* message;
};

class SongMapReading : public ::testing::TestWithParam<BadList> {};

TEST_P(SongMapReading, FailsWithTheImportsMessage) {
    TempDir card;
    MappedDrive drive("E:", card.path());
    fs::create_directories(card / "S");
    std::string path;
    if (!GetParam().adl.empty()) {
        WriteFile(card / "S" / "S.ADL", GetParam().adl);
        path = "E:\\S\\S.ADL";
    }
    try {
        th::ReadSongMap(path, "S", 44100);
        FAIL() << "no error";
    } catch (const std::exception& e) {
        EXPECT_EQ(std::string(e.what()), GetParam().message);
    }
}

std::string ManyEvents(int count) {
    std::vector<std::string> lines;
    for (int i = 1; i <= count; ++i)
        lines.push_back(SilenceLine(i, 1, Tc(0), Tc(1)));
    return AdlText(44100, Tc(0), lines);
}

INSTANTIATE_TEST_SUITE_P(
    Import, SongMapReading,
    ::testing::Values(BadList{"NoList", "", "This drive isn't ZT-6."},
                      BadList{"TooManyEvents", ManyEvents(9999), "Too many events!"},
                      BadList{"NotAnInteger",
                              AdlText(44100, Tc(0),
                                      {"\t\t(Entry)\tX\t(Cut)\tF\t\"A\"\t1\t1\ta\tb\tc\t_"}),
                              "S.ADL, line 13: 'X' is not a valid integer value"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SongMap, ReadsTheLongestListTheImportAccepts) {
    TempDir card;
    MappedDrive drive("E:", card.path());
    fs::create_directories(card / "S");
    WriteFile(card / "S" / "S.ADL", ManyEvents(9998));
    const th::SongMap map = th::ReadSongMap("E:\\S\\S.ADL", "S", 44100);
    EXPECT_EQ(map.tracks[0].events.size(), 9998u);
    EXPECT_EQ(map.tracks[0].end, 0u);
}

} // namespace
