#include "transfer/WaveFormats.h"

#include "transfer/WaveFile.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace th {

namespace {

constexpr std::uint16_t kTagPcm = 0x0001;
constexpr std::uint16_t kTagFloat = 0x0003;
constexpr std::uint16_t kTagExtensible = 0xFFFE;
// Bytes of a WAVE_FORMAT_EXTENSIBLE record: the 18 of the plain one, 22 more.
constexpr std::size_t kExtensibleBytes = 40;
// The sub-format GUID of PCM and IEEE float after its first two bytes (the format tag).
constexpr unsigned char kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                         0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Largest magnitude of a float sample that enters the conversion.
constexpr double kFloatLimit = 16.0;

std::uint16_t Le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::string Hex16(std::uint16_t v) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "0x";
    for (int shift = 12; shift >= 0; shift -= 4)
        s += digits[(v >> shift) & 0xF];
    return s;
}

bool Fail(std::string* reason, std::string text) {
    if (reason)
        *reason = std::move(text);
    return false;
}

// A sample at `p` as a value with full scale at +-1.0.
template <SampleType T, int Bytes> double Sample(const unsigned char* p) {
    if constexpr (T == SampleType::Unsigned) {
        return (static_cast<int>(p[0]) - 128) * (1.0 / 128);
    } else if constexpr (T == SampleType::Float) {
        double d;
        if constexpr (Bytes == 4) {
            float f;
            std::memcpy(&f, p, 4);
            d = f;
        } else {
            std::memcpy(&d, p, 8);
        }
        // Overs pass (the take clips them at full scale after resampling), but no value may
        // grow without bound in the filter: infinities stand at 16 times full scale and a
        // value that is no number is silence.
        if (!(std::fabs(d) <= kFloatLimit))
            d = std::isnan(d) ? 0.0 : std::copysign(kFloatLimit, d);
        return d;
    } else if constexpr (Bytes == 2) {
        return static_cast<std::int16_t>(Le16(p)) * (1.0 / 32768);
    } else if constexpr (Bytes == 3) {
        // The three bytes as the top of a 32-bit value keep the sign.
        const auto v = static_cast<std::int32_t>((static_cast<std::uint32_t>(p[0]) << 8) |
                                                 (static_cast<std::uint32_t>(p[1]) << 16) |
                                                 (static_cast<std::uint32_t>(p[2]) << 24));
        return v * (1.0 / 2147483648.0);
    } else {
        return static_cast<std::int32_t>(Le32(p)) * (1.0 / 2147483648.0);
    }
}

// An integer sample at `p` as a signed integer (8-bit: 128 is 0).
template <int Bytes> std::int32_t IntSample(const unsigned char* p) {
    if constexpr (Bytes == 1)
        return static_cast<int>(p[0]) - 128;
    else if constexpr (Bytes == 2)
        return static_cast<std::int16_t>(Le16(p));
    else if constexpr (Bytes == 3)
        return static_cast<std::int32_t>((static_cast<std::uint32_t>(p[0]) << 8) |
                                         (static_cast<std::uint32_t>(p[1]) << 16) |
                                         (static_cast<std::uint32_t>(p[2]) << 24)) >>
               8;
    else
        return static_cast<std::int32_t>(Le32(p));
}

template <SampleType T, int Bytes>
void Decode(const unsigned char* in, std::size_t frames, unsigned channels, std::size_t stride,
            float* out) {
    if constexpr (T != SampleType::Float) {
        // Integers are summed exactly and scaled once: full scale and the channels' weight.
        const double scale = 1.0 / (std::ldexp(1.0, 8 * Bytes - 1) * channels);
        if (channels == 1) {
            for (std::size_t i = 0; i < frames; ++i, in += stride)
                out[i] = static_cast<float>(IntSample<Bytes>(in) * scale);
        } else if (channels == 2) {
            for (std::size_t i = 0; i < frames; ++i, in += stride)
                out[i] = static_cast<float>(
                    (std::int64_t{IntSample<Bytes>(in)} + IntSample<Bytes>(in + Bytes)) * scale);
        } else {
            for (std::size_t i = 0; i < frames; ++i, in += stride) {
                std::int64_t sum = 0;
                for (unsigned c = 0; c < channels; ++c)
                    sum += IntSample<Bytes>(in + c * Bytes);
                out[i] = static_cast<float>(static_cast<double>(sum) * scale);
            }
        }
        return;
    }
    if (channels == 1) {
        for (std::size_t i = 0; i < frames; ++i, in += stride)
            out[i] = static_cast<float>(Sample<T, Bytes>(in));
        return;
    }
    const double weight = 1.0 / channels;
    for (std::size_t i = 0; i < frames; ++i, in += stride) {
        double sum = 0;
        for (unsigned c = 0; c < channels; ++c)
            sum += Sample<T, Bytes>(in + c * Bytes);
        out[i] = static_cast<float>(sum * weight);
    }
}

} // namespace

std::optional<AudioFormat> ParseAudioFormat(std::string_view record, std::string* reason) {
    if (record.size() < 16) {
        Fail(reason, "The format (\"fmt \") chunk holds " + std::to_string(record.size()) +
                         " bytes, fewer than 16");
        return std::nullopt;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(record.data());
    std::uint16_t tag = Le16(p);
    AudioFormat f;
    f.channels = Le16(p + 2);
    f.rate = Le32(p + 4);
    f.blockAlign = Le16(p + 12);
    f.bits = Le16(p + 14);

    if (tag == kTagExtensible) {
        const std::uint16_t extra = record.size() >= 18 ? Le16(p + 16) : 0;
        if (record.size() < kExtensibleBytes || extra < kExtensibleBytes - 18) {
            Fail(reason, "The extensible format record is cut short");
            return std::nullopt;
        }
        const std::uint16_t valid = Le16(p + 18);
        if (valid > f.bits) {
            Fail(reason,
                 std::to_string(valid) + " valid bits in samples of " + std::to_string(f.bits));
            return std::nullopt;
        }
        // The sub-format GUID: the format tag in its first two bytes, a fixed tail.
        const unsigned char* guid = p + 24;
        tag = Le16(guid);
        if ((guid[2] | guid[3]) != 0 || std::memcmp(guid + 2, kGuidTail, sizeof kGuidTail) != 0 ||
            (tag != kTagPcm && tag != kTagFloat)) {
            Fail(reason, "The extensible format's sub-format is neither PCM nor IEEE float");
            return std::nullopt;
        }
    }
    if (tag == kTagPcm) {
        if (f.bits != 8 && f.bits != 16 && f.bits != 24 && f.bits != 32) {
            Fail(reason, std::to_string(f.bits) + "-bit PCM can't be read (8, 16, 24, 32)");
            return std::nullopt;
        }
        f.type = f.bits == 8 ? SampleType::Unsigned : SampleType::Signed;
    } else if (tag == kTagFloat) {
        if (f.bits != 32 && f.bits != 64) {
            Fail(reason, std::to_string(f.bits) + "-bit float can't be read (32, 64)");
            return std::nullopt;
        }
        f.type = SampleType::Float;
    } else {
        Fail(reason, "Format " + Hex16(tag) + " is neither PCM nor IEEE float");
        return std::nullopt;
    }
    if (f.channels == 0) {
        Fail(reason, "The file has no channels");
        return std::nullopt;
    }
    if (f.rate < kMinConvertRate || f.rate > kMaxConvertRate) {
        Fail(reason, "The file is at " + std::to_string(f.rate) + " Hz, outside " +
                         std::to_string(kMinConvertRate) + " to " +
                         std::to_string(kMaxConvertRate) + " Hz");
        return std::nullopt;
    }
    if (std::uint32_t{f.blockAlign} != std::uint32_t{f.channels} * (f.bits / 8u)) {
        Fail(reason, "Block align " + std::to_string(f.blockAlign) + " disagrees with " +
                         std::to_string(f.channels) + " channels of " + std::to_string(f.bits) +
                         " bits");
        return std::nullopt;
    }
    return f;
}

std::optional<AudioFormat> ReadAudioFormat(const std::string& path, Failure* why) {
    const std::optional<std::string> record = ReadFormatChunk(path, kExtensibleBytes, why);
    if (!record)
        return std::nullopt;
    std::string reason;
    std::optional<AudioFormat> format = ParseAudioFormat(*record, &reason);
    if (!format && why)
        *why = {path, reason};
    return format;
}

std::string FormatText(const AudioFormat& format) {
    return std::to_string(format.rate) + " Hz, " + std::to_string(format.bits) + "-bit, " +
           std::to_string(format.channels) + " channels";
}

bool IsSongFormat(const AudioFormat& format, std::uint32_t songRate) {
    return format.type == SampleType::Signed && format.bits == 16 && format.channels == 1 &&
           format.rate == songRate;
}

std::uint64_t ConvertedLength(std::uint64_t frames, std::uint32_t from, std::uint32_t to) {
    if (from == to || from == 0)
        return frames;
    // frames < 2^32 and rates < 2^19: the product fits 64 bits.
    return (frames * to * 2 + from) / (std::uint64_t{2} * from);
}

void DecodeMono(const AudioFormat& format, const unsigned char* in, std::size_t frames,
                float* out) {
    const unsigned ch = format.channels;
    const std::size_t stride = format.blockAlign;
    switch (format.type) {
    case SampleType::Unsigned:
        return Decode<SampleType::Unsigned, 1>(in, frames, ch, stride, out);
    case SampleType::Float:
        if (format.bits == 32)
            return Decode<SampleType::Float, 4>(in, frames, ch, stride, out);
        return Decode<SampleType::Float, 8>(in, frames, ch, stride, out);
    case SampleType::Signed:
        if (format.bits == 16)
            return Decode<SampleType::Signed, 2>(in, frames, ch, stride, out);
        if (format.bits == 24)
            return Decode<SampleType::Signed, 3>(in, frames, ch, stride, out);
        return Decode<SampleType::Signed, 4>(in, frames, ch, stride, out);
    }
}

} // namespace th
