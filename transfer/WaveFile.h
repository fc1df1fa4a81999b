#pragma once
// RIFF WAVE files: reading the format and the data chunk of any file a card or a folder
// holds, and writing the program's own 46-byte-header mono 16-bit files.
// Operations that open a file take an optional Failure that they fill when they fail.
#include "platform/Platform.h"
#include "transfer/Failure.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace th {

// The data of the "fmt " chunk, zero-extended to 20 bytes.
struct WaveFormatRecord {
    std::uint16_t formatTag = 0;     // 1 = linear PCM
    std::uint16_t channels = 0;      // 1 = mono, 2 = stereo
    std::uint32_t samplesPerSec = 0; // Hz
    std::uint32_t avgBytesPerSec = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t extraSize = 0;
};

struct WaveFormatInfo {
    WaveFormatRecord format;
    std::uint32_t riffSize = 0; // size field of the "RIFF" chunk
};

// Block size of every audio copy.
constexpr std::uint32_t kCopyBlock = 65536;
// Bytes before the audio in every file the program writes.
constexpr std::uint32_t kWrittenHeaderBytes = 46;

// The system copies between files and memory at full speed only when both sides stand at the
// same place within a page (at the least within 64 bytes). Audio starts at byte 46 of the
// files the program writes and mostly at byte 44 of others, so copies read into memory
// aligned like the source and write from memory aligned like the destination, and the CPU's
// own copy, which does not care, moves the bytes between the two.
constexpr std::size_t kPageBytes = 4096;
// The address in [base, base + kPageBytes) at file offset `offset`'s place within a page.
unsigned char* AlignedLike(unsigned char* base, std::uint64_t offset);
// Whether a copy from file offset `from` to file offset `to` is aligned alike on both sides.
bool AlignedAlike(std::uint64_t from, std::uint64_t to);
// Copies memory in pieces small enough for the CPU's vector copy, whose speed does not depend
// on alignment (one large copy may use a string instruction that slows down tenfold when the
// two addresses are aligned differently).
void CopyUnaligned(unsigned char* to, const unsigned char* from, std::size_t count);

std::optional<WaveFormatInfo> ReadWaveFormat(const std::string& path, Failure* why = nullptr);
std::optional<std::uint32_t> ReadDataSize(const std::string& path);
// The data of the "fmt " chunk as it stands in the file, at most `maxBytes` of it (a
// WAVE_FORMAT_EXTENSIBLE record is 40 bytes).
std::optional<std::string> ReadFormatChunk(const std::string& path, std::size_t maxBytes,
                                           Failure* why = nullptr);
// Byte length of the whole file.
std::optional<std::uint64_t> FileLength(const std::string& path);

// What a copy does when the source holds fewer bytes than it is asked for.
enum class ShortSource {
    ReadsAsZero, // the missing bytes are written as silence
    Fails,       // the copy fails: nothing is invented
};

// A source positioned inside its "data" chunk. Reads never go past the chunk nor the file:
// what lies beyond reads as zero bytes.
class WaveReader {
public:
    ~WaveReader();
    WaveReader(const WaveReader&) = delete;
    WaveReader& operator=(const WaveReader&) = delete;

    std::uint32_t DataSize() const { return dataSize_; }
    // The file holds fewer audio bytes than its "data" chunk announces.
    bool Truncated() const { return available_ < dataSize_; }
    // File offset of the first audio byte.
    std::uint64_t DataStart() const { return dataStart_; }
    // Audio bytes the file held when it was opened.
    std::uint64_t Available() const { return available_; }
    // Moves forward by `bytes` from the current position (may go past the end).
    void Skip(std::uint64_t bytes);
    // Back to the first audio byte.
    void Rewind() { pos_ = 0; }
    // Fills `count` bytes; bytes past the data chunk or the file are zero. Returns the number
    // of bytes that came from the file.
    std::size_t Read(void* buffer, std::size_t count);
    // Fills `count` bytes from offset `at` of the data chunk in one read, without a seek where
    // the system allows it; the position is left alone. Bytes past the data chunk or the file
    // are zero. Returns the number of bytes that came from the file. Where the system allows it
    // (platform::kPositionalReads), several threads may call it at once.
    std::size_t ReadAt(std::uint64_t at, void* buffer, std::size_t count);
    // As ReadAt, but only where the system holds the bytes in memory already (false, and the
    // buffer's bytes undefined, where the read would wait for the medium or the system can't
    // tell).
    bool ReadAtIfCached(std::uint64_t at, void* buffer, std::size_t count);
    // ReadAtIfCached as one read of a batch (platform/BatchReads.h): the bytes past the data
    // are zeroed now and the read is of the rest (a count of 0: nothing left to read);
    // nullopt where the system can't read at offsets on several threads at once.
    std::optional<platform::CachedRead> CachedReadAt(std::uint64_t at, void* buffer,
                                                     std::size_t count);

private:
    friend std::unique_ptr<WaveReader> OpenWaveData(const std::string& path, Failure* why);
    friend bool CopyBlocks(WaveReader&, class WaveWriter&, std::uint32_t,
                           const std::function<bool(std::uint32_t)>&, ShortSource);
    WaveReader() = default;
    std::FILE* file_ = nullptr;
    std::uint64_t dataStart_ = 0; // file offset of the first audio byte
    std::uint32_t dataSize_ = 0;  // size field of the "data" chunk
    std::uint64_t available_ = 0; // audio bytes actually present in the file
    std::uint64_t pos_ = 0;       // offset into the data chunk
    // File offset the stream stands at, so that sequential reads need no seek.
    static constexpr std::uint64_t kUnknownPos = ~std::uint64_t{0};
    std::uint64_t filePos_ = kUnknownPos;
};

// nullptr when the file does not open or has no RIFF/WAVE "data" chunk.
std::unique_ptr<WaveReader> OpenWaveData(const std::string& path, Failure* why = nullptr);

// A file being written: header written, "data" chunk open.
class WaveWriter {
public:
    ~WaveWriter(); // closes without fixing sizes if Close was not called
    WaveWriter(const WaveWriter&) = delete;
    WaveWriter& operator=(const WaveWriter&) = delete;

    // Appends audio bytes, each call in one write to the system (the file is not buffered:
    // callers hand over large pieces); false when the write failed (disk full, card pulled) or the
    // audio would outgrow the 32-bit size fields. After a failure every further write is refused.
    bool Write(const void* data, std::size_t count);
    // Writes `count` audio bytes at offset `at` of the audio, in one positional write to the
    // system. Where platform::kPositionalReads holds, several threads may write different
    // ranges of one file at once. Written() is then the end of the furthest write; failures
    // are as for Write.
    bool WriteAt(std::uint64_t at, const void* data, std::size_t count);
    std::uint64_t Written() const { return written_; }
    // Tells the system how many audio bytes the file will hold, so that it can set the space
    // aside at once (a hint: nothing changes if it can't, and the writes still decide).
    void Reserve(std::uint64_t audioBytes);
    // The system's error number of the first failure (EFBIG for audio too long), 0 if none.
    int Error() const { return error_; }
    // Sets the "data" and "RIFF" sizes (pad byte when odd), flushes and closes; `writeBack`
    // also has the system start writing the file to the medium (platform::SyncPath waits for
    // it). False when any write, the flush or the close failed.
    bool Close(bool writeBack = false);

private:
    friend std::unique_ptr<WaveWriter> CreateWaveFile(const std::string& path,
                                                      std::uint32_t sampleRate, Failure* why);
    friend bool CopyBlocks(WaveReader&, WaveWriter&, std::uint32_t,
                           const std::function<bool(std::uint32_t)>&, ShortSource);
    WaveWriter() = default;
    std::FILE* file_ = nullptr;
    std::uint64_t written_ = 0;
    bool failed_ = false;
    int error_ = 0;
    std::mutex mutex_; // guards the three above during WriteAt
    void Fail(int error);
};

// Creates (or empties) `path` as a mono 16-bit file at `sampleRate`; nullptr on failure.
std::unique_ptr<WaveWriter> CreateWaveFile(const std::string& path, std::uint32_t sampleRate,
                                           Failure* why = nullptr);
// Closes the file, fixing its sizes (same as writer.Close(writeBack)).
bool CloseWaveFile(WaveWriter& writer, bool writeBack = false);

// Copies `count` bytes from `source` to `dest` in blocks of kCopyBlock: count / 65536 full
// blocks, then one last transfer of count % 65536 bytes (possibly zero). After each block
// `afterBlock(bytesMoved)` runs; it returns false to stop the copy. Returns false when the
// copy was stopped, a write failed, or (ShortSource::Fails) the source came up short.
bool CopyBlocks(WaveReader& source, WaveWriter& dest, std::uint32_t count,
                const std::function<bool(std::uint32_t)>& afterBlock,
                ShortSource shortSource = ShortSource::ReadsAsZero);

} // namespace th
