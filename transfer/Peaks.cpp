#include "transfer/Peaks.h"

#include <algorithm>

namespace th {

std::vector<Peak> TrackPeaks(TrackAudio& audio, SampleCount from, SampleCount to,
                             std::size_t buckets) {
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
    while (at < inTrack) {
        const std::uint64_t want = inTrack - at;
        audio.Visit(
            static_cast<std::size_t>(std::min<std::uint64_t>(want, std::uint64_t{1} << 30)),
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
                    const auto [lo, hi] = std::minmax_element(s, s + part);
                    take(*lo, *hi);
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

} // namespace th
