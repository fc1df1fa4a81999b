// The track renderer against hand-worked cases and, on random lists, against a plain
// per-position statement of what a rendered track holds.
#include "support/FaultInjection.h"
#include "support/ImportRig.h"

#include "platform/Platform.h"
#include "song/Tc2w.h"
#include "transfer/Renderer.h"
#include "transfer/TrackPlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <random>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// Timecode of a byte position (44100 Hz, 30 fps non-drop, which reads back exactly).
std::string Tc(std::uint32_t bytes) {
    return th::TTC2W().SamplesToTc(bytes / 2, 44100, 30, false);
}

struct Ev {
    int track;
    std::uint32_t start, end, src; // byte positions
    std::string file;              // empty: a silence event
};

// A card on drive E: with song "Song", an output folder, and the renderer's inputs.
class RenderFixture : public ::testing::Test, protected ImportRig {
protected:
    TempDir card, out;
    MappedDrive drive{"E:", card.path()};
    std::map<std::string, std::string> sources; // file name -> audio bytes

    void SetUp() override {
        fs::create_directories(card / "Song");
        sel.DriveRoot = "E:";
        sel.Songs = {"Song"};
        sel.SongIndex = 0;
        sel.SampleRate = 44100;
        sel.DestFolder = platform::ToDrivePath(out.path().string());
        ASSERT_FALSE(sel.DestFolder.empty());
    }

    void AddSource(const std::string& name, const std::string& audio) {
        sources[name] = audio;
        WriteFile(card / "Song" / name, MakeWav(audio));
    }

    void SetEvents(const std::vector<Ev>& events) {
        table.EventCount = static_cast<int>(events.size());
        for (std::size_t i = 0; i < events.size(); ++i) {
            th::SongEvent& e = table.Row(static_cast<int>(i + 1));
            e = th::SongEvent{};
            e.EntryNo = static_cast<int>(i + 1);
            e.DestChannel = events[i].track;
            e.DestIn = Tc(events[i].start);
            e.DestOut = Tc(events[i].end);
            if (events[i].file.empty()) {
                e.EditKind = "(Silence)";
                e.SourceChannel = 1;
            } else {
                e.EditKind = "(Cut)";
                e.SourceFile = events[i].file;
                e.SourceIn = Tc(events[i].src);
            }
        }
    }

    fs::path TrackFile(int n) const { return out / ("tr0" + std::to_string(n) + ".wav"); }

    // The audio bytes of a rendered track (after the 46-byte header).
    std::string Audio(int n) const { return ReadFile(TrackFile(n)).substr(46); }
};

// What a track holds by the rule, position by position; also the track's end.
std::string Oracle(const std::vector<Ev>& events, int track,
                   const std::map<std::string, std::string>& sources, std::uint32_t* trackEnd) {
    // The track's end: last-ending audio event, cut back by a later silence reaching as far,
    // extended again by audio listed from there on.
    std::uint32_t end = 0;
    int next = 0;
    for (int i = 0; i < static_cast<int>(events.size()); ++i)
        if (events[i].track == track && !events[i].file.empty() && events[i].end >= end)
            end = events[i].end, next = i;
    for (int i = 0; i < static_cast<int>(events.size()); ++i)
        if (events[i].track == track && events[i].file.empty() && events[i].start <= end &&
            events[i].end >= end && i > next)
            end = events[i].start, next = i;
    for (int i = next; i < static_cast<int>(events.size()); ++i)
        if (events[i].track == track && !events[i].file.empty() && events[i].end >= end)
            end = events[i].end;
    *trackEnd = end;

    std::string audio(end, '\0');
    for (std::uint32_t p = 0; p < end; ++p) {
        const Ev* winner = nullptr;
        for (const Ev& e : events)
            if (e.track == track && e.start <= p && p < e.end)
                winner = &e;
        if (!winner || winner->file.empty())
            continue;
        const std::string& src = sources.at(winner->file);
        const std::uint64_t at = std::uint64_t{winner->src} + (p - winner->start);
        audio[p] = at < src.size() ? src[at] : '\0';
    }
    return audio;
}

// What a plan says the track holds: its stretches laid end to end, checked to cover
// 0 .. end without holes or empty stretches.
std::string PlanBytes(const th::TrackPlan& plan,
                      const std::map<std::string, std::string>& sources) {
    std::string audio;
    for (const th::PlanStretch& s : plan.stretches) {
        EXPECT_EQ(s.start, audio.size());
        EXPECT_LT(s.start, s.end);
        if (s.row == 0) {
            EXPECT_LT(s.source, 0); // a gap reads nothing
        }
        std::string piece(s.end - s.start, '\0');
        if (s.source >= 0) {
            const std::string& src =
                sources.at(plan.sources.at(static_cast<std::size_t>(s.source)));
            for (std::size_t i = 0; i < piece.size(); ++i)
                if (s.sourceAt + i < src.size())
                    piece[i] = src[s.sourceAt + i];
        }
        audio += piece;
    }
    EXPECT_EQ(audio.size(), plan.end);
    return audio;
}

TEST_F(RenderFixture, SingleEventGivesTheExactFile) {
    AddSource("zt60001.wav", Pattern(1000, 1));
    SetEvents({{1, 100, 200, 40, "ZT60001.WAV"}}); // upper case in the list, lower on disk
    ASSERT_TRUE(renderer.RenderTrack(1));
    const std::string file = ReadFile(TrackFile(1));
    ASSERT_EQ(file.size(), 246u);
    EXPECT_EQ(file.substr(4, 4), U32(238));
    EXPECT_EQ(file.substr(16, 4), U32(18));
    EXPECT_EQ(file.substr(24, 4), U32(44100));
    EXPECT_EQ(file.substr(42, 4), U32(200));
    EXPECT_EQ(file.substr(46), std::string(100, '\0') + sources["zt60001.wav"].substr(40, 100));
    EXPECT_EQ(renderer.TrackEnd, 200u);
    EXPECT_EQ(ui.max, 200u);
    EXPECT_EQ(ui.pos, 200u);
    EXPECT_FALSE(fs::exists(out / "tr01"));
}

struct ListCase {
    const char* name;
    std::vector<Ev> events;
};

class RenderLists : public RenderFixture, public ::testing::WithParamInterface<ListCase> {};

// Hand-worked lists whose output must match the rule exactly.
TEST_P(RenderLists, MatchesTheRule) {
    AddSource("a.wav", Pattern(400, 2));
    AddSource("b.wav", Pattern(400, 3));
    AddSource("d.wav", Pattern(400, 4));
    SetEvents(GetParam().events);
    std::uint32_t end = 0;
    const std::string expected = Oracle(GetParam().events, 1, sources, &end);
    ASSERT_TRUE(renderer.RenderTrack(1));
    EXPECT_EQ(renderer.TrackEnd, end);
    EXPECT_EQ(Audio(1), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Overlaps, RenderLists,
    ::testing::Values(
        ListCase{"GapBetweenEvents", {{1, 0, 10, 0, "a.wav"}, {1, 20, 30, 0, "b.wav"}}},
        ListCase{"GapBetweenEventsListedBackwards",
                 {{1, 20, 30, 0, "b.wav"}, {1, 0, 10, 0, "a.wav"}}},
        ListCase{"LaterInnerEventWinsThenOuterResumes",
                 {{1, 0, 20, 6, "a.wav"}, {1, 4, 10, 8, "b.wav"}}},
        ListCase{"EarlierInnerEventIsHidden", {{1, 4, 10, 8, "b.wav"}, {1, 0, 20, 6, "a.wav"}}},
        // A 0..100, B 20..50, D 40..50: A plays again from 50 on.
        ListCase{"SharedEndDoesNotSilenceTheOuterEvent",
                 {{1, 0, 100, 0, "a.wav"}, {1, 20, 50, 0, "b.wav"}, {1, 40, 50, 0, "d.wav"}}},
        ListCase{"SilenceCutsTheTrack", {{1, 0, 10, 0, "a.wav"}, {1, 6, 16, 0, ""}}},
        ListCase{"SilenceInsideAnEvent", {{1, 0, 40, 0, "a.wav"}, {1, 10, 20, 0, ""}}},
        ListCase{"ReversedAndEmptyEventsCoverNothing",
                 {{1, 0, 20, 0, "a.wav"}, {1, 60, 30, 0, "b.wav"}, {1, 10, 10, 0, "d.wav"}}},
        ListCase{"ShortSourceReadsAsZero", {{1, 0, 300, 300, "a.wav"}}},
        ListCase{"OtherTracksAreIgnored", {{2, 0, 50, 0, "b.wav"}, {1, 10, 20, 0, "a.wav"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RenderFixture, TrackWithoutAudioMakesNoFileAndAsksNothing) {
    WriteFile(TrackFile(1), "old");
    SetEvents({{1, 0, 100, 0, ""}, {2, 0, 100, 0, "x.wav"}});
    EXPECT_TRUE(renderer.RenderTrack(1));
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_EQ(ReadFile(TrackFile(1)), "old");
}

// Copies of a whole number of blocks and of one byte more render whole.
TEST_F(RenderFixture, CopiesOfBlockSizesRenderWhole) {
    for (std::uint32_t bytes : {131072u, 65538u}) {
        AddSource("big.wav", Pattern(bytes, bytes));
        SetEvents({{1, 0, bytes, 0, "big.wav"}});
        ASSERT_TRUE(renderer.RenderTrack(1));
        EXPECT_EQ(Audio(1), sources["big.wav"]);
        EXPECT_EQ(ui.pos, bytes);
        fs::remove(TrackFile(1));
    }
}

TEST_F(RenderFixture, ReadOnlyOldTrackIsAskedAboutThenReplaced) {
    AddSource("a.wav", Pattern(100, 5));
    SetEvents({{3, 0, 100, 0, "a.wav"}});
    WriteFile(TrackFile(3), "old take");
    fs::permissions(TrackFile(3),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);

    ui.answers = {false};
    EXPECT_FALSE(renderer.RenderTrack(3));
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0], "Overwrite <" + TrackFile(3).string() + "> ?");
    EXPECT_EQ(ReadFile(TrackFile(3)), "old take");
    EXPECT_TRUE(platform::IsReadOnly(sel.DestFolder + "\\tr03.wav"));

    ui.answers = {true};
    EXPECT_TRUE(renderer.RenderTrack(3));
    EXPECT_EQ(Audio(3), sources["a.wav"]);
}

TEST_F(RenderFixture, MissingSourceFailsAndKeepsTheOldTake) {
    SetEvents({{1, 0, 100, 0, "zt60009.wav"}});
    WriteFile(TrackFile(1), "old take");
    EXPECT_FALSE(renderer.RenderTrack(1));
    EXPECT_EQ(ReadFile(TrackFile(1)), "old take");
    EXPECT_FALSE(fs::exists(out / "tr01"));
}

// A track of many output pieces, shared out between two workers, with two missing sources:
// the one heard first is the one told, however the workers raced.
TEST_F(RenderFixture, MissingSourceToldIsTheFirstOneHeard) {
    AddSource("a.wav", Pattern(300000, 5));
    std::vector<Ev> events;
    for (std::uint32_t i = 0; i < 40; ++i) {
        const char* name = i == 23 ? "gone.wav" : i == 31 ? "lost.wav" : "a.wav";
        events.push_back({1, i * 250000, (i + 1) * 250000, 0, name});
    }
    SetEvents(events);
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        WriteFile(TrackFile(1), "old take");
        ui.answers = {true};
        EXPECT_FALSE(renderer.RenderTrack(1));
        EXPECT_NE(renderer.Why.file.find("gone.wav"), std::string::npos) << renderer.Why.file;
        EXPECT_EQ(ReadFile(TrackFile(1)), "old take");
        EXPECT_FALSE(fs::exists(out / "tr01"));
    }
}

// Cancel pressed during a copy, seen after a block or only after the segment: the track
// fails, its unfinished file is removed and an older take stays untouched.
TEST_F(RenderFixture, CancelAlwaysCancels) {
    AddSource("big.wav", Pattern(200000, 6));
    SetEvents({{1, 0, 100000, 0, "big.wav"}, {1, 100000, 200000, 100000, "big.wav"}});
    for (int pressAt : {1, 2}) { // 2: the pump after the first segment's last block
        WriteFile(TrackFile(1), "old take");
        ui.pumps = 0;
        ui.onPump = [pressAt](FakeUi& u) {
            if (u.pumps == pressAt)
                u.cancelled = true;
        };
        EXPECT_FALSE(renderer.RenderTrack(1)) << pressAt;
        EXPECT_EQ(ReadFile(TrackFile(1)), "old take");
        EXPECT_FALSE(fs::exists(out / "tr01"));
    }
}

TEST_F(RenderFixture, LongGapIsWrittenInBoundedBlocks) {
    AddSource("a.wav", Pattern(10, 7));
    const std::uint32_t gap = 5 * 65536 + 2;
    SetEvents({{1, gap, gap + 10, 0, "a.wav"}});
    ASSERT_TRUE(renderer.RenderTrack(1));
    EXPECT_EQ(Audio(1), std::string(gap, '\0') + sources["a.wav"]);
}

// Short events: the dialog stays live (a pump for every 64 KiB of output) and Cancel is seen
// within a block.
TEST_F(RenderFixture, ShortEventsPumpOncePerBlockOfOutput) {
    AddSource("a.wav", Pattern(1000, 8));
    std::vector<Ev> events;
    for (std::uint32_t i = 0; i < 300; ++i)
        events.push_back({1, i * 1000, i * 1000 + 1000, 0, "a.wav"});
    SetEvents(events);
    ASSERT_TRUE(renderer.RenderTrack(1));
    EXPECT_GE(ui.pumps, 300000 / 65536);
    EXPECT_EQ(ui.pos, 300000u);
    std::string expected;
    for (int i = 0; i < 300; ++i)
        expected += sources["a.wav"];
    EXPECT_EQ(Audio(1), expected);

    ui.pumps = 0;
    ui.onPump = [](FakeUi& u) { u.cancelled = true; };
    EXPECT_FALSE(renderer.RenderTrack(1));
    EXPECT_EQ(ui.pumps, 1);
    EXPECT_TRUE(fs::exists(TrackFile(1)));
    EXPECT_FALSE(fs::exists(out / "tr01"));
}

// How much of the sources the system holds in memory: all (a song read before), every other
// read refused as not held, or none (a card read for the first time: every part goes through
// blocks, and the two workers share the marks of blocks read once).
enum class Held { All, Half, None };
class RenderHeld : public RenderFixture, public ::testing::WithParamInterface<Held> {};

// Takes from more sources than a track keeps open, names in another letter case than on the
// card, short stretches and silences across many output writes and source blocks, long
// stretches at every alignment, and a stretch past its source's end: byte for byte the rule,
// with a bounded number of files open.
TEST_P(RenderHeld, ManySourcesAndLongStretchesMatchTheRule) {
    unsigned asked = 0;
    const Held held = GetParam();
    platform::SetFaultHook([&](platform::FileOp op, const std::string&) {
        if (op != platform::FileOp::CachedRead)
            return 0;
        ++asked; // under the seam's lock
        return held == Held::None || (held == Held::Half && asked % 2 == 0) ? EAGAIN : 0;
    });
    struct Unhook {
        ~Unhook() { platform::SetFaultHook({}); }
    } unhook;
    std::vector<std::string> names;
    for (int k = 0; k < 20; ++k) {
        names.push_back(std::string("s") + std::to_string(k) + ".wav");
        AddSource(names.back(), Pattern(20000, static_cast<std::uint32_t>(100 + k)));
    }
    AddSource("big.wav", Pattern(3 << 20, 99));
    std::mt19937 rng(13);
    std::vector<Ev> events;
    std::uint32_t at = 0;
    for (int i = 0; i < 3000; ++i) {
        const std::uint32_t len = 2 * (1 + rng() % 3000);
        events.push_back({1, at, at + len, static_cast<std::uint32_t>(2 * (rng() % 5000)),
                          i % 7 == 3 ? std::string() : names[rng() % names.size()]});
        at += len + 2 * (rng() % 50);
    }
    // The source's audio starts at byte 44 and the output's at 46: src - pos = 2 (mod 64) puts
    // both at the same place in a page.
    events.push_back({1, at, at + (1 << 20) + 6, at + 2 + 640, "big.wav"});
    at += (1 << 20) + 6;
    events.push_back({1, at, at + (1 << 20) + 100, 10, "big.wav"});
    at += (1 << 20) + 100;
    events.push_back({1, at, at + 30000, 19990, "S3.WAV"}); // mostly past the source's end
    SetEvents(events);
    // The events follow one another, so the rule reads simply: each event's stretch of its
    // source (zeros past the source's end) after the gap since the previous one.
    std::string expected;
    for (const Ev& e : events) {
        std::string lower = e.file;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string stretch;
        if (!e.file.empty()) {
            const std::string& src = sources.at(lower);
            stretch = src.substr(std::min<std::size_t>(e.src, src.size()), e.end - e.start);
        }
        stretch.resize(e.end - e.start, '\0');
        expected += std::string(e.start - expected.size(), '\0') + stretch;
    }

    const int before = OpenDescriptors();
    int most = before;
    ui.onPump = [&](FakeUi&) { most = std::max(most, OpenDescriptors()); };
    ASSERT_TRUE(renderer.RenderTrack(1));
    EXPECT_EQ(Audio(1), expected);
    EXPECT_EQ(ui.pos, expected.size());
    // The sources each of the two workers keeps open, its queue to the system, and the output.
    EXPECT_LE(most, before + 2 * (16 + 1) + 1);
#ifdef __linux__
    EXPECT_GT(asked, 1000u); // the short stretches were offered as held
#endif
}
INSTANTIATE_TEST_SUITE_P(Sources, RenderHeld, ::testing::Values(Held::All, Held::Half, Held::None),
                         [](const auto& info) {
                             return std::string(info.param == Held::All    ? "AllHeld"
                                                : info.param == Held::Half ? "HalfHeld"
                                                                           : "NoneHeld");
                         });

// A write that fails (the header's, an early one of the audio, one midway, or the header
// written back at the end): the track fails with the write's reason, its
// unfinished file goes and the old take stays. The next render, with the disk fixed, writes
// the whole track again.
TEST_F(RenderFixture, AFailedWriteFailsTheTrackAndIsForgottenAfter) {
    AddSource("a.wav", Pattern(40000, 3));
    AddSource("b.wav", Pattern(40000, 4));
    std::mt19937 rng(7);
    std::vector<Ev> events;
    for (std::uint32_t at = 0; at < (9u << 20);) { // some nine writes of short pieces
        const std::uint32_t len = 2 * (500 + rng() % 4000);
        events.push_back({1, at, at + len, static_cast<std::uint32_t>(2 * (rng() % 10000)),
                          rng() % 2 ? "a.wav" : "b.wav"});
        at += len;
    }
    SetEvents(events);
    unsigned writes = 0;
    {
        FaultPlan counting(platform::FileOp::Write);
        ASSERT_TRUE(renderer.RenderTrack(1));
        writes = counting.Count(platform::FileOp::Write);
    }
    const std::string whole = Audio(1);
    ASSERT_GE(writes, 9u);
    for (unsigned n : {1u, 2u, 3u, writes / 2, writes}) {
        SCOPED_TRACE("write #" + std::to_string(n) + " of " + std::to_string(writes));
        WriteFile(TrackFile(1), "old take");
        ui.answers = {true};
        {
            FaultPlan full(platform::FileOp::Write, n, ENOSPC);
            EXPECT_FALSE(renderer.RenderTrack(1));
            EXPECT_TRUE(full.Fired());
        }
        EXPECT_EQ(renderer.Why.reason, th::SystemReason(ENOSPC));
        EXPECT_EQ(ReadFile(TrackFile(1)), "old take");
        EXPECT_FALSE(fs::exists(out / "tr01"));
    }
    ui.answers = {true};
    ASSERT_TRUE(renderer.RenderTrack(1));
    EXPECT_EQ(Audio(1), whole);
}

// Random lists: overlaps, shared ends, empty and reversed events, silences, gaps, several
// tracks and short sources, each rendered and compared byte for byte with the rule.
TEST_F(RenderFixture, RandomListsMatchTheRule) {
    std::mt19937 rng(20261208);
    const std::vector<std::string> names = {"s1.wav", "s2.wav", "s3.wav"};
    for (std::size_t i = 0; i < names.size(); ++i)
        AddSource(names[i], Pattern(60 + 70 * i, static_cast<std::uint32_t>(i + 10)));
    auto pos = [&](std::uint32_t limit) { return 2 * (rng() % (limit / 2 + 1)); };
#ifdef _WIN32
    // Creating a file costs far more on Windows, and more again under Wine; a thousand lists
    // still meet every kind of event many times.
    const int lists = 1000;
#else
    const int lists = 20000;
#endif
    for (int iter = 0; iter < lists; ++iter) {
        std::vector<Ev> events(1 + rng() % 7);
        for (Ev& e : events) {
            e.track = 1 + static_cast<int>(rng() % 2);
            e.start = pos(120);
            e.end = rng() % 6 == 0 ? pos(120) : e.start + pos(80); // sometimes reversed
            e.src = pos(100);
            e.file = rng() % 5 == 0 ? "" : names[rng() % names.size()];
        }
        SetEvents(events);
        std::uint32_t end = 0;
        const std::string expected = Oracle(events, 1, sources, &end);
        const th::TrackPlan plan = th::PlanTrack(table, 1);
        ASSERT_EQ(plan.end, end) << iter;
        ASSERT_EQ(PlanBytes(plan, sources), expected) << iter;
        ASSERT_TRUE(renderer.RenderTrack(1)) << iter;
        if (end == 0) {
            EXPECT_FALSE(fs::exists(TrackFile(1))) << iter;
            continue;
        }
        ASSERT_EQ(renderer.TrackEnd, end) << iter;
        ASSERT_EQ(Audio(1), expected) << iter;
        ASSERT_EQ(ui.pos, end) << iter;
        fs::remove(TrackFile(1));
    }
}

// The plan alone on many more random tables than are rendered above: more events per track,
// names listed twice, and stretches of sources read past their end.
TEST_F(RenderFixture, PlanMatchesTheRuleOnRandomTables) {
    std::mt19937 rng(424242);
    const std::vector<std::string> names = {"p1.wav", "p2.wav", "p3.wav", "p4.wav"};
    for (std::size_t i = 0; i < names.size(); ++i)
        sources[names[i]] = Pattern(100 + 90 * i, static_cast<std::uint32_t>(i + 40));
    auto pos = [&](std::uint32_t limit) { return 2 * (rng() % (limit / 2 + 1)); };
    for (int iter = 0; iter < 50000; ++iter) {
        std::vector<Ev> events(1 + rng() % 12);
        for (Ev& e : events) {
            e.track = 1 + static_cast<int>(rng() % 3);
            e.start = pos(400);
            e.end = rng() % 8 == 0 ? pos(400) : e.start + pos(200);
            e.src = pos(300);
            e.file = rng() % 4 == 0 ? "" : names[rng() % names.size()];
        }
        SetEvents(events);
        for (int track = 1; track <= 2; ++track) {
            std::uint32_t end = 0;
            const std::string expected = Oracle(events, track, sources, &end);
            const th::TrackPlan plan = th::PlanTrack(table, track);
            ASSERT_EQ(plan.end, end) << iter;
            ASSERT_EQ(PlanBytes(plan, sources), expected) << iter;
            if (end == 0)
                continue;
            // Each source named once, in the order the list first names it on this track.
            std::vector<std::string> listed;
            for (const Ev& e : events)
                if (e.track == track && !e.file.empty() &&
                    std::find(listed.begin(), listed.end(), e.file) == listed.end())
                    listed.push_back(e.file);
            ASSERT_EQ(plan.sources, listed) << iter;
        }
    }
}

} // namespace
