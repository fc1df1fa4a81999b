#include "transfer/Mix.h"

#include <algorithm>

namespace th {

SongMix::SongMix(const std::vector<TrackLayout>& layouts, std::array<bool, 8> solo)
    : sum_(kBlock), block_(kBlock) {
    const bool anySolo = std::find(solo.begin(), solo.end(), true) != solo.end();
    for (const TrackLayout& t : layouts) {
        if (t.end == 0 || t.track < 1 || t.track > 8)
            continue;
        if (anySolo && !solo[static_cast<std::size_t>(t.track - 1)])
            continue;
        tracks_.push_back(std::make_unique<TrackAudio>(t));
        samples_ = std::max(samples_, t.Samples());
    }
}

SongMix::~SongMix() = default;

void SongMix::Seek(SampleCount sample) {
    pos_ = std::min(sample, samples_);
    for (auto& t : tracks_)
        t->Seek(pos_);
}

std::size_t SongMix::Read(std::int16_t* out, std::size_t count) {
    std::size_t done = 0;
    const int playing = Playing();
    while (done < count && pos_ < samples_) {
        const std::size_t n = std::min<std::size_t>({count - done, kBlock, samples_ - pos_});
        std::fill_n(sum_.begin(), n, 0);
        for (auto& t : tracks_) {
            // A shorter track reads fewer samples: its part of the rest stays zero.
            const std::size_t got = t->Read(block_.data(), n);
            for (std::size_t i = 0; i < got; ++i)
                sum_[i] += block_[i];
        }
        for (std::size_t i = 0; i < n; ++i)
            out[done + i] = MixSample(sum_[i], playing);
        done += n;
        pos_ += static_cast<SampleCount>(n);
    }
    return done;
}

} // namespace th
