// Compares two takes the program wrote (46-byte header, 16-bit mono): the headers and lengths
// must be equal and no sample may differ by more than one step; prints how many differ.
//   compare_takes A.wav B.wav MAX_PER_MILLION   (exit 0 when within, 1 otherwise)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string ReadAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int Sample(const std::string& s, std::size_t i) {
    return static_cast<std::int16_t>(static_cast<unsigned char>(s[46 + 2 * i]) |
                                     (static_cast<unsigned char>(s[47 + 2 * i]) << 8));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: compare_takes A.wav B.wav MAX_PER_MILLION\n");
        return 2;
    }
    const std::string a = ReadAll(argv[1]);
    const std::string b = ReadAll(argv[2]);
    if (a.size() != b.size() || a.size() < 46 || a.compare(0, 46, b, 0, 46) != 0) {
        std::printf("%s: header or length differs\n", argv[2]);
        return 1;
    }
    const std::size_t samples = (a.size() - 46) / 2;
    std::size_t differing = 0;
    int largest = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        const int d = std::abs(Sample(a, i) - Sample(b, i));
        differing += d != 0;
        largest = d > largest ? d : largest;
    }
    const double perMillion = samples ? 1e6 * static_cast<double>(differing) / samples : 0;
    std::printf("%s: %zu of %zu samples differ (%.0f per million), by at most %d\n", argv[2],
                differing, samples, perMillion, largest);
    return largest <= 1 && perMillion <= std::atof(argv[3]) ? 0 : 1;
}
