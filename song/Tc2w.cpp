#include "song/Tc2w.h"

#include <cstdio>

namespace th {

const std::array<TcFormatRow, 6> TcFormatTable = {{
    // 48000 Hz frames are exact: 2000, 1920 and 1600 samples.
    {86400, 1440, 24, false, {3675, 1838, 4000}},  // 24
    {90000, 1500, 25, false, {3528, 1764, 3840}},  // 25
    {108000, 1800, 30, false, {2940, 1470, 3200}}, // 29.97 non-drop
    {107892, 1798, 30, true, {2940, 1470, 3200}},  // 29.97 drop-frame
    {108000, 1800, 30, false, {2940, 1470, 3200}}, // 30 non-drop
    {107892, 1798, 30, true, {2940, 1470, 3200}},  // 30 drop-frame
}};

const std::array<FreqRow, 3> FreqTable = {{
    {44100, '|', '|'},
    {22050, 'L', 'L'},
    {48000, '/', ','},
}};

namespace {

// Separator characters of each TcFormat: hours/minutes/seconds, then the frame separator.
constexpr std::array<char, 6> kFieldSeparator = {'=', '.', ':', ':', '|', '|'};
constexpr std::array<char, 6> kFrameSeparator = {'.', '.', '.', ',', '.', ','};

// Frames in ten drop-frame minutes, in the first minute of ten, and in each later minute.
constexpr std::uint32_t kDropTenMinutes = 17982;
constexpr std::uint32_t kDropFirstMinute = 1800;
constexpr std::uint32_t kDropMinute = 1798;

bool IsNominal(int tcFormat) {
    return tcFormat == 2 || tcFormat == 3;
}

// Character `pos` of the text, or 0 past its end: a short text reads as if padded with
// non-digits.
char CharAt(std::string_view text, std::size_t pos) {
    return pos < text.size() ? text[pos] : '\0';
}

// Decimal number starting at `pos`: leading blanks skipped, digits up to the first
// non-digit, wrapping modulo 2^32 (callers keep 8 or 16 bits of it).
std::uint32_t ReadNumber(std::string_view text, std::size_t pos) {
    while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r')))
        ++pos;
    std::uint32_t value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10u + static_cast<std::uint32_t>(text[pos] - '0');
        ++pos;
    }
    return value;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The fields of a text in the usual shape, "dd?dd?dd?dd?dddd" with a non-digit (or the end)
// after it, as ReadNumber would read them, without its work per character: an import converts
// three timecodes per event. False, and `fields` untouched, for any other text.
bool ReadUsualFields(std::string_view text, TcFields& fields) {
    constexpr std::string_view kShape = "dd?dd?dd?dd?dddd";
    if (text.size() < kShape.size() || (text.size() > kShape.size() && IsDigit(text[16])))
        return false;
    for (std::size_t i = 0; i < kShape.size(); ++i)
        if (IsDigit(text[i]) != (kShape[i] == 'd'))
            return false;
    const auto two = [text](std::size_t at) {
        return (text[at] - '0') * 10 + (text[at + 1] - '0');
    };
    fields.hours = static_cast<std::int8_t>(two(0));
    fields.minutes = static_cast<std::int8_t>(two(3));
    fields.seconds = static_cast<std::int8_t>(two(6));
    fields.frames = static_cast<std::int8_t>(two(9));
    fields.subSamples = static_cast<std::uint16_t>(two(12) * 100 + two(14));
    return true;
}

// A signed 8-bit field widened the way the arithmetic sees it (negative values wrap).
std::uint32_t Widen(std::int8_t v) {
    return static_cast<std::uint32_t>(static_cast<int>(v));
}

int FreqIndexOfHertz(int frequency) {
    for (std::size_t i = 0; i < FreqTable.size(); ++i)
        if (static_cast<int>(FreqTable[i].hertz) == frequency)
            return static_cast<int>(i);
    return -1;
}

int TcFormatOfCode(int frameRateCode, bool dropFrame) {
    switch (frameRateCode) {
    case 24:
        return 0;
    case 25:
        return 1;
    case 29:
        return dropFrame ? 3 : 2;
    case 30:
        return dropFrame ? 5 : 4;
    default:
        return -1;
    }
}

} // namespace

std::uint32_t TTC2W::NominalToReal(std::uint32_t x) {
    return x % 1000u + (x / 1000u) * 1001u;
}

std::uint32_t TTC2W::RealToNominal(std::uint32_t x) {
    return x % 1001u + (x / 1001u) * 1000u;
}

ParsedTc TTC2W::ParseTc(std::string_view text) {
    ParsedTc parsed;
    const char frameSep = CharAt(text, 8);
    const bool drop = frameSep == ',' || frameSep == ';';
    switch (CharAt(text, 2)) {
    case '.':
        parsed.tcFormat = 1;
        break;
    case ':':
        parsed.tcFormat = drop ? 3 : 2;
        break;
    case '|':
        parsed.tcFormat = drop ? 5 : 4;
        break;
    default: // "=" and anything unknown: 24 frames per second
        parsed.tcFormat = 0;
        break;
    }
    // A text written at 48000 Hz carries "/"; older texts carry ",". Anything else: 44100 Hz.
    const char freqLetter = CharAt(text, 11);
    parsed.freqIndex = 0;
    for (std::size_t i = 0; i < FreqTable.size(); ++i)
        if (freqLetter == FreqTable[i].readLetter || freqLetter == FreqTable[i].writeLetter)
            parsed.freqIndex = static_cast<int>(i);
    if (ReadUsualFields(text, parsed.fields))
        return parsed;
    parsed.fields.hours = static_cast<std::int8_t>(ReadNumber(text, 0));
    parsed.fields.minutes = static_cast<std::int8_t>(ReadNumber(text, 3));
    parsed.fields.seconds = static_cast<std::int8_t>(ReadNumber(text, 6));
    parsed.fields.frames = static_cast<std::int8_t>(ReadNumber(text, 9));
    parsed.fields.subSamples = static_cast<std::uint16_t>(ReadNumber(text, 12));
    return parsed;
}

bool TTC2W::IsWellFormed(std::string_view text) {
    TcFields unused;
    return text.size() == 16 && ReadUsualFields(text, unused);
}

SampleCount TTC2W::FieldsToSamples(const TcFields& fields, int tcFormat, int freqIndex) {
    const TcFormatRow& row = TcFormatTable.at(static_cast<std::size_t>(tcFormat));
    const auto d =
        static_cast<std::uint32_t>(row.doubleFrameLength.at(static_cast<std::size_t>(freqIndex)));
    const auto perMinute = static_cast<std::uint32_t>(row.framesPerMinute);
    const auto perSecond = static_cast<std::uint32_t>(row.framesPerSecond);
    std::uint32_t f = perMinute * Widen(fields.minutes) + perSecond * Widen(fields.seconds) +
                      Widen(fields.frames);
    if (row.dropFrame)
        f += 2u * static_cast<std::uint32_t>(fields.minutes / 10);
    return Widen(fields.hours) * ((d * row.framesPerHour) >> 1) + ((f * d + 1u) >> 1) +
           fields.subSamples;
}

TcFields TTC2W::SamplesToFields(SampleCount samples, int tcFormat, int freqIndex,
                                std::uint32_t* hours) {
    const TcFormatRow& row = TcFormatTable.at(static_cast<std::size_t>(tcFormat));
    const auto d =
        static_cast<std::uint32_t>(row.doubleFrameLength.at(static_cast<std::size_t>(freqIndex)));
    std::uint32_t p = IsNominal(tcFormat) ? RealToNominal(samples) : samples;

    std::uint32_t frames = 0;
    std::uint32_t sub = 0;
    if (tcFormat == 0 && freqIndex == 1) {
        // 918.75 samples per frame: count in groups of four frames of 3675 samples.
        const std::uint32_t r = p % 3675u;
        frames = 4u * (p / 3675u) + (4u * r) / 3675u;
        sub = ((4u * r) % 3675u) / 4u;
    } else {
        const std::uint32_t r = p % d;
        frames = 2u * (p / d) + (2u * r) / d;
        sub = ((2u * r) % d) >> 1;
    }
    if (IsNominal(tcFormat))
        sub = NominalToReal(sub);

    TcFields out;
    out.subSamples = static_cast<std::uint16_t>(sub);
    const std::uint32_t h = frames / row.framesPerHour;
    const std::uint32_t g = frames % row.framesPerHour;
    if (hours)
        *hours = h;
    out.hours = static_cast<std::int8_t>(h);

    std::uint32_t minutes = 0;
    std::uint32_t seconds = 0;
    std::uint32_t frame = 0;
    if (!row.dropFrame) {
        const auto perMinute = static_cast<std::uint32_t>(row.framesPerMinute);
        const auto perSecond = static_cast<std::uint32_t>(row.framesPerSecond);
        minutes = g / perMinute;
        seconds = (g % perMinute) / perSecond;
        frame = (g % perMinute) % perSecond;
    } else {
        // Minutes 1-9 of every ten start at frame number 02; frames 00 and 01 are skipped.
        const std::uint32_t tens = g / kDropTenMinutes;
        const std::uint32_t m = g % kDropTenMinutes;
        minutes = 10u * tens;
        if (m < kDropFirstMinute) {
            seconds = m / 30u;
            frame = m % 30u;
        } else {
            minutes += (m - kDropFirstMinute) / kDropMinute + 1u;
            const std::uint32_t o = (m - kDropFirstMinute) % kDropMinute;
            seconds = (o + 2u) / 30u;
            frame = (o + 2u) % 30u;
        }
    }
    out.minutes = static_cast<std::int8_t>(minutes);
    out.seconds = static_cast<std::int8_t>(seconds);
    out.frames = static_cast<std::int8_t>(frame);
    return out;
}

SampleCount TTC2W::TcToSamples(std::string_view text) const {
    ParsedTc parsed = ParseTc(text);
    if (IsNominal(parsed.tcFormat))
        parsed.fields.subSamples =
            static_cast<std::uint16_t>(RealToNominal(parsed.fields.subSamples));
    const SampleCount samples = FieldsToSamples(parsed.fields, parsed.tcFormat, parsed.freqIndex);
    return IsNominal(parsed.tcFormat) ? NominalToReal(samples) : samples;
}

std::string TTC2W::SamplesToTc(SampleCount samples, int frequency, int frameRateCode,
                               bool dropFrame) const {
    const int freqIndex = FreqIndexOfHertz(frequency);
    const int tcFormat = TcFormatOfCode(frameRateCode, dropFrame);
    if (freqIndex < 0 || tcFormat < 0)
        return {};
    std::uint32_t hours = 0;
    const TcFields f = SamplesToFields(samples, tcFormat, freqIndex, &hours);
    const auto sep = kFieldSeparator[static_cast<std::size_t>(tcFormat)];
    const auto frameSep = kFrameSeparator[static_cast<std::size_t>(tcFormat)];
    const auto letter = FreqTable[static_cast<std::size_t>(freqIndex)].writeLetter;
    // Every field is printed as its two lowest decimal digits.
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02u%c%02u%c%02u%c%02u%c%04u", hours % 100u, sep,
                  static_cast<unsigned>(f.minutes) % 100u, sep,
                  static_cast<unsigned>(f.seconds) % 100u, frameSep,
                  static_cast<unsigned>(f.frames) % 100u, letter,
                  static_cast<unsigned>(f.subSamples));
    return buffer;
}

} // namespace th
