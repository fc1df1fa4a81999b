// Timecode texts and sample positions: any text parses, any position converts, and what a
// position converts to is a 16-character text (or nothing for an unsupported rate).
#include "song/Tc2w.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    th::TTC2W tc;
    const std::string text(reinterpret_cast<const char*>(data), size);
    tc.TcToSamples(text);
    th::TTC2W::ParseTc(text);

    // The first bytes choose a position, a frequency, a frame-rate code and drop-frame.
    if (size < 7)
        return 0;
    std::uint32_t samples;
    std::memcpy(&samples, data, 4);
    static const int kFrequencies[] = {44100, 22050, 48000, 32000, 0};
    static const int kCodes[] = {24, 25, 29, 30, 0, 60};
    const int frequency = kFrequencies[data[4] % 5];
    const int code = kCodes[data[5] % 6];
    const bool drop = data[6] & 1;
    const std::string out = tc.SamplesToTc(samples, frequency, code, drop);
    if (!out.empty() && out.size() != 16) {
        std::fprintf(stderr, "timecode of %u samples is '%s'\n", samples, out.c_str());
        std::abort();
    }
    if (!out.empty())
        tc.TcToSamples(out);
    for (int format = 0; format < 6; ++format)
        for (int freq = 0; freq < 3; ++freq) {
            std::uint32_t hours = 0;
            const th::TcFields f = th::TTC2W::SamplesToFields(samples, format, freq, &hours);
            th::TTC2W::FieldsToSamples(f, format, freq);
        }
    th::TTC2W::NominalToReal(samples);
    th::TTC2W::RealToNominal(samples);
    return 0;
}
