#ifdef _WIN32
#include <windows.h>
#endif

#include "support/TestSupport.h"

#include "platform/Platform.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir() {
    // A random name, never a process id: Wine reuses ids, and a folder left by an earlier run
    // must not be taken over. A name that exists is skipped.
    static std::atomic<unsigned> counter{0};
    static const std::uint64_t session = [] {
        std::random_device random;
        return (std::uint64_t{random()} << 32) ^ random();
    }();
    for (;;) {
        path_ = fs::temp_directory_path() /
                ("trackhaul-test-" + std::to_string(session) + "-" + std::to_string(counter++));
        if (fs::create_directories(path_))
            break;
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

MappedDrive::MappedDrive(const std::string& drive, const fs::path& root) : drive_(drive) {
    platform::MapDrive(drive, platform::Utf8FromPath(root));
}

MappedDrive::~MappedDrive() {
    platform::UnmapDrive(drive_);
}

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string U16(std::uint16_t v) {
    return std::string{static_cast<char>(v & 0xff), static_cast<char>(v >> 8)};
}

std::string U32(std::uint32_t v) {
    return U16(v & 0xffff) + U16(v >> 16);
}

std::string Chunk(const std::string& id, const std::string& data) {
    std::string c = id + U32(static_cast<std::uint32_t>(data.size())) + data;
    if (data.size() % 2)
        c.push_back('\0');
    return c;
}

std::string MakeWav(const std::string& audio, std::uint32_t rate, std::uint16_t channels,
                    std::uint16_t bits) {
    const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
    std::string fmt =
        U16(1) + U16(channels) + U32(rate) + U32(rate * align) + U16(align) + U16(bits);
    std::string body = "WAVE" + Chunk("fmt ", fmt) + Chunk("data", audio);
    return "RIFF" + U32(static_cast<std::uint32_t>(body.size())) + body;
}

std::string EncodeWav(const std::vector<double>& samples, std::uint16_t tag, std::uint16_t bits,
                      std::uint16_t channels, std::uint32_t rate, bool extensible) {
    std::string audio;
    audio.reserve(samples.size() * bits / 8);
    for (const double v : samples) {
        if (tag == 3 && bits == 32) {
            const float f = static_cast<float>(v);
            std::uint32_t u;
            std::memcpy(&u, &f, 4);
            audio += U32(u);
        } else if (tag == 3) {
            std::uint64_t u;
            std::memcpy(&u, &v, 8);
            audio += U32(static_cast<std::uint32_t>(u)) + U32(static_cast<std::uint32_t>(u >> 32));
        } else {
            const double scale = std::ldexp(1.0, bits - 1);
            const double q = std::clamp(std::round(v * scale), -scale, scale - 1);
            const auto i = static_cast<std::int64_t>(q) + (bits == 8 ? 128 : 0);
            for (int b = 0; b < bits / 8; ++b)
                audio += static_cast<char>(static_cast<std::uint64_t>(i) >> (8 * b));
        }
    }
    const auto align = static_cast<std::uint16_t>(channels * bits / 8);
    std::string fmt = U16(extensible ? 0xFFFE : tag) + U16(channels) + U32(rate) +
                      U32(rate * align) + U16(align) + U16(bits);
    if (extensible)
        fmt += U16(22) + U16(bits) + U32(0) + U16(tag) +
               std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    std::string body = "WAVE" + Chunk("fmt ", fmt) + Chunk("data", audio);
    return "RIFF" + U32(static_cast<std::uint32_t>(body.size())) + body;
}

std::vector<std::int16_t> WaveSamples(const std::string& bytes) {
    std::vector<std::int16_t> samples;
    for (std::size_t i = 46; i + 1 < bytes.size(); i += 2)
        samples.push_back(
            static_cast<std::int16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return samples;
}

std::string Pattern(std::size_t bytes, std::uint32_t seed) {
    std::string s(bytes, '\0');
    std::mt19937 rng(seed);
    for (auto& c : s)
        c = static_cast<char>(1 + rng() % 255);
    return s;
}

namespace {
std::uint32_t Le32(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 4; i-- > 0;)
        v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
}
} // namespace

bool IsWholeWave(const std::string& bytes) {
    if (bytes.size() < 46 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(38, 4, "data"))
        return false;
    const std::uint64_t data = Le32(bytes, 42);
    return Le32(bytes, 4) + 8ull == bytes.size() && 46 + data + (data & 1) == bytes.size();
}

std::string WaveAudio(const std::string& bytes) {
    return bytes.size() < 46 ? std::string() : bytes.substr(46, Le32(bytes, 42));
}

std::string EventLine(int entryNo, int track, const std::string& file, const std::string& srcIn,
                      const std::string& destIn, const std::string& destOut) {
    char num[16];
    std::snprintf(num, sizeof num, "%04d", entryNo);
    return "\t\t(Entry)\t" + std::string(num) + "\t(Cut)\tF\t\"" + file + "\"\t1\t" +
           std::to_string(track) + "\t" + srcIn + "\t" + destIn + "\t" + destOut + "\t_";
}

std::string SilenceLine(int entryNo, int track, const std::string& destIn,
                        const std::string& destOut) {
    char num[16];
    std::snprintf(num, sizeof num, "%04d", entryNo);
    return "\t\t(Entry)\t" + std::string(num) + "\t(Silence)\t" + std::to_string(track) + "\t" +
           destIn + "\t" + destOut + "\t_";
}

std::string AdlText(int rate, const std::string& tc, const std::vector<std::string>& events,
                    bool withEventList) {
    std::string s = "<ADL>\r\n<VERSION>\r\n\t(ADL_ID)\t\"07-0000-0000\"\r\n</VERSION>\r\n"
                    "<SEQUENCE>\r\n"
                    "\t(Sample_Rate)    S" +
                    std::to_string(rate) +
                    "\r\n"
                    "\t(Frame_Rate)    30\r\n"
                    "\t(Ver)\r\n\t(Dummy)\r\n"
                    "\t(Dest_Rate_TC)    " +
                    tc +
                    "\r\n"
                    "</SEQUENCE>\r\n";
    if (withEventList) {
        s += "<EVENT_LIST>\r\n";
        for (const std::string& e : events)
            s += e + "\r\n";
        s += "\t</EVENT_LIST>\r\n";
    }
    return s + "</ADL>\r\n";
}

bool FakeUi::Ask(const std::string& text) {
    questions.push_back(text);
    if (answers.empty())
        return defaultAnswer;
    bool a = answers.front();
    answers.pop_front();
    return a;
}

th::TransferUi::Answer FakeUi::AskYesNoCancel(const std::string& text) {
    questions.push_back(text);
    if (choices.empty())
        return Answer::Yes;
    const Answer a = choices.front();
    choices.pop_front();
    return a;
}

void FakeUi::Report(const std::string& text, const th::Failure& why) {
    if (!text.empty())
        messages.push_back(text);
    failures.push_back(why);
}

FailOn::FailOn(platform::FileOp op, const std::string& part, int error,
               std::function<void()> also) {
    platform::SetFaultHook([=](platform::FileOp o, const std::string& path) {
        if (o != op || path.find(part) == std::string::npos)
            return 0;
        if (also)
            also();
        return error;
    });
}

void FakeUi::ShowProgress() {
    shown = true;
    ++showCount;
    cancelled = false;
}

void FakeUi::ProcessMessages() {
    ++pumps;
    if (onPump)
        onPump(*this);
}

int OpenDescriptors() {
#ifdef _WIN32
    DWORD handles = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
    return static_cast<int>(handles);
#else
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
#endif
}

} // namespace testsupport
