#pragma once
// Conversion of any readable WAV file into the card's format on the way to the card: the
// channels averaged into mono, resampled to the song's rate (libsoxr, high quality, linear
// phase; sample 0 of the file is sample 0 of the take), reduced to 16 bits with TPDF dither
// and clipped at full scale. It streams through buffers of a few hundred kilobytes: no file
// is held whole in memory and nothing is written but the take.
#include "transfer/WaveFile.h"
#include "transfer/WaveFormats.h"

#include <cstdint>
#include <functional>
#include <string>

namespace th {

// What converting the audio of a file takes and gives.
struct ConvertPlan {
    AudioFormat format;
    std::uint32_t songRate = 0;
    std::uint64_t frames = 0;  // whole frames of the data chunk
    std::uint64_t samples = 0; // samples of the take: round(frames x songRate / rate)
    // Dither where the take's values are not all on the 16-bit grid already: anything but
    // integer mono of at most 16 bits at the song's rate.
    bool dither = true;
    std::uint64_t DataBytes() const { return samples * 2; }
};

// The plan for a file of `format` whose "data" chunk holds `dataSize` bytes.
ConvertPlan PlanConversion(const AudioFormat& format, std::uint32_t dataSize,
                           std::uint32_t songRate);

// A seed for the dither taken from the audio itself (its size and sixteen stretches of 4 KiB
// spread over it), so that the same file gives the same take on every run and every system.
// Leaves the reader at its first audio byte.
std::uint64_t DitherSeed(WaveReader& source);

// The dither's random numbers: xoshiro256** seeded through splitmix64, the same sequence on
// every system.
class DitherNoise {
public:
    explicit DitherNoise(std::uint64_t seed);
    // Triangular noise from -1 to +1 (in 16-bit steps): two uniform values of +-1/2 summed.
    double Next();

private:
    std::uint64_t s_[4];
};

// Converts the audio of `source` (at its first audio byte) into `dest` as `plan` says,
// writing exactly plan.samples samples. After each block read from the source
// `afterBlock(bytesRead)` runs; false stops the conversion. False when stopped, when a write
// failed, when the source holds less than planned, or when the resampler failed (`why` then
// tells).
bool ConvertAudio(WaveReader& source, WaveWriter& dest, const ConvertPlan& plan, std::uint64_t seed,
                  const std::function<bool(std::uint32_t)>& afterBlock, std::string* why = nullptr);

} // namespace th
