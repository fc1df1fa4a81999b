#include "transfer/Peaks.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace th {

namespace {

// The lowest and highest of n > 0 samples. Sixteen lanes side by side, a fixed count the
// compiler turns into vector instructions, then the lanes folded.
Peak Span(const std::int16_t* s, std::size_t n) {
    constexpr std::size_t kLanes = 16;
    std::int16_t lo[kLanes], hi[kLanes];
    for (std::size_t k = 0; k < kLanes; ++k)
        lo[k] = hi[k] = s[0];
    std::size_t i = 0;
    for (; i + kLanes <= n; i += kLanes)
        for (std::size_t k = 0; k < kLanes; ++k) {
            lo[k] = std::min(lo[k], s[i + k]);
            hi[k] = std::max(hi[k], s[i + k]);
        }
    for (; i < n; ++i) {
        lo[0] = std::min(lo[0], s[i]);
        hi[0] = std::max(hi[0], s[i]);
    }
    Peak p{lo[0], hi[0]};
    for (std::size_t k = 1; k < kLanes; ++k) {
        p.min = std::min(p.min, lo[k]);
        p.max = std::max(p.max, hi[k]);
    }
    return p;
}

} // namespace

std::vector<Peak> TrackPeaks(TrackAudio& audio, SampleCount from, SampleCount to,
                             std::size_t buckets, const std::atomic<bool>* stop) {
    std::vector<Peak> peaks(buckets);
    if (buckets == 0 || to <= from)
        return peaks;
    const std::uint64_t len = to - from;
    // First sample of bucket i, relative to `from`.
    auto first = [&](std::size_t i) { return static_cast<std::uint64_t>(len * i / buckets); };
    std::size_t b = 0;
    while (b < buckets && first(b + 1) == 0)
        ++b;              // empty buckets at the start
    std::uint64_t at = 0; // samples of [from, to) seen so far
    std::uint64_t bucketEnd = first(b + 1);
    bool started = false; // bucket b has a sample
    auto next = [&] {
        ++b;
        // Buckets without samples keep [0, 0].
        while (b < buckets && first(b + 1) <= at)
            ++b;
        bucketEnd = b < buckets ? first(b + 1) : len;
        started = false;
    };
    auto take = [&](std::int16_t lo, std::int16_t hi) {
        Peak& p = peaks[b];
        if (!started) {
            p = {lo, hi};
            started = true;
        } else {
            p.min = std::min(p.min, lo);
            p.max = std::max(p.max, hi);
        }
    };

    audio.Seek(from);
    const std::uint64_t inTrack = std::min<std::uint64_t>(
        len, audio.Layout().Samples() > from ? audio.Layout().Samples() - from : 0);
    while (at < inTrack && !(stop && stop->load(std::memory_order_relaxed))) {
        const std::uint64_t want = inTrack - at;
        audio.Visit(
            // A request's worth at a time, so that `stop` is seen between reads.
            static_cast<std::size_t>(std::min<std::uint64_t>(want, TrackAudio::kRequestBytes / 2)),
            [&](std::size_t n) {
                while (n > 0) {
                    const auto part =
                        static_cast<std::size_t>(std::min<std::uint64_t>(n, bucketEnd - at));
                    take(0, 0);
                    at += part;
                    n -= part;
                    if (at == bucketEnd)
                        next();
                }
            },
            [&](const std::int16_t* s, std::size_t n) {
                while (n > 0) {
                    const auto part =
                        static_cast<std::size_t>(std::min<std::uint64_t>(n, bucketEnd - at));
                    const Peak p = Span(s, part);
                    take(p.min, p.max);
                    s += part;
                    at += part;
                    n -= part;
                    if (at == bucketEnd)
                        next();
                }
            });
    }
    // Past the track's end: zeros, without reading.
    while (at < len && b < buckets) {
        take(0, 0);
        at = bucketEnd;
        next();
    }
    return peaks;
}

std::vector<std::vector<Peak>> SongPeaks(const std::vector<TrackLayout>& layouts,
                                         std::size_t buckets) {
    std::vector<std::vector<Peak>> peaks(layouts.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t t; (t = next++) < layouts.size();) {
            TrackAudio audio(layouts[t]);
            peaks[t] = TrackPeaks(audio, buckets);
        }
    };
    // Tracks with audio are few: more threads than cores or tracks would only wait.
    std::size_t busy = 0;
    for (const TrackLayout& l : layouts)
        busy += l.end > 0;
    const std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1,
                                                        std::max<std::size_t>(busy, 1));
    std::vector<std::thread> helpers;
    for (std::size_t i = 1; i < threads; ++i)
        helpers.emplace_back(work);
    work();
    for (std::thread& h : helpers)
        h.join();
    return peaks;
}

} // namespace th
