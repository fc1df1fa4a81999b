// Writes the cards the import benchmark renders.
//   make_import_card FOLDER [MINUTES]
// Song EIGHT: eight tracks of MINUTES minutes (default 4), a few events each.
// Song MANY:  one track of 9998 short events (about 90 MB of output), takes drawn at random
//             from eight source files, as punch-ins on a card are.
// Songs C100, C1000: the same track length as MANY cut into 100 and 1000 events.
// Song FOUR:  as MANY, with takes from four sources (the card benchmark's case).
#include "song/Tc2w.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kRate = 44100;

std::string Tc(std::uint32_t samples) {
    return th::TTC2W().SamplesToTc(samples, kRate, 30, false);
}

void Put32(std::ofstream& o, std::uint32_t v) {
    const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    o.write(b, 4);
}
void Put16(std::ofstream& o, std::uint16_t v) {
    const char b[2] = {char(v), char(v >> 8)};
    o.write(b, 2);
}

// A mono 16-bit file of `samples` samples of a noisy tone.
void WriteWav(const fs::path& p, std::uint32_t samples, std::uint32_t seed) {
    std::ofstream o(p, std::ios::binary);
    const std::uint32_t bytes = samples * 2;
    o.write("RIFF", 4);
    Put32(o, 36 + bytes);
    o.write("WAVEfmt ", 8);
    Put32(o, 16);
    Put16(o, 1);
    Put16(o, 1);
    Put32(o, kRate);
    Put32(o, kRate * 2);
    Put16(o, 2);
    Put16(o, 16);
    o.write("data", 4);
    Put32(o, bytes);
    std::minstd_rand rng(seed);
    std::vector<std::int16_t> block(65536);
    for (std::uint32_t done = 0; done < samples;) {
        const std::uint32_t n = std::min<std::uint32_t>(samples - done, block.size());
        for (std::uint32_t i = 0; i < n; ++i)
            block[i] = static_cast<std::int16_t>(((done + i) * 37 % 2000) - 1000 + rng() % 64);
        o.write(reinterpret_cast<const char*>(block.data()), n * 2);
        done += n;
    }
}

std::string Cut(int no, int track, const std::string& file, std::uint32_t src, std::uint32_t in,
                std::uint32_t out) {
    char num[16];
    std::snprintf(num, sizeof num, "%04d", no);
    return "\t\t(Entry)\t" + std::string(num) + "\t(Cut)\tF\t\"" + file + "\"\t1\t" +
           std::to_string(track) + "\t" + Tc(src) + "\t" + Tc(in) + "\t" + Tc(out) + "\t_\r\n";
}

void WriteAdl(const fs::path& p, const std::vector<std::string>& events) {
    std::ofstream o(p, std::ios::binary);
    o << "<ADL>\r\n<SEQUENCE>\r\n\t(Sample_Rate)    S44100\r\n\t(Frame_Rate)     30\r\n"
         "\t(Ver)\r\n\t(Dummy)\r\n\t(Dest_Rate_TC)    00|00|00.00|0000\r\n</SEQUENCE>\r\n"
         "<EVENT_LIST>\r\n";
    for (const std::string& e : events)
        o << e;
    o << "\t</EVENT_LIST>\r\n</ADL>\r\n";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_import_card FOLDER [MINUTES]\n");
        return 2;
    }
    const fs::path card = argv[1];
    const std::uint32_t minutes = argc > 2 ? static_cast<std::uint32_t>(std::stoul(argv[2])) : 4;
    const std::uint32_t length = minutes * 60 * kRate;

    fs::create_directories(card / "EIGHT");
    std::vector<std::string> events;
    int no = 1;
    for (int t = 1; t <= 8; ++t) {
        const std::string name = "zt6000" + std::to_string(t) + ".wav";
        WriteWav(card / "EIGHT" / name, length / 2 + kRate, static_cast<std::uint32_t>(t));
        std::string upper = "ZT6000" + std::to_string(t) + ".WAV";
        events.push_back(Cut(no++, t, upper, 0, 0, length / 2));
        events.push_back(Cut(no++, t, upper, 10 * kRate, length / 2 + 5 * kRate, length));
        events.push_back(Cut(no++, t, upper, kRate, length / 4, length / 4 + 3 * kRate));
    }
    WriteAdl(card / "EIGHT" / "EIGHT.ADL", events);

    // One track of `count` events filling the same length as 9998 events of 4500 samples with
    // gaps of 100, each event from one of eight sources at a random place.
    const auto writeMany = [&](const std::string& song, int count, int sources = 8) {
        fs::create_directories(card / song);
        constexpr std::uint32_t kSourceLength = 60 * kRate;
        for (int s = 1; s <= sources; ++s)
            WriteWav(card / song / ("zt6000" + std::to_string(s) + ".wav"), kSourceLength,
                     static_cast<std::uint32_t>(90 + s));
        const std::uint64_t total = std::uint64_t{9998} * 4600;
        const auto slot = static_cast<std::uint32_t>(total / static_cast<std::uint64_t>(count));
        const std::uint32_t len = slot - 100;
        std::vector<std::string> list;
        std::minstd_rand rng(7);
        std::uint32_t at = 0;
        for (int i = 1; i <= count; ++i) {
            const std::string file =
                "ZT6000" + std::to_string(1 + rng() % static_cast<std::uint32_t>(sources)) + ".WAV";
            list.push_back(Cut(i, 1, file, rng() % (kSourceLength - len), at, at + len));
            at += slot;
        }
        WriteAdl(card / song / (song + ".ADL"), list);
    };
    writeMany("MANY", 9998);
    writeMany("C100", 100);
    writeMany("C1000", 1000);
    writeMany("FOUR", 9998, 4);
    return 0;
}
