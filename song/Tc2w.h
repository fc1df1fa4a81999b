#pragma once
// Timecode texts <-> sample positions.
// A text is 16 characters: "HH?MM?SS?FF?NNNN"; position 2 gives the frame rate, position 8
// drop-frame, position 11 the sampling frequency, the last field samples into the frame.
#include "song/Types.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace th {

// One row of TcFormatTable.
struct TcFormatRow {
    std::uint32_t framesPerHour;
    std::int16_t framesPerMinute;
    std::int16_t framesPerSecond;
    bool dropFrame;
    std::array<std::int16_t, 3> doubleFrameLength; // 2 x samples per frame, per FreqIndex
};

// One row of the sampling frequency table.
struct FreqRow {
    std::uint32_t hertz;
    char writeLetter; // written before the sample field
    char readLetter;  // recognised there when reading, as is writeLetter
};

// TcFormat 0..5: 24, 25, 29.97 nd, 29.97 df, 30 nd, 30 df.
extern const std::array<TcFormatRow, 6> TcFormatTable;
// FreqIndex 0..2: 44100, 22050, 48000.
extern const std::array<FreqRow, 3> FreqTable;

// Broken-down time while converting.
struct TcFields {
    std::int8_t hours = 0;
    std::int8_t minutes = 0;
    std::int8_t seconds = 0;
    std::int8_t frames = 0;
    std::uint16_t subSamples = 0; // samples into the current frame
};

struct ParsedTc {
    int tcFormat = 0;
    int freqIndex = 0;
    TcFields fields;
};

class TTC2W {
public:
    // Sample position of a timecode text (never fails; see ParseTc for odd texts).
    SampleCount TcToSamples(std::string_view text) const;
    // Timecode text of a sample position; empty for an unsupported frequency or code.
    // frameRateCode: 24, 25, 29 (29.97) or 30; dropFrame matters for 29 and 30 only.
    std::string SamplesToTc(SampleCount samples, int frequency, int frameRateCode,
                            bool dropFrame) const;

    static std::uint32_t NominalToReal(std::uint32_t x);
    static std::uint32_t RealToNominal(std::uint32_t x);
    static ParsedTc ParseTc(std::string_view text);
    // Whether a text has the usual form: 16 characters, digits in the eight number places and
    // a non-digit in each separator place. Any other text is still read (ParseTc), but a field
    // without digits reads as 0, so it may not say what it seems to.
    static bool IsWellFormed(std::string_view text);
    static SampleCount FieldsToSamples(const TcFields& fields, int tcFormat, int freqIndex);
    // Fields of a position; hours are returned unreduced in `hours` (printed modulo 100).
    static TcFields SamplesToFields(SampleCount samples, int tcFormat, int freqIndex,
                                    std::uint32_t* hours = nullptr);
};

} // namespace th
