// Writes the input of the export benchmark: FOLDER/tr01.wav .. tr08.wav, each MINUTES long,
// mono 16-bit at 44,100 Hz, filled with varying samples.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_export_input FOLDER MINUTES\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::uint32_t rate = 44100;
    const std::uint32_t bytes = static_cast<std::uint32_t>(std::atoi(argv[2])) * 60 * rate * 2;
    std::vector<char> audio(1 << 20);
    for (int track = 1; track <= 8; ++track) {
        std::string header = "RIFF";
        Put32(header, 36 + bytes);
        header += "WAVEfmt ";
        Put32(header, 16);
        Put16(header, 1);
        Put16(header, 1);
        Put32(header, rate);
        Put32(header, rate * 2);
        Put16(header, 2);
        Put16(header, 16);
        header += "data";
        Put32(header, bytes);
        std::ofstream out(folder + "/tr0" + std::to_string(track) + ".wav", std::ios::binary);
        out.write(header.data(), static_cast<std::streamsize>(header.size()));
        std::uint32_t seed = static_cast<std::uint32_t>(track);
        for (std::uint32_t left = bytes; left > 0;) {
            const std::uint32_t n =
                left < audio.size() ? left : static_cast<std::uint32_t>(audio.size());
            for (std::uint32_t i = 0; i < n; ++i) {
                seed = seed * 1664525u + 1013904223u;
                audio[i] = static_cast<char>(seed >> 24);
            }
            out.write(audio.data(), n);
            left -= n;
        }
        if (!out) {
            std::fprintf(stderr, "make_export_input: can't write %s\n", folder.c_str());
            return 1;
        }
    }
    return 0;
}
