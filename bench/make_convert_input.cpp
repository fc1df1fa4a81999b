// Writes the input of the conversion benchmark: FOLDER/tr01.wav .. tr08.wav, each SECONDS
// long, stereo as a DAW writes a mix: two tones and some noise per channel. By default 24-bit
// at 48,000 Hz; RATE and "float" (32-bit IEEE float) give other inputs for the conversion.
//   make_convert_input FOLDER SECONDS [RATE [float]]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

void Put32(std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void Put16(std::string& s, std::uint16_t v) {
    s.push_back(static_cast<char>(v & 0xff));
    s.push_back(static_cast<char>(v >> 8));
}

} // namespace

int main(int argc, char** argv) {
    const bool isFloat = argc == 5 && std::strcmp(argv[4], "float") == 0;
    const std::uint32_t rate = argc >= 4 ? static_cast<std::uint32_t>(std::atol(argv[3])) : 48000;
    if (argc < 3 || argc > 5 || (argc == 5 && !isFloat) || rate < 8000 || rate > 384000) {
        std::fprintf(stderr, "usage: make_convert_input FOLDER SECONDS [RATE [float]]\n");
        return 2;
    }
    const std::string folder = argv[1];
    constexpr std::uint16_t channels = 2;
    const std::uint16_t bytesPerSample = isFloat ? 4 : 3;
    const std::uint16_t align = channels * bytesPerSample;
    const std::uint64_t frames = static_cast<std::uint64_t>(std::atoi(argv[2])) * rate;
    const auto bytes = static_cast<std::uint32_t>(frames * align);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> noise(-0.01, 0.01);
    for (int track = 1; track <= 8; ++track) {
        std::string header = "RIFF";
        Put32(header, 36 + bytes);
        header += "WAVEfmt ";
        Put32(header, 16);
        Put16(header, isFloat ? 3 : 1);
        Put16(header, channels);
        Put32(header, rate);
        Put32(header, rate * align);
        Put16(header, align);
        Put16(header, static_cast<std::uint16_t>(8 * bytesPerSample));
        header += "data";
        Put32(header, bytes);
        std::ofstream out(folder + "/tr0" + std::to_string(track) + ".wav", std::ios::binary);
        out.write(header.data(), static_cast<std::streamsize>(header.size()));
        // One second of audio, repeated: the content does not change the work.
        std::vector<char> second(static_cast<std::size_t>(rate) * align);
        for (std::uint32_t n = 0; n < rate; ++n)
            for (int c = 0; c < channels; ++c) {
                const double t = static_cast<double>(n) / rate;
                const double v =
                    0.3 * std::sin(2 * std::numbers::pi * (110.0 * track + 50 * c) * t) +
                    0.2 * std::sin(2 * std::numbers::pi * 3000 * t) + noise(rng);
                char* p = &second[(static_cast<std::size_t>(n) * channels + c) * bytesPerSample];
                if (isFloat) {
                    const auto f = static_cast<float>(v);
                    std::uint32_t bits;
                    std::memcpy(&bits, &f, sizeof bits);
                    for (int i = 0; i < 4; ++i)
                        p[i] = static_cast<char>((bits >> (8 * i)) & 0xff);
                } else {
                    const auto s = static_cast<std::int32_t>(std::lround(v * 8388607));
                    p[0] = static_cast<char>(s & 0xff);
                    p[1] = static_cast<char>((s >> 8) & 0xff);
                    p[2] = static_cast<char>((s >> 16) & 0xff);
                }
            }
        for (std::uint64_t done = 0; done < frames; done += rate)
            out.write(second.data(), static_cast<std::streamsize>(
                                         std::min<std::uint64_t>(rate, frames - done) * align));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", folder.c_str());
            return 1;
        }
    }
    return 0;
}
