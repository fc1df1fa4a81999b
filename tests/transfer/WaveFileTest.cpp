#include "transfer/WaveFile.h"

#include "support/FaultInjection.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <vector>

using namespace th;
using namespace testsupport;

namespace {

class WaveFileTest : public ::testing::Test {
protected:
    TempDir tmp;
    MappedDrive drive{"E:", tmp.path()};

    std::string Put(const std::string& name, const std::string& bytes) {
        WriteFile(tmp / name, bytes);
        return "E:\\" + name;
    }
    std::string Fmt(std::uint16_t channels, std::uint32_t rate) {
        return U16(1) + U16(channels) + U32(rate) + U32(rate * channels * 2) + U16(channels * 2) +
               U16(16);
    }
    std::string Riff(const std::string& chunks) {
        return "RIFF" + U32(static_cast<std::uint32_t>(chunks.size() + 4)) + "WAVE" + chunks;
    }
    // The whole data chunk as the reader gives it.
    std::string ReadAll(const std::string& path) {
        auto reader = OpenWaveData(path);
        if (!reader)
            return "<none>";
        std::string bytes(reader->DataSize(), '\x55');
        reader->Read(bytes.data(), bytes.size());
        return bytes;
    }
};

TEST_F(WaveFileTest, StereoFileWithSixteenByteFormatChunk) {
    const std::string path = Put("s.wav", MakeWav(Pattern(400, 1), 44100, 2, 16));
    auto info = ReadWaveFormat(path);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->format.channels, 2);
    EXPECT_EQ(info->format.samplesPerSec, 44100u);
    EXPECT_EQ(info->format.bitsPerSample, 16);
    EXPECT_EQ(info->format.extraSize, 0);
    EXPECT_EQ(info->riffSize, 4u + 24u + 408u);
}

// Layouts in which both chunks must be found, with the audio read back intact.
TEST_F(WaveFileTest, FindsChunksPastOtherChunks) {
    const std::string audio = Pattern(301, 2);
    const std::string fmt = Chunk("fmt ", Fmt(1, 22050)), data = Chunk("data", audio);
    const std::vector<std::string> layouts = {
        fmt + Chunk("LIST", "abc") + data, // odd chunk and its pad byte between
        data + Chunk("JUNK", "") + fmt,    // data first, zero-size chunk
        Chunk("bext", Pattern(1001, 3)) + fmt + data,
    };
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string path = Put("l.wav", Riff(layouts[i]));
        auto info = ReadWaveFormat(path);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->format.samplesPerSec, 22050u);
        EXPECT_EQ(ReadDataSize(path), 301u);
        EXPECT_EQ(ReadAll(path), audio);
    }
}

TEST_F(WaveFileTest, FormatRecordIsCutOrZeroExtendedToTwentyBytes) {
    auto shortFmt = ReadWaveFormat(Put("a.wav", Riff(Chunk("fmt ", Fmt(1, 8000).substr(0, 14)))));
    ASSERT_TRUE(shortFmt);
    EXPECT_EQ(shortFmt->format.blockAlign, 2);
    EXPECT_EQ(shortFmt->format.bitsPerSample, 0);

    const std::string longFmt = Fmt(2, 48000) + U16(0x1234) + U16(0xBEEF) + "xyzw";
    auto cut = ReadWaveFormat(Put("b.wav", Riff(Chunk("fmt ", longFmt) + Chunk("data", "12"))));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->format.samplesPerSec, 48000u);
    EXPECT_EQ(cut->format.extraSize, 0x1234);
}

// Written in order, or at offsets with the end first (the pad byte of an odd size then goes
// after the furthest byte, not where the stream last stood).
TEST_F(WaveFileTest, WrittenFileHasTheExactHeader) {
    for (bool atOffsets : {false, true})
        for (std::uint32_t n : {1000u, 999u, 0u}) {
            SCOPED_TRACE(std::to_string(n) + (atOffsets ? " at offsets" : " in order"));
            const std::string audio = Pattern(n, 4);
            auto writer = CreateWaveFile("E:\\out", 22050);
            ASSERT_TRUE(writer);
            if (atOffsets) {
                ASSERT_TRUE(writer->WriteAt(n / 2, audio.data() + n / 2, n - n / 2));
                ASSERT_TRUE(writer->WriteAt(0, audio.data(), n / 2));
                EXPECT_EQ(writer->Written(), n);
            } else {
                ASSERT_TRUE(writer->Write(audio.data(), n / 2));
                ASSERT_TRUE(writer->Write(audio.data() + n / 2, n - n / 2));
            }
            ASSERT_TRUE(CloseWaveFile(*writer));

            const std::uint32_t pad = n % 2;
            const std::string expected = "RIFF" + U32(38 + n + pad) + "WAVEfmt " + U32(18) +
                                         U16(1) + U16(1) + U32(22050) + U32(44100) + U16(2) +
                                         U16(16) + U16(0) + "data" + U32(n) + audio +
                                         std::string(pad, '\0');
            EXPECT_EQ(ReadFile(tmp / "out"), expected);
        }
    EXPECT_EQ(std::filesystem::file_size(tmp / "out"), 46u);
}

TEST_F(WaveFileTest, CopyRunsFullBlocksThenOneLastTransfer) {
    struct Case {
        std::uint32_t count;
        std::vector<std::uint32_t> blocks;
    };
    const std::vector<Case> cases = {
        {0, {0}},
        {65535, {65535}},
        {65537, {65536, 1}},
        {131072, {65536, 65536, 0}},
        {200001, {65536, 65536, 65536, 3393}},
        // More than one run of sixteen blocks.
        {17 * 65536 + 2,
         [] {
             std::vector<std::uint32_t> b(17, 65536);
             b.push_back(2);
             return b;
         }()},
    };
    // A 16-byte "fmt " chunk puts the audio at byte 44, two bytes off the output's 46, which
    // the copy moves through memory; an 18-byte one puts it at 46, which the kernel may copy.
    for (const bool alike : {false, true})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(c.count) + (alike ? " aligned alike" : " unaligned"));
            const std::string audio = Pattern(c.count, c.count);
            auto source =
                OpenWaveData(Put("src.wav", alike ? Riff(Chunk("fmt ", Fmt(1, 44100) + U16(0)) +
                                                         Chunk("data", audio))
                                                  : MakeWav(audio)));
            auto dest = CreateWaveFile("E:\\dst.wav", 44100);
            ASSERT_TRUE(source && dest);
            std::vector<std::uint32_t> seen;
            EXPECT_TRUE(CopyBlocks(*source, *dest, c.count, [&](std::uint32_t bytes) {
                seen.push_back(bytes);
                return true;
            }));
            ASSERT_TRUE(CloseWaveFile(*dest));
            EXPECT_EQ(seen, c.blocks);
            EXPECT_EQ(ReadAll("E:\\dst.wav"), audio);
        }
}

TEST_F(WaveFileTest, CopyStopsWhenTheCallbackSaysSo) {
    auto source = OpenWaveData(Put("src.wav", MakeWav(Pattern(200000, 5))));
    auto dest = CreateWaveFile("E:\\dst.wav", 44100);
    ASSERT_TRUE(source && dest);
    int blocks = 0;
    EXPECT_FALSE(CopyBlocks(*source, *dest, 200000, [&](std::uint32_t) { return ++blocks < 2; }));
    EXPECT_EQ(blocks, 2);
    // Blocks may move ahead of the callback in one kernel copy, but the last transfer never runs.
    EXPECT_LT(dest->Written(), 200000u);
}

// A source holding less than the copy asks for: the import pads it with silence, the export
// must not invent audio. Both through the kernel's copy (whole blocks) and the buffer.
TEST_F(WaveFileTest, ShortSourceIsPaddedOrFailsTheCopy) {
    for (const std::uint32_t present : {1000u, 3u * 65536 + 10}) {
        for (const ShortSource mode : {ShortSource::ReadsAsZero, ShortSource::Fails}) {
            SCOPED_TRACE(std::to_string(present) + (mode == ShortSource::Fails ? " fails" : ""));
            const std::string audio = Pattern(present, 4);
            auto source = OpenWaveData(Put("src.wav", MakeWav(audio)));
            auto dest = CreateWaveFile("E:\\dst.wav", 44100);
            ASSERT_TRUE(source && dest);
            const bool copied = CopyBlocks(*source, *dest, present + 70000, nullptr, mode);
            ASSERT_TRUE(CloseWaveFile(*dest));
            EXPECT_EQ(copied, mode == ShortSource::ReadsAsZero);
            if (copied) {
                EXPECT_EQ(ReadAll("E:\\dst.wav"), audio + std::string(70000, '\0'));
            }
        }
    }
}

// Writes that fail, as on a full disk, through the kernel's copy or the buffer: the copy
// fails and says why.
TEST_F(WaveFileTest, FailedWriteInACopyFailsIt) {
    for (const unsigned nth : {1u, 2u, 3u}) {
        SCOPED_TRACE(nth);
        auto source = OpenWaveData(Put("src.wav", MakeWav(Pattern(3 * 65536 + 10, 5))));
        auto dest = CreateWaveFile("E:\\dst.wav", 44100);
        ASSERT_TRUE(source && dest);
        FaultPlan full(platform::FileOp::Write, nth, ENOSPC);
        errno = 0;
        EXPECT_FALSE(CopyBlocks(*source, *dest, 3 * 65536 + 10, nullptr) && dest->Close());
        EXPECT_TRUE(full.Fired());
        EXPECT_EQ(errno, ENOSPC);
    }
}

TEST_F(WaveFileTest, ReaderGivesZerosBeyondTheDataChunkAndTheFile) {
    const std::string audio = Pattern(100, 6);
    // Announces 1000 bytes, holds 100, then the file ends.
    const std::string cut =
        Put("cut.wav", Riff(Chunk("fmt ", Fmt(1, 44100)) + "data" + U32(1000) + audio));
    EXPECT_EQ(ReadDataSize(cut), 1000u);
    EXPECT_EQ(ReadAll(cut), audio + std::string(900, '\0'));

    // A data chunk followed by another chunk: the reader stops at the chunk's end.
    const std::string path =
        Put("more.wav", Riff(Chunk("data", audio) + Chunk("LIST", Pattern(50, 7))));
    auto reader = OpenWaveData(path);
    ASSERT_TRUE(reader);
    reader->Skip(40);
    std::string buf(100, '\x55');
    EXPECT_EQ(reader->Read(buf.data(), 100), 60u);
    EXPECT_EQ(buf, audio.substr(40) + std::string(40, '\0'));
    reader->Skip(~std::uint64_t{0});
    EXPECT_EQ(reader->Read(buf.data(), 10), 0u);

    // Reads at an offset give the same bytes and leave the position alone.
    const struct {
        std::uint64_t at;
        std::size_t count, fromFile;
    } reads[] = {{0, 100, 100}, {30, 50, 50}, {90, 30, 10}, {100, 8, 0}, {~std::uint64_t{0}, 4, 0}};
    auto again = OpenWaveData(path);
    ASSERT_TRUE(again);
    for (const auto& r : reads) {
        std::string got(r.count, '\x55');
        EXPECT_EQ(again->ReadAt(r.at, got.data(), r.count), r.fromFile) << r.at;
        std::string want = r.fromFile ? audio.substr(r.at, r.fromFile) : std::string();
        EXPECT_EQ(got, want + std::string(r.count - r.fromFile, '\0')) << r.at;
        // The file was just written, so the system holds it: the read from memory alone gives
        // the same bytes where the system can tell (Linux), and says it can't elsewhere.
        std::string cached(r.count, '\x55');
        const bool held = again->ReadAtIfCached(r.at, cached.data(), r.count);
#ifdef __linux__
        ASSERT_TRUE(held) << r.at;
#endif
        if (held) {
            EXPECT_EQ(cached, got) << r.at;
        }
    }
    EXPECT_EQ(again->Read(buf.data(), 100), 100u);
    EXPECT_EQ(buf, audio);
}

TEST_F(WaveFileTest, FileWithoutRiffDataHasOnlyALength) {
    const std::string path = Put("notes.wav", "just some text, not audio");
    EXPECT_FALSE(ReadWaveFormat(path));
    EXPECT_FALSE(ReadDataSize(path));
    EXPECT_FALSE(OpenWaveData(path));
    EXPECT_EQ(FileLength(path), 25u);
    EXPECT_FALSE(FileLength("E:\\missing.wav"));
}

TEST_F(WaveFileTest, MalformedFilesFailCleanly) {
    struct Case {
        const char* what;
        std::string bytes;
        bool hasFmt, hasData;
    };
    const std::string fmt = Chunk("fmt ", Fmt(1, 44100));
    const std::vector<Case> cases = {
        {"empty", "", false, false},
        {"three bytes", "RIF", false, false},
        {"header cut", "RIFF" + U32(100) + "WA", false, false},
        {"not WAVE", "RIFF" + U32(4 + fmt.size()) + "AVI " + fmt + Chunk("data", "ab"), false,
         false},
        {"fmt past EOF", Riff("fmt " + U32(1000) + Fmt(1, 44100)) + Chunk("data", "ab"), false,
         false},
        {"no data", Riff(fmt + Chunk("LIST", "x")), true, false},
        {"huge chunk", Riff(fmt + "JUNK" + U32(0xFFFFFFFF) + Chunk("data", "ab")), true, false},
        {"chunk header cut", Riff(fmt + "dat"), true, false},
        {"zero-size chunks", Riff(Chunk("fmt ", "") + Chunk("data", "")), true, true},
        {"huge data", Riff(fmt + "data" + U32(0xFFFFFFFF) + "ab"), true, true},
        {"RIFF size too small", "RIFF" + U32(4) + "WAVE" + fmt + Chunk("data", "ab"), true, true},
    };
    const int before = OpenDescriptors();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Put("bad.wav", c.bytes);
        EXPECT_EQ(ReadWaveFormat(path).has_value(), c.hasFmt);
        EXPECT_EQ(ReadDataSize(path).has_value(), c.hasData);
        EXPECT_EQ(OpenWaveData(path) != nullptr, c.hasData);
        EXPECT_EQ(FileLength(path), c.bytes.size());
    }
    EXPECT_EQ(OpenDescriptors(), before);
}

// A reader that fails says why, naming the file as it was asked for.
TEST_F(WaveFileTest, FailuresTellTheFileAndTheReason) {
    const struct {
        const char* name;
        std::string bytes; // nothing written when empty
        std::string formatReason, dataReason;
    } cases[] = {
        {"missing.wav", "", "No such file or directory", "No such file or directory"},
        {"text.wav", "not audio", kReasonNotWave, kReasonNotWave},
        {"nodata.wav", Riff(Chunk("fmt ", Fmt(1, 44100))), "", kReasonNoAudio},
        {"nofmt.wav", Riff(Chunk("data", "ab")), kReasonNoFormat, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path =
            c.bytes.empty() ? std::string("E:\\") + c.name : Put(c.name, c.bytes);
        Failure why;
        EXPECT_EQ(ReadWaveFormat(path, &why).has_value(), c.formatReason.empty());
        EXPECT_EQ(why.file, c.formatReason.empty() ? "" : path);
        EXPECT_EQ(why.reason, c.formatReason);
        why = {};
        EXPECT_EQ(OpenWaveData(path, &why) != nullptr, c.dataReason.empty());
        EXPECT_EQ(why.reason, c.dataReason);
    }
}

// A write that fails keeps the system's reason for whoever reports it.
TEST_F(WaveFileTest, WriterKeepsTheReasonOfItsFirstFailure) {
    Failure why;
    {
        FailOn readOnly(platform::FileOp::Open, "out.wav", EACCES);
        EXPECT_EQ(CreateWaveFile("E:\\out.wav", 44100, &why), nullptr);
    }
    EXPECT_EQ(why.file, "E:\\out.wav");
    EXPECT_EQ(why.reason, "Permission denied");

    FaultPlan full(platform::FileOp::Write, 2, ENOSPC); // the header goes, the audio not
    auto writer = CreateWaveFile("E:\\out.wav", 44100);
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->Error(), 0);
    EXPECT_FALSE(writer->Write("abcd", 4));
    EXPECT_FALSE(writer->Close());
    EXPECT_EQ(writer->Error(), ENOSPC);
    EXPECT_EQ(SystemReason(writer->Error()), "No space left on device");
}

TEST_F(WaveFileTest, FindsChunksBeyondFourGigabytes) {
    // A sparse file: two 3 GB chunks, then "data" past the 4 GB mark.
    const std::uint32_t junk = 3000000000u;
    const std::uint64_t dataAt = 12 + 2 * (8 + std::uint64_t{junk});
    const auto file = tmp / "big.wav";
    WriteFile(file, "RIFF" + U32(0xFFFFFFFF) + "WAVE");
    std::filesystem::resize_file(file, dataAt);
    std::fstream f(file, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(12);
    f << "JUNK" << U32(junk);
    f.seekp(static_cast<std::streamoff>(12 + 8 + std::uint64_t{junk}));
    f << "JUNK" << U32(junk);
    f.seekp(0, std::ios::end);
    f << Chunk("data", "tail");
    f.close();

    EXPECT_EQ(FileLength("E:\\big.wav"), dataAt + 12);
    EXPECT_EQ(ReadDataSize("E:\\big.wav"), 4u);
    EXPECT_EQ(ReadAll("E:\\big.wav"), "tail");
}

TEST_F(WaveFileTest, CloseReportsAFailedWrite) {
#ifdef _WIN32
    GTEST_SKIP() << "a failing write is made with a POSIX file size limit";
#else
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 10000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    auto writer = CreateWaveFile("E:\\full.wav", 44100);
    const std::string audio = Pattern(20000, 8);
    const bool wrote = writer && writer->Write(audio.data(), audio.size());
    const bool closed = writer && writer->Close();

    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    ASSERT_TRUE(writer);
    EXPECT_FALSE(wrote);
    EXPECT_FALSE(closed);
#endif
}

} // namespace
