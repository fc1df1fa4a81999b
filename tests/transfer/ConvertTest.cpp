// The conversion judged by what is heard: tones fitted by least squares in the take keep
// their level and their time, what is left after them is noise far below the music, tones
// the song can't hold leave no audible alias, dither keeps a quiet tone free of distortion,
// overs clip. And the reading of the formats: what is refused, and why.
#include "transfer/Convert.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

constexpr double kPi = std::numbers::pi;

struct Tone {
    double hz;
    double amplitude; // full scale 1.0
    double phase;     // radians at time 0
};

// Interleaved samples: every channel carries `common`, channel c also `own[c]`.
std::vector<double> Synthesize(std::uint32_t rate, std::size_t frames, unsigned channels,
                               const std::vector<Tone>& common, const std::vector<Tone>& own) {
    std::vector<double> samples(frames * channels);
    for (std::size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        for (unsigned c = 0; c < channels; ++c) {
            double v = 0;
            for (const Tone& tone : common)
                v += tone.amplitude * std::sin(2 * kPi * tone.hz * t + tone.phase);
            if (c < own.size())
                v += own[c].amplitude * std::sin(2 * kPi * own[c].hz * t + own[c].phase);
            samples[n * channels + c] = v;
        }
    }
    return samples;
}

// The tones of `hz` fitted to y[from, to) by least squares (a cos + b sin per tone and an
// offset), solved by Gaussian elimination on the normal equations.
struct Fit {
    std::vector<double> amplitude; // full scale 1.0
    std::vector<double> phase;     // radians at sample 0 of y
    double residualDb = 0;         // RMS of what the tones leave, dBFS
};

Fit FitTones(const std::vector<double>& y, std::size_t from, std::size_t to, double rate,
             const std::vector<double>& hz) {
    const std::size_t k = 2 * hz.size() + 1;
    std::vector<std::vector<double>> a(k, std::vector<double>(k + 1, 0.0));
    std::vector<double> basis(k);
    const auto fill = [&](std::size_t n) {
        for (std::size_t i = 0; i < hz.size(); ++i) {
            const double w = 2 * kPi * hz[i] / rate * static_cast<double>(n);
            basis[2 * i] = std::cos(w);
            basis[2 * i + 1] = std::sin(w);
        }
        basis[k - 1] = 1;
    };
    for (std::size_t n = from; n < to; ++n) {
        fill(n);
        for (std::size_t r = 0; r < k; ++r) {
            for (std::size_t c = 0; c < k; ++c)
                a[r][c] += basis[r] * basis[c];
            a[r][k] += basis[r] * y[n];
        }
    }
    for (std::size_t c = 0; c < k; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < k; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c]))
                pivot = r;
        std::swap(a[c], a[pivot]);
        for (std::size_t r = 0; r < k; ++r) {
            if (r == c)
                continue;
            const double f = a[r][c] / a[c][c];
            for (std::size_t j = c; j <= k; ++j)
                a[r][j] -= f * a[c][j];
        }
    }
    std::vector<double> x(k);
    for (std::size_t i = 0; i < k; ++i)
        x[i] = a[i][k] / a[i][i];

    Fit fit;
    for (std::size_t i = 0; i < hz.size(); ++i) {
        // a cos + b sin = R sin(w n + theta) with R = hypot(a, b), theta = atan2(a, b).
        fit.amplitude.push_back(std::hypot(x[2 * i], x[2 * i + 1]));
        fit.phase.push_back(std::atan2(x[2 * i], x[2 * i + 1]));
    }
    double sum = 0;
    for (std::size_t n = from; n < to; ++n) {
        fill(n);
        double model = 0;
        for (std::size_t j = 0; j < k; ++j)
            model += x[j] * basis[j];
        sum += (y[n] - model) * (y[n] - model);
    }
    fit.residualDb = 10 * std::log10(sum / static_cast<double>(to - from) + 1e-30);
    return fit;
}

double Db(double ratio) {
    return 20 * std::log10(ratio);
}

// Time between two phases of a tone, in samples at `rate`.
double PhaseToSamples(double got, double want, double hz, double rate) {
    double d = std::remainder(got - want, 2 * kPi);
    return d / (2 * kPi * hz) * rate;
}

class Converter {
public:
    TempDir tmp;

    // The take made of `wav` for a song at `songRate`, as values with full scale 1.0.
    std::vector<double> Take(const std::string& wav, std::uint32_t songRate,
                             std::string* bytes = nullptr) {
        const std::string in = (tmp / "in.wav").string();
        const std::string out = (tmp / "out.wav").string();
        WriteFile(in, wav);
        th::Failure why;
        const auto format = th::ReadAudioFormat(in, &why);
        EXPECT_TRUE(format) << why.reason;
        if (!format)
            return {};
        auto reader = th::OpenWaveData(in);
        auto writer = th::CreateWaveFile(out, songRate);
        const th::ConvertPlan plan = th::PlanConversion(*format, reader->DataSize(), songRate);
        std::string reason;
        EXPECT_TRUE(
            th::ConvertAudio(*reader, *writer, plan, th::DitherSeed(*reader), nullptr, &reason))
            << reason;
        EXPECT_TRUE(th::CloseWaveFile(*writer));
        const std::string written = ReadFile(out);
        if (bytes)
            *bytes = written;
        std::vector<double> take;
        for (const std::int16_t s : WaveSamples(written))
            take.push_back(s / 32768.0);
        EXPECT_EQ(take.size(), plan.samples);
        return take;
    }
};

struct FormatCase {
    const char* name;
    std::uint16_t tag;
    std::uint16_t bits;
    std::uint16_t channels;
    std::uint32_t rate;
    std::uint32_t songRate;
    bool extensible;
};

class ConvertFormats : public ::testing::TestWithParam<FormatCase> {};

// A tone common to all channels keeps its level in the mix; a tone in one channel of C comes
// out at 1/C of its level (equal weights). Both keep their time, and what remains is noise.
TEST_P(ConvertFormats, TonesKeepLevelAndTimeAndLeaveOnlyNoise) {
    const FormatCase& c = GetParam();
    const double nyquist = std::min(c.rate, c.songRate) / 2.0;
    const std::vector<Tone> common = {{0.08 * nyquist, 0.3, 0.4}};
    std::vector<Tone> own;
    for (unsigned ch = 0; ch < c.channels; ++ch)
        own.push_back({nyquist * (0.13 + 0.11 * ch), 0.4, 1.0 + ch});
    const std::size_t frames = c.rate / 2 + 17; // half a second and a little
    Converter conv;
    const std::vector<double> take =
        conv.Take(EncodeWav(Synthesize(c.rate, frames, c.channels, common, own), c.tag, c.bits,
                            c.channels, c.rate, c.extensible),
                  c.songRate);
    ASSERT_EQ(take.size(),
              static_cast<std::size_t>(std::llround(frames * double(c.songRate) / c.rate)));

    std::vector<double> hz = {common[0].hz};
    std::vector<Tone> expected = {common[0]};
    for (const Tone& t : own) {
        hz.push_back(t.hz);
        expected.push_back({t.hz, t.amplitude / c.channels, t.phase});
    }
    // The resampler's filter rings at the abrupt start and end: they stay out of the fit.
    const std::size_t edge = take.size() / 8;
    const Fit fit = FitTones(take, edge, take.size() - edge, c.songRate, hz);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("tone " + std::to_string(expected[i].hz) + " Hz");
        EXPECT_NEAR(Db(fit.amplitude[i] / expected[i].amplitude), 0.0, 0.3);
        EXPECT_LE(
            std::fabs(PhaseToSamples(fit.phase[i], expected[i].phase, expected[i].hz, c.songRate)),
            1.0);
    }
    // Eight bits hold no more than their own noise.
    EXPECT_LE(fit.residualDb, c.bits == 8 ? -45.0 : -85.0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConvertFormats,
    ::testing::Values(FormatCase{"Pcm16Mono48k", 1, 16, 1, 48000, 44100, false},
                      FormatCase{"Pcm16Stereo44k", 1, 16, 2, 44100, 44100, false},
                      FormatCase{"Pcm24Mono44k", 1, 24, 1, 44100, 44100, false},
                      FormatCase{"Pcm24Stereo48k", 1, 24, 2, 48000, 44100, false},
                      FormatCase{"Pcm24Six96kExtensible", 1, 24, 6, 96000, 44100, true},
                      FormatCase{"Pcm32Stereo44kTo22k", 1, 32, 2, 44100, 22050, false},
                      FormatCase{"Pcm24Stereo44kTo48k", 1, 24, 2, 44100, 48000, false},
                      FormatCase{"Pcm8Mono22kUp", 1, 8, 1, 22050, 44100, false},
                      FormatCase{"Float32Stereo48k", 3, 32, 2, 48000, 44100, false},
                      FormatCase{"Float32Stereo384kExtensible", 3, 32, 2, 384000, 22050, true},
                      FormatCase{"Float64Mono8k", 3, 64, 1, 8000, 44100, false},
                      FormatCase{"Float64Three88k", 3, 64, 3, 88200, 44100, false}),
    [](const auto& info) { return std::string(info.param.name); });

struct AliasCase {
    std::uint32_t rate;
    std::uint32_t songRate;
    double highHz; // above the song's Nyquist frequency
};

class ConvertAlias : public ::testing::TestWithParam<AliasCase> {};

TEST_P(ConvertAlias, ToneAboveSongNyquistLeavesAliasFarBelowPassband) {
    const AliasCase& c = GetParam();
    const Tone pass = {1000, 0.4, 0};
    const Tone high = {c.highHz, 0.4, 0};
    Converter conv;
    const std::vector<double> take =
        conv.Take(EncodeWav(Synthesize(c.rate, c.rate / 2, 1, {pass, high}, {}), 3, 32, 1, c.rate),
                  c.songRate);
    const double alias = c.songRate - c.highHz;
    const std::size_t edge = take.size() / 8;
    const Fit fit = FitTones(take, edge, take.size() - edge, c.songRate, {pass.hz, alias});
    EXPECT_NEAR(Db(fit.amplitude[0] / pass.amplitude), 0.0, 0.3);
    EXPECT_LE(Db(fit.amplitude[1] / fit.amplitude[0]), -70.0);
}

INSTANTIATE_TEST_SUITE_P(Table, ConvertAlias,
                         ::testing::Values(AliasCase{48000, 22050, 15000},
                                           AliasCase{96000, 44100, 30000},
                                           AliasCase{48000, 44100, 23000}));

// A tone a little over one 16-bit step, from 24 bits: rounded without dither it would become a
// square wave with a strong third harmonic; with TPDF dither only noise remains.
TEST(Convert, DitherKeepsQuietToneFreeOfHarmonics) {
    for (const std::uint32_t rate : {44100u, 48000u}) {
        SCOPED_TRACE(rate);
        const Tone quiet = {1000, 1.3 / 32768, 0.2};
        Converter conv;
        const std::vector<double> take =
            conv.Take(EncodeWav(Synthesize(rate, 2 * rate, 1, {quiet}, {}), 1, 24, 1, rate), 44100);
        const std::size_t edge = take.size() / 8;
        const Fit fit = FitTones(take, edge, take.size() - edge, 44100, {1000, 3000});
        EXPECT_NEAR(Db(fit.amplitude[0] / quiet.amplitude), 0.0, 1.0);
        EXPECT_LE(Db(fit.amplitude[1] / fit.amplitude[0]), -30.0);
    }
}

// Float overs stop at full scale; none wraps round to the other sign.
TEST(Convert, OversClipAtFullScale) {
    for (const std::uint32_t rate : {44100u, 48000u}) {
        SCOPED_TRACE(rate);
        const Tone loud = {100, 2.0, 0};
        Converter conv;
        const std::vector<double> take =
            conv.Take(EncodeWav(Synthesize(rate, rate / 4, 1, {loud}, {}), 3, 32, 1, rate), 44100);
        ASSERT_FALSE(take.empty());
        EXPECT_EQ(*std::max_element(take.begin(), take.end()), 32767 / 32768.0);
        EXPECT_EQ(*std::min_element(take.begin(), take.end()), -1.0);
        for (std::size_t n = 0; n < take.size(); ++n) {
            const double wanted = 2.0 * std::sin(2 * kPi * 100 * double(n) / 44100);
            if (std::fabs(wanted) > 1.2) {
                ASSERT_GT(take[n] * wanted, 0.99) << "sample " << n;
            }
        }
    }
}

// Sample 0 of the file is sample 0 of the take: a click keeps its place.
TEST(Convert, ClickKeepsItsTime) {
    struct Case {
        std::uint32_t rate, songRate;
        std::size_t at;
    };
    for (const Case c : {Case{48000, 44100, 4800}, Case{96000, 22050, 9600},
                         Case{22050, 44100, 1000}, Case{44100, 44100, 333}}) {
        SCOPED_TRACE(c.rate);
        std::vector<double> samples(c.rate / 4, 0.0);
        samples[c.at] = 0.9;
        Converter conv;
        const std::vector<double> take =
            conv.Take(EncodeWav(samples, 1, 24, 1, c.rate), c.songRate);
        const auto peak = std::max_element(take.begin(), take.end()) - take.begin();
        const double want = double(c.at) * c.songRate / c.rate;
        EXPECT_LE(std::fabs(double(peak) - want), 1.0);
    }
}

// Samples already on the 16-bit grid stay exactly as they are: no dither is added.
TEST(Convert, EightBitMonoAtSongRateWidensExactly) {
    std::string audio;
    for (int i = 0; i < 2000; ++i)
        audio += static_cast<char>((i * 37) & 0xFF);
    Converter conv;
    const std::vector<double> take = conv.Take(MakeWav(audio, 22050, 1, 8), 22050);
    ASSERT_EQ(take.size(), audio.size());
    for (std::size_t i = 0; i < audio.size(); ++i)
        ASSERT_EQ(take[i] * 128, static_cast<unsigned char>(audio[i]) - 128) << i;
}

// The dither comes from the file's contents: the same file gives the same bytes, another file
// another noise.
TEST(Convert, SameFileGivesSameBytes) {
    const std::vector<double> tone = Synthesize(48000, 24000, 2, {{440, 0.5, 0}}, {});
    std::vector<double> other = tone;
    other[12345] += 0.01;
    Converter conv;
    std::string first, second, third;
    conv.Take(EncodeWav(tone, 1, 24, 2, 48000), 44100, &first);
    conv.Take(EncodeWav(tone, 1, 24, 2, 48000), 44100, &second);
    conv.Take(EncodeWav(other, 1, 24, 2, 48000), 44100, &third);
    EXPECT_EQ(first, second);
    EXPECT_NE(first.substr(46, 2000), third.substr(46, 2000));
}

TEST(Convert, LengthIsRoundedFramesAtTheSongRate) {
    struct Case {
        std::uint64_t frames;
        std::uint32_t from, to;
        std::uint64_t samples;
    };
    for (const Case c :
         {Case{48000, 48000, 44100, 44100}, Case{1, 48000, 44100, 1}, Case{160, 48000, 44100, 147},
          Case{80, 48000, 22050, 37}, Case{0, 48000, 44100, 0}, Case{1, 384000, 22050, 0},
          Case{7, 8000, 44100, 39}, Case{0xFFFFFFFFu, 8000, 8000, 0xFFFFFFFFu}})
        EXPECT_EQ(th::ConvertedLength(c.frames, c.from, c.to), c.samples)
            << c.frames << " at " << c.from;
}

struct HeaderCase {
    const char* name;
    std::string record; // the data of the "fmt " chunk
    const char* reason;
};

std::string Record(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                   std::uint16_t align, std::uint16_t bits) {
    return U16(tag) + U16(channels) + U32(rate) + U32(rate * align) + U16(align) + U16(bits);
}

std::string Extensible(std::uint16_t bits, std::uint16_t valid, const std::string& guid) {
    return Record(0xFFFE, 2, 48000, 2 * bits / 8, bits) + U16(22) + U16(valid) + U32(3) + guid;
}

// The sub-format GUID of format `tag`; `last` replaces its last byte when not 0.
std::string Guid(std::uint16_t tag, char last = 0) {
    std::string guid =
        U16(tag) + std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    if (last)
        guid.back() = last;
    return guid;
}

class FormatRecords : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(FormatRecords, AreRefusedWithTheirReason) {
    std::string reason;
    EXPECT_FALSE(th::ParseAudioFormat(GetParam().record, &reason));
    EXPECT_EQ(reason, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, FormatRecords,
    ::testing::Values(
        HeaderCase{"ZeroChannels", Record(1, 0, 44100, 0, 16), "The file has no channels"},
        HeaderCase{"BlockAlignDisagrees", Record(1, 2, 44100, 2, 16),
                   "Block align 2 disagrees with 2 channels of 16 bits"},
        HeaderCase{"ZeroHz", Record(1, 1, 0, 2, 16),
                   "The file is at 0 Hz, outside 8000 to 384000 Hz"},
        HeaderCase{"TooFast", Record(3, 1, 768000, 4, 32),
                   "The file is at 768000 Hz, outside 8000 to 384000 Hz"},
        HeaderCase{"TwelveBits", Record(1, 1, 44100, 2, 12),
                   "12-bit PCM can't be read (8, 16, 24, 32)"},
        HeaderCase{"SixteenBitFloat", Record(3, 1, 44100, 2, 16),
                   "16-bit float can't be read (32, 64)"},
        HeaderCase{"Adpcm", Record(2, 1, 44100, 2, 16),
                   "Format 0x0002 is neither PCM nor IEEE float"},
        HeaderCase{"ShortRecord", Record(1, 1, 44100, 2, 16).substr(0, 14),
                   "The format (\"fmt \") chunk holds 14 bytes, fewer than 16"},
        HeaderCase{"ExtensibleUnknownSubFormat", Extensible(24, 24, Guid(2)),
                   "The extensible format's sub-format is neither PCM nor IEEE float"},
        HeaderCase{"ExtensibleForeignGuid", Extensible(24, 24, Guid(1, '\x72')),
                   "The extensible format's sub-format is neither PCM nor IEEE float"},
        HeaderCase{"ExtensibleCutShort", Extensible(24, 24, Guid(1)).substr(0, 30),
                   "The extensible format record is cut short"},
        HeaderCase{"ExtensibleValidBitsTooMany", Extensible(16, 24, Guid(1)),
                   "24 valid bits in samples of 16"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormatRecords, ReadTheFormatsADawWrites) {
    struct Case {
        std::string record;
        th::SampleType type;
        std::uint16_t bits, channels;
        std::uint32_t rate;
    };
    const Case cases[] = {
        {Record(1, 1, 22050, 1, 8), th::SampleType::Unsigned, 8, 1, 22050},
        {Record(1, 2, 44100, 6, 24), th::SampleType::Signed, 24, 2, 44100},
        {Record(3, 2, 96000, 8, 32) + U16(0), th::SampleType::Float, 32, 2, 96000},
        {Record(3, 1, 8000, 8, 64), th::SampleType::Float, 64, 1, 8000},
        // A 20-bit recording in 24-bit containers: the container decides.
        {Extensible(24, 20, Guid(1)), th::SampleType::Signed, 24, 2, 48000},
        {Extensible(32, 32, Guid(3)), th::SampleType::Float, 32, 2, 48000},
    };
    for (const Case& c : cases) {
        std::string reason;
        const auto f = th::ParseAudioFormat(c.record, &reason);
        ASSERT_TRUE(f) << reason;
        EXPECT_EQ(f->type, c.type);
        EXPECT_EQ(f->bits, c.bits);
        EXPECT_EQ(f->channels, c.channels);
        EXPECT_EQ(f->rate, c.rate);
    }
}

} // namespace
