#include "song/Tc2w.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace th {
namespace {

struct Written {
    SampleCount samples;
    int rate;
    int code;
    bool drop;
    const char* text;
    SampleCount readBack;
};

TEST(Tc2w, WorkedExamplesWriteAndReadBack) {
    const Written cases[] = {
        {44100, 44100, 30, false, "00|00|01.00|0000", 44100},
        {48000, 44100, 30, false, "00|00|01.02|0960", 48000},
        {100000, 44100, 25, false, "00.00.02.06|1216", 100000},
        {2644530, 44100, 30, true, "00|00|59,29|0000", 2644530},
        {2646000, 44100, 30, true, "00|01|00,02|0000", 2646000},
        {26433540, 44100, 30, true, "00|10|00,00|0000", 26433540},
        {158760000, 44100, 24, false, "01=00=00.00|0000", 158760000},
        {918, 22050, 24, false, "00=00=00.00L0918", 918},
        {919, 22050, 24, false, "00=00=00.01L0000", 919},
        {3675, 22050, 24, false, "00=00=00.04L0000", 3676},
        {79380000, 22050, 24, false, "01=00=00.00L0000", 79401600},
        {1234567, 22050, 25, false, "00.00.55.24L0649", 1234567},
        {44144, 44100, 29, false, "00:00:01.00|0000", 44144},
        {1000, 44100, 29, false, "00:00:00.00|1001", 1001},
        {0, 44100, 24, false, "00=00=00.00|0000", 0},
        {4294967295u, 44100, 30, false, "27|03|11.16|0675", 4294967295u},
        {48000, 48000, 30, false, "00|00|01.00/0000", 48000},
        {48000, 48000, 24, false, "00=00=01.00/0000", 48000},
        {49920, 48000, 25, false, "00.00.01.01/0000", 49920},
        {0, 48000, 29, true, "00:00:00,00/0000", 0},
        {0, 22050, 30, true, "00|00|00,00L0000", 0},
    };
    TTC2W tc;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(tc.SamplesToTc(c.samples, c.rate, c.code, c.drop), c.text);
        EXPECT_EQ(tc.TcToSamples(c.text), c.readBack);
    }
}

TEST(Tc2w, ReadsTexts) {
    const struct {
        const char* text;
        SampleCount samples;
    } cases[] = {
        {"00=00=00.01|0000", 1838}, // half a sample rounds up
        {"00=00=00.03|0000", 5513},
        {"00=00=01.00L0000", 22056}, // 919 samples per frame when reading
        {"00:00:01.00|0000", 44144},
        {"00.00.00.40|0000", 70560}, // fields aren't range-checked
        {"00.00.01.15|0000", 70560},
        {"00|01|00,00|0000", 2643060}, // a dropped frame number
        {"00|00|59,28|0000", 2643060},
        {"00|01|00;02|0000", 2646000}, // ";" is drop-frame too
        {"00.00.00.00|9999", 9999},    // more samples than a frame holds
        {"00.00.00.01|12345", 1764 + 12345},
        {"00.00.00.00|70000", 70000 - 65536}, // the sample field keeps 16 bits
        {"00|00|01.00/0000", 48000},
        {"00|00|01.00,0000", 48000},
        {"00|00|01.00 0000", 44100}, // unknown letters read as 44100 Hz
        {"00|00|01.00X0000", 44100},
        {"00=00=01,00|0000", 44100}, // drop-frame means nothing at 24 or 25
        {"00.00.01,00|0000", 44100},
        {"30|00|00.00|0000", 30u * 158760000u}, // hours aren't limited to 24; the sum wraps
        {" 1= 0= 0. 0|   0", 158760000},
        {"00#00#01.00|0000", 44100}, // an unknown rate character gives 24 fps
        {"00000000000000000", 0},
        {"", 0},
        {"01", 158760000},
        {"01|0", 158760000},
        {"00|00|01.00|", 44100},
        {"garbage", 0},
    };
    TTC2W tc;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(tc.TcToSamples(c.text), c.samples);
    }
}

TEST(Tc2w, WritesNothingForUnknownRateOrCode) {
    TTC2W tc;
    for (int rate : {0, 32000, 44099, 96000})
        EXPECT_EQ(tc.SamplesToTc(1000, rate, 25, false), "") << rate;
    for (int code : {0, 23, 26, 31, 60})
        EXPECT_EQ(tc.SamplesToTc(1000, 44100, code, true), "") << code;
}

TEST(Tc2w, NominalScaling) {
    const std::uint32_t toReal[][2] = {{0, 0}, {999, 999}, {1000, 1001}, {2500, 2502}};
    for (const auto& c : toReal)
        EXPECT_EQ(TTC2W::NominalToReal(c[0]), c[1]);
    const std::uint32_t toNominal[][2] = {{1000, 1000}, {1001, 1000}, {2002, 2000}, {2003, 2001}};
    for (const auto& c : toNominal)
        EXPECT_EQ(TTC2W::RealToNominal(c[0]), c[1]);
}

TEST(Tc2w, DropFlagIgnoredAt24And25) {
    TTC2W tc;
    for (int rate : {22050, 44100, 48000})
        for (int code : {24, 25})
            for (SampleCount s : {0u, 1234567u, 3000000000u})
                EXPECT_EQ(tc.SamplesToTc(s, rate, code, true),
                          tc.SamplesToTc(s, rate, code, false));
}

TEST(Tc2w, DropFrameMinutesStartAtFrameTwoExceptEveryTenth) {
    TTC2W tc;
    for (std::uint32_t minute = 1; minute < 60; ++minute) {
        // Frames before this minute: 1800 each, less two for every one not a multiple of 10.
        const std::uint32_t dropping = minute - ((minute - 1) / 10 + 1);
        const std::uint32_t frame = 1800 * minute - 2 * dropping;
        char expected[17], before[17];
        std::snprintf(expected, sizeof expected, "00|%02u|00,%02u|0000", minute,
                      minute % 10 == 0 ? 0u : 2u);
        std::snprintf(before, sizeof before, "00|%02u|59,29|0000", minute - 1);
        SCOPED_TRACE(expected);
        EXPECT_EQ(tc.SamplesToTc(frame * 1470, 44100, 30, true), expected);
        EXPECT_EQ(tc.SamplesToTc((frame - 1) * 1470, 44100, 30, true), before);
        EXPECT_EQ(tc.TcToSamples(expected), frame * 1470);
    }
}

TEST(Tc2w, HoursAreReturnedUnreduced) {
    std::uint32_t hours = 0;
    const TcFields f = TTC2W::SamplesToFields(4294967295u, 4, 0, &hours);
    EXPECT_EQ(hours, 27u);
    EXPECT_EQ(f.minutes, 3);
    EXPECT_EQ(f.seconds, 11);
    EXPECT_EQ(f.frames, 16);
    EXPECT_EQ(f.subSamples, 675);
}

TEST(Tc2w, ParsesLayout) {
    const ParsedTc p = TTC2W::ParseTc("12:34:56;17/0042");
    EXPECT_EQ(p.tcFormat, 3);
    EXPECT_EQ(p.freqIndex, 2);
    EXPECT_EQ(p.fields.hours, 12);
    EXPECT_EQ(p.fields.minutes, 34);
    EXPECT_EQ(p.fields.seconds, 56);
    EXPECT_EQ(p.fields.frames, 17);
    EXPECT_EQ(p.fields.subSamples, 42);
    // Numbers too large for a field wrap to 8 bits.
    EXPECT_EQ(TTC2W::ParseTc("300=00=00.00|0000").fields.hours, static_cast<std::int8_t>(300));
}

// Random counts, plus both ends of the range.
std::vector<SampleCount> SomeCounts() {
    std::vector<SampleCount> counts = {0,    1,    2,    917,  918,         919,        1000,
                                       1001, 1837, 1838, 3675, 4294967294u, 4294967295u};
    std::mt19937 gen(20240611);
    std::uniform_int_distribution<SampleCount> any;
    std::uniform_int_distribution<SampleCount> small(0, 200000000);
    for (int i = 0; i < 3000; ++i)
        counts.push_back(i % 2 ? any(gen) : small(gen));
    return counts;
}

struct RateCode {
    int rate;
    int code;
    bool drop;
};

class Tc2wRoundTrip : public ::testing::TestWithParam<RateCode> {};

TEST_P(Tc2wRoundTrip, WriteThenReadGivesTheSameCount) {
    const RateCode rc = GetParam();
    TTC2W tc;
    for (SampleCount s : SomeCounts()) {
        const std::string text = tc.SamplesToTc(s, rc.rate, rc.code, rc.drop);
        ASSERT_EQ(text.size(), 16u) << s;
        ASSERT_EQ(tc.TcToSamples(text), s) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, Tc2wRoundTrip,
                         ::testing::Values(RateCode{44100, 24, false}, RateCode{44100, 25, false},
                                           RateCode{44100, 30, false}, RateCode{44100, 30, true},
                                           RateCode{22050, 25, false}, RateCode{22050, 30, false},
                                           RateCode{22050, 30, true}, RateCode{48000, 24, false},
                                           RateCode{48000, 25, false}, RateCode{48000, 30, false},
                                           RateCode{48000, 30, true}));

TEST(Tc2w, Code29ReturnsOneMoreJustBelowMultiplesOf1001) {
    TTC2W tc;
    for (int rate : {22050, 44100, 48000})
        for (bool drop : {false, true})
            for (SampleCount s : SomeCounts()) {
                const std::string text = tc.SamplesToTc(s, rate, 29, drop);
                const SampleCount expected = s % 1001 == 1000 ? s + 1 : s;
                ASSERT_EQ(tc.TcToSamples(text), expected) << text;
            }
}

TEST(Tc2w, At22050And24FpsReadingGainsOneSamplePerFourFrames) {
    TTC2W tc;
    for (SampleCount s : SomeCounts()) {
        if (s > 3000000000u)
            continue; // keep the check away from the wrap
        const SampleCount back = tc.TcToSamples(tc.SamplesToTc(s, 22050, 24, false));
        ASSERT_GE(back, s);
        ASSERT_LE(back - s, s / 3675 + 1) << s;
    }
}

// The fields as the texts' rules read them, one character at a time: blanks skipped before a
// number, digits up to the first non-digit, past the end nothing.
TcFields ReferenceFields(const std::string& text) {
    const auto number = [&text](std::size_t pos) {
        while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r')))
            ++pos;
        std::uint32_t value = 0;
        for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
            value = value * 10u + static_cast<std::uint32_t>(text[pos] - '0');
        return value;
    };
    TcFields f;
    f.hours = static_cast<std::int8_t>(number(0));
    f.minutes = static_cast<std::int8_t>(number(3));
    f.seconds = static_cast<std::int8_t>(number(6));
    f.frames = static_cast<std::int8_t>(number(9));
    f.subSamples = static_cast<std::uint16_t>(number(12));
    return f;
}

TEST(Tc2w, TextsOfTheUsualShapeAndTheirNearMissesReadAsEveryTextReads) {
    // Usual texts with one or two characters changed (a digit, a blank, a letter, a sign), cut
    // short or run on: each reads to the fields the character-by-character rules give.
    std::mt19937 gen(11);
    const std::string changes = "0123456789 \t|.:,;/L-+";
    for (int i = 0; i < 20000; ++i) {
        std::string text = "00|00|00.00|0000";
        for (char& c : text)
            if (c == '0')
                c = static_cast<char>('0' + gen() % 10);
        for (unsigned k = gen() % 3; k > 0; --k)
            text[gen() % text.size()] = changes[gen() % changes.size()];
        if (gen() % 4 == 0)
            text.resize(gen() % 20, static_cast<char>('0' + gen() % 10));
        SCOPED_TRACE(text);
        const TcFields want = ReferenceFields(text);
        const TcFields got = TTC2W::ParseTc(text).fields;
        EXPECT_EQ(got.hours, want.hours);
        EXPECT_EQ(got.minutes, want.minutes);
        EXPECT_EQ(got.seconds, want.seconds);
        EXPECT_EQ(got.frames, want.frames);
        EXPECT_EQ(got.subSamples, want.subSamples);
    }
}

TEST(Tc2w, WellFormedTexts) {
    // Digits in the eight number places, a non-digit in each separator place, 16 characters;
    // the letters themselves are not judged.
    const struct {
        const char* text;
        bool wellFormed;
    } cases[] = {
        {"00.00.00.00|0000", true},
        {"12|34|56,17L0123", true},
        {"00=00=00.00/0000", true},
        {"00x00x00x00x0000", true},
        {"00.00.xx.12|0882", false},
        {"00.00.00.00|00", false},
        {"00.00.00.00|00000", false},
        {"000000000000000", false},
        {" 0.00.00.00|0000", false},
        {"0000.00.00|00000", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TTC2W::IsWellFormed(c.text), c.wellFormed) << c.text;
}

TEST(Tc2w, OddTextsNeverReadOutside) {
    // Every prefix of a full text and random junk: the reader must stay inside the string
    // (the sanitizer build checks that) and must not throw.
    TTC2W tc;
    const std::string full = "12|34|56,17|01234";
    for (std::size_t n = 0; n <= full.size(); ++n)
        EXPECT_NO_THROW(tc.TcToSamples(full.substr(0, n)));
    std::mt19937 gen(7);
    const std::string alphabet = "0123456789=.:|,;L/ \t-+x";
    for (int i = 0; i < 2000; ++i) {
        std::string text(gen() % 20, ' ');
        for (char& c : text)
            c = alphabet[gen() % alphabet.size()];
        EXPECT_NO_THROW(tc.TcToSamples(text));
    }
}

} // namespace
} // namespace th
