// Waveform peaks and the playback mix against what the renderer actually writes: random
// lists are imported, and the peaks and the mix must equal those computed from the files.
#include "support/EventTables.h"
#include "support/ImportRig.h"

#include "song/Tc2w.h"
#include "transfer/Mix.h"
#include "transfer/Peaks.h"
#include "transfer/SongMap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

std::vector<std::int16_t> Samples(const std::string& audio) {
    std::vector<std::int16_t> s(audio.size() / 2);
    std::memcpy(s.data(), audio.data(), s.size() * 2);
    return s;
}

// The definition, bucket by bucket, over samples [from, to) of the rendered track.
std::vector<th::Peak> Oracle(const std::vector<std::int16_t>& s, std::uint32_t from,
                             std::uint32_t to, std::size_t n) {
    std::vector<th::Peak> peaks(n);
    const std::uint64_t len = to - from;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t a = from + len * i / n, b = from + len * (i + 1) / n;
        for (std::uint64_t k = a; k < b; ++k) {
            const std::int16_t v = k < s.size() ? s[k] : 0;
            if (k == a)
                peaks[i] = {v, v};
            peaks[i].min = std::min(peaks[i].min, v);
            peaks[i].max = std::max(peaks[i].max, v);
        }
    }
    return peaks;
}

// A card with one song of random lists over a few sources, one of them shorter than some of
// the reads (its missing part reads as zero in the import), and the import rig on it.
class RenderedSongs : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(card / "Song");
        rig.sel.DriveRoot = "E:";
        rig.sel.Songs = {"Song"};
        rig.sel.SongIndex = 0;
        rig.sel.SampleRate = 44100;
        rig.sel.DestFolder = platform::ToDrivePath(out.path().string());
        for (std::size_t i = 0; i < names.size(); ++i)
            WriteFile(card / "Song" / names[i],
                      MakeWav(Pattern(i == 2 ? 60 : 600, static_cast<std::uint32_t>(i + 3))));
    }
    // A random list on tracks 1..3; returns its map.
    th::SongMap RandomSong() {
        std::vector<Ev> events(1 + rng() % 8);
        for (Ev& e : events) {
            e.track = 1 + static_cast<int>(rng() % 3);
            e.start = At(90);
            e.end = rng() % 6 == 0 ? At(90) : e.start + At(60);
            e.src = At(150);
            e.file = rng() % 4 == 0 ? "" : names[rng() % names.size()];
        }
        Fill(rig.table, events);
        return th::BuildSongMap(rig.table, "Song", 44100);
    }
    // The samples the import writes for track n (empty when it writes no file).
    std::vector<std::int16_t> Rendered(int n) {
        const fs::path file = out / ("tr0" + std::to_string(n) + ".wav");
        EXPECT_TRUE(rig.renderer.RenderTrack(n));
        if (!fs::exists(file))
            return {};
        const std::string audio = ReadFile(file).substr(46);
        fs::remove(file);
        return Samples(audio);
    }
    std::uint32_t At(std::uint32_t limit) {
        return static_cast<std::uint32_t>(rng() % (limit + 1));
    }

    TempDir card, out;
    MappedDrive drive{"E:", card.path()};
    ImportRig rig;
    const std::vector<std::string> names = {"s1.wav", "s2.wav", "short.wav"};
    std::mt19937 rng{26};
};

TEST_F(RenderedSongs, PeaksEqualThoseOfTheImportedTrack) {
    for (int iter = 0; iter < 400; ++iter) {
        const th::SongMap map = RandomSong();
        const auto layouts = th::SongLayouts(map, "E:\\Song");
        for (int n = 1; n <= 3; ++n) {
            const std::vector<std::int16_t> s = Rendered(n);
            const th::TrackLayout& layout = layouts[static_cast<std::size_t>(n - 1)];
            ASSERT_EQ(layout.Samples(), s.size()) << iter;
            th::TrackAudio audio(layout);
            const auto len = static_cast<std::uint32_t>(s.size());
            // One bucket, a few hundred, more buckets than samples, and a part of the track
            // that reaches past its end.
            for (std::size_t buckets : {std::size_t{1}, std::size_t{7}, std::size_t{300}})
                ASSERT_EQ(th::TrackPeaks(audio, buckets), Oracle(s, 0, len, buckets))
                    << iter << " track " << n << " buckets " << buckets;
            const std::uint32_t from = At(len), to = from + At(120);
            ASSERT_EQ(th::TrackPeaks(audio, from, to, 13), Oracle(s, from, to, 13))
                << iter << " track " << n << " from " << from << " to " << to;
            ASSERT_TRUE(audio.Missing().empty());
        }
    }
}

TEST_F(RenderedSongs, MixIsTheImportedTracksSummedAndScaled) {
    for (int iter = 0; iter < 300; ++iter) {
        const th::SongMap map = RandomSong();
        const auto layouts = th::SongLayouts(map, "E:\\Song");
        std::vector<std::vector<std::int16_t>> tracks;
        for (int n = 1; n <= 3; ++n)
            tracks.push_back(Rendered(n));
        // All tracks, then track 2 alone, then tracks 1 and 3 soloed together.
        const std::array<bool, 8> solos[] = {{}, {false, true}, {true, false, true}};
        for (const auto& solo : solos) {
            std::vector<const std::vector<std::int16_t>*> playing;
            const bool anySolo = solo[0] || solo[1] || solo[2];
            std::size_t length = 0;
            for (std::size_t t = 0; t < 3; ++t)
                if (!tracks[t].empty() && (!anySolo || solo[t])) {
                    playing.push_back(&tracks[t]);
                    length = std::max(length, tracks[t].size());
                }
            std::vector<std::int16_t> expected(length);
            for (std::size_t k = 0; k < length; ++k) {
                std::int32_t sum = 0;
                for (const auto* p : playing)
                    sum += k < p->size() ? (*p)[k] : 0;
                expected[k] = static_cast<std::int16_t>(sum / static_cast<int>(playing.size()));
            }
            th::SongMix mix(layouts, solo);
            ASSERT_EQ(mix.Samples(), length) << iter;
            ASSERT_EQ(mix.Playing(), static_cast<int>(playing.size())) << iter;
            // From a cursor, in uneven reads.
            const auto from = static_cast<std::uint32_t>(length ? rng() % (length + 1) : 0);
            mix.Seek(from);
            std::vector<std::int16_t> got;
            std::int16_t block[37];
            while (std::size_t n = mix.Read(block, 1 + rng() % 37))
                got.insert(got.end(), block, block + n);
            ASSERT_EQ(got, std::vector<std::int16_t>(expected.begin() + from, expected.end()))
                << iter << " from " << from;
        }
    }
}

// Eight tracks at full scale, the same sign: the mean stays in range where a plain sum would
// wrap.
TEST(Mix, EightLoudTracksDoNotClip) {
    for (std::int32_t v : {32767, -32768}) {
        EXPECT_EQ(th::MixSample(8 * v, 8), v);
        EXPECT_EQ(th::MixSample(3 * v - 1, 3), v == 32767 ? 32766 : -32768);
    }
    EXPECT_EQ(th::MixSample(-7, 2), -3); // towards zero
    EXPECT_EQ(th::MixSample(5, 0), 0);
}

TEST(Peaks, MissingSourceReadsAsZeroAndIsNamed) {
    th::TrackLayout layout;
    layout.track = 1;
    layout.end = 40;
    layout.sources = {"E:\\NoSuchSong\\gone.wav"};
    layout.heard = {{10, 30, 0, 0}};
    th::TrackAudio audio(layout);
    EXPECT_EQ(th::TrackPeaks(audio, 4), std::vector<th::Peak>(4));
    EXPECT_EQ(audio.Missing(), layout.sources);
}

} // namespace
