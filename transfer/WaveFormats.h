#pragma once
// The sample formats of WAV files a computer holds: what the "fmt " chunk says, checked
// against what the converter can read, and the decoding of frames into mono samples.
//
// Readable: integer PCM of 8 (unsigned), 16, 24 and 32 bits, IEEE float of 32 and 64 bits,
// in a plain "fmt " record or a WAVE_FORMAT_EXTENSIBLE one (whose sub-format decides), any
// number of channels, 8,000 to 384,000 Hz.
#include "transfer/Failure.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace th {

enum class SampleType {
    Unsigned, // 8-bit PCM: 128 is silence
    Signed,   // 16, 24, 32-bit PCM, two's complement
    Float,    // IEEE 754, 32 or 64 bits, full scale at +-1.0
};

struct AudioFormat {
    SampleType type = SampleType::Signed;
    std::uint16_t bits = 0;       // bits of one sample as stored: 8, 16, 24, 32 or 64
    std::uint16_t channels = 0;   // interleaved in each frame
    std::uint32_t rate = 0;       // frames per second
    std::uint16_t blockAlign = 0; // bytes of one frame: channels x bits / 8
};

// Lowest and highest rate the converter takes.
constexpr std::uint32_t kMinConvertRate = 8000;
constexpr std::uint32_t kMaxConvertRate = 384000;

// The format an "fmt " chunk's data gives, or nullopt with the reason in `reason`.
std::optional<AudioFormat> ParseAudioFormat(std::string_view record, std::string* reason);
// The format of a file; on failure `why` names the file and the reason.
std::optional<AudioFormat> ReadAudioFormat(const std::string& path, Failure* why = nullptr);

// "48000 Hz, 24-bit, 2 channels"
std::string FormatText(const AudioFormat& format);
// The card's own format: 16-bit integer mono at the song's rate, which is copied unchanged.
bool IsSongFormat(const AudioFormat& format, std::uint32_t songRate);
// Samples of the take made from `frames` frames at `from` Hz: round(frames x to / from),
// halves rounded up.
std::uint64_t ConvertedLength(std::uint64_t frames, std::uint32_t from, std::uint32_t to);

// Decodes `frames` whole frames from `in` into `out`, one value per frame: the channels'
// average with equal weights, full scale at +-1.0 (a 16-bit sample s gives s / 32768).
void DecodeMono(const AudioFormat& format, const unsigned char* in, std::size_t frames, float* out);

} // namespace th
