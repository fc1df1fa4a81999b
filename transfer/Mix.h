#pragma once
// The song's eight tracks mixed into one, as blocks of 16-bit mono samples: every track that
// plays gets the same gain and the sum is divided by how many play, so the mix never clips.
#include "transfer/TrackAudio.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace th {

class SongMix {
public:
    // Mixes the tracks of `layouts` that have audio; with any of `solo` set, only those.
    SongMix(const std::vector<TrackLayout>& layouts, std::array<bool, 8> solo = {});
    ~SongMix();

    // The longest playing track's length: the mix ends there.
    SampleCount Samples() const { return samples_; }
    // How many tracks are summed (the divisor), 0 when none plays.
    int Playing() const { return static_cast<int>(tracks_.size()); }
    void Seek(SampleCount sample);
    SampleCount Position() const { return pos_; }
    // Fills up to `count` mixed samples from the position on; returns how many (fewer only at
    // the end).
    std::size_t Read(std::int16_t* out, std::size_t count);

    // Samples mixed per step; the block memory is this much per track, whatever the length.
    static constexpr std::size_t kBlock = 16384;

private:
    std::vector<std::unique_ptr<TrackAudio>> tracks_;
    std::vector<std::int32_t> sum_;
    std::vector<std::int16_t> block_;
    SampleCount samples_ = 0;
    SampleCount pos_ = 0;
};

// One mixed sample of `playing` tracks' samples that add up to `sum`.
constexpr std::int16_t MixSample(std::int32_t sum, int playing) {
    // Truncated towards zero: the mean of values in range is in range.
    return static_cast<std::int16_t>(playing > 0 ? sum / playing : 0);
}

} // namespace th
