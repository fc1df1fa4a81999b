// WAV access on any file: the chunk walk, the format record, the data chunk and its reader.
// A copy that may not invent audio copies exactly what the file holds or fails; a copy of
// what is present gives a whole file with exactly those bytes. The formats the converter
// reads: a format it accepts is one it can convert, into a take of exactly the planned length;
// one it refuses comes with a reason.
#include "transfer/Convert.h"
#include "transfer/WaveFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string TempPath(const char* what) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/trackhaul-fuzz-" + std::to_string(::getpid()) + "-" +
           what;
}

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Most audio bytes a run reads or copies: a header may claim 4 GB.
constexpr std::uint32_t kMaxCopy = 1 << 20;
// Most frames a run converts (at 8 kHz they become 5.5 times as many samples at 44.1 kHz).
constexpr std::uint64_t kMaxConvertFrames = 1 << 14;

void CheckConversion(const std::string& input, std::size_t size, const std::string& output,
                     th::WaveReader& reader) {
    th::Failure why;
    const auto format = th::ReadAudioFormat(input, &why);
    if (!format) {
        Check(!why.reason.empty(), "a refused format says why");
        return;
    }
    Check(format->channels > 0 && format->blockAlign == format->channels * (format->bits / 8u) &&
              format->rate >= th::kMinConvertRate && format->rate <= th::kMaxConvertRate,
          "an accepted format is consistent");
    reader.Rewind();
    const auto bytes = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(reader.Available(), kMaxConvertFrames * format->blockAlign));
    // Songs at 22.05 kHz for inputs of odd length, at 44.1 kHz for the others.
    const std::uint32_t songRate = (size & 1) ? 22050 : 44100;
    const th::ConvertPlan plan = th::PlanConversion(*format, bytes, songRate);
    auto writer = th::CreateWaveFile(output, songRate);
    Check(static_cast<bool>(writer), "take created");
    std::string reason;
    Check(th::ConvertAudio(reader, *writer, plan, th::DitherSeed(reader), nullptr, &reason),
          "conversion of the bytes present");
    Check(th::CloseWaveFile(*writer), "take closed");
    Check(ReadAll(output).size() == 46 + 2 * plan.samples, "take of the planned length");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string input = TempPath("in.wav");
    static const std::string output = TempPath("out.wav");
    static const bool cleanup = [] {
        return std::atexit([] {
                   std::remove(input.c_str());
                   std::remove(output.c_str());
               }) == 0;
    }();
    (void)cleanup;
    {
        std::ofstream f(input, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    th::ReadWaveFormat(input);
    const auto dataSize = th::ReadDataSize(input);
    const auto length = th::FileLength(input);
    Check(length && *length == size, "file length");

    auto reader = th::OpenWaveData(input);
    Check(static_cast<bool>(reader) == dataSize.has_value(), "data chunk found by one reader");
    if (!reader)
        return 0;
    Check(reader->DataSize() == *dataSize, "data size");
    Check(reader->Available() <= reader->DataSize() && reader->Available() <= size,
          "available audio");

    // Read the start, skip, read again: bytes past the file are zero.
    unsigned char buffer[4096];
    const std::size_t got = reader->Read(buffer, sizeof buffer);
    Check(got <= reader->Available(), "read more than present");
    for (std::size_t i = got; i < sizeof buffer; ++i)
        Check(buffer[i] == 0, "bytes past the file are zero");
    reader->Skip(size);
    reader->Read(buffer, sizeof buffer);
    reader->Rewind();

    // The bytes present, copied without inventing any.
    const auto present = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        std::min<std::uint64_t>(reader->Available(), kMaxCopy), 0xFFFFFFFFu));
    auto writer = th::CreateWaveFile(output, 44100);
    Check(static_cast<bool>(writer), "output created");
    const bool copied = th::CopyBlocks(*reader, *writer, present, nullptr, th::ShortSource::Fails);
    Check(copied, "copy of the bytes present");
    Check(th::CloseWaveFile(*writer), "output closed");
    const std::string out = ReadAll(output);
    const std::string in(reinterpret_cast<const char*>(data), size);
    Check(out.size() == 46 + present + (present & 1u), "output size");
    reader->Rewind();
    std::string audio(present, '\0');
    reader->Read(audio.data(), present);
    Check(out.compare(46, present, audio) == 0, "output audio");

    CheckConversion(input, size, output, *reader);

    // Asking for more than is present fails rather than pads.
    if (reader->Available() < reader->DataSize() && reader->Available() < kMaxCopy) {
        reader->Rewind();
        auto second = th::CreateWaveFile(output, 44100);
        Check(!th::CopyBlocks(*reader, *second, present + 1, nullptr, th::ShortSource::Fails),
              "a short source fails the copy");
    }
    return 0;
}
