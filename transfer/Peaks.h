#pragma once
// A track's waveform as pairs of the lowest and highest sample in each of N equal buckets.
#include "transfer/TrackAudio.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace th {

struct Peak {
    std::int16_t min = 0;
    std::int16_t max = 0;
    bool operator==(const Peak&) const = default;
};

// `buckets` peaks of samples [from, to) of the track: bucket i covers samples
// [from + i·len/N, from + (i+1)·len/N) with len = to - from (integer division), so that
// buckets differ in size by one sample at most; a bucket without samples is [0, 0]. Samples
// past the track's end count as zero. Only the heard stretches are read, in large requests.
// With `stop`, the work ends early once it is set (between two reads); what is returned then
// is incomplete.
std::vector<Peak> TrackPeaks(TrackAudio& audio, SampleCount from, SampleCount to,
                             std::size_t buckets, const std::atomic<bool>* stop = nullptr);

// The whole track.
inline std::vector<Peak> TrackPeaks(TrackAudio& audio, std::size_t buckets) {
    return TrackPeaks(audio, 0, audio.Layout().Samples(), buckets);
}

// The whole of each track of `layouts`, `buckets` peaks each, the tracks shared among a few
// threads (each reads its own track from start to end).
std::vector<std::vector<Peak>> SongPeaks(const std::vector<TrackLayout>& layouts,
                                         std::size_t buckets);

} // namespace th
