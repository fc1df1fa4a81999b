#include "transfer/WaveFile.h"

#include "platform/Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace th {

namespace {

// Largest audio byte count whose "RIFF" size (38 + N + pad) still fits 32 bits.
constexpr std::uint64_t kMaxDataBytes = 0xFFFFFFFFu - 38u - 1u;
constexpr std::size_t kFormatBytes = 20;
constexpr std::size_t kHeaderBytes = kWrittenHeaderBytes;
// Whole blocks handed to the kernel in one go; the caller still hears of each block.
constexpr std::uint32_t kKernelRunBlocks = 16;

bool Seek(std::FILE* f, std::uint64_t offset, int whence) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return false;
#ifdef _WIN32
    return _fseeki64(f, static_cast<__int64>(offset), whence) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), whence) == 0;
#endif
}

std::optional<std::uint64_t> Tell(std::FILE* f) {
#ifdef _WIN32
    const __int64 pos = _ftelli64(f);
#else
    const off_t pos = ftello(f);
#endif
    if (pos < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(pos);
}

std::optional<std::uint64_t> LengthOf(std::FILE* f) {
    if (!Seek(f, 0, SEEK_END))
        return std::nullopt;
    return Tell(f);
}

std::uint16_t Le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void PutLe16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void PutLe32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool ReadExact(std::FILE* f, void* buffer, std::size_t count) {
    return std::fread(buffer, 1, count, f) == count;
}

bool WriteExact(std::FILE* f, const void* data, std::size_t count) {
    return platform::WriteFile(f, data, count) == count;
}

// Closes the file when the holder goes, so that every way out of a reader closes it.
struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f)
            std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A sub-chunk of the "RIFF" chunk, as found by FindChunk.
struct ChunkSpot {
    std::uint64_t dataStart = 0; // file offset of the chunk's first data byte
    std::uint32_t size = 0;      // the chunk's size field
    std::uint32_t riffSize = 0;  // the "RIFF" chunk's size field
    std::uint64_t fileLength = 0;
};

// Finds the "RIFF" chunk of form "WAVE" at the start of the file, then walks its sub-chunks
// until `id`. The walk is bounded by the real end of the file rather than the RIFF size, so
// a file whose RIFF size was never fixed up is still read. A chunk that would run past the
// end of the file ends the walk, except when it is the wanted "data" chunk: a recording cut
// short keeps the audio that is present.
std::optional<ChunkSpot> FindChunk(std::FILE* f, const char (&id)[5]) {
    ChunkSpot spot;
    const auto length = LengthOf(f);
    if (!length || !Seek(f, 0, SEEK_SET))
        return std::nullopt;
    spot.fileLength = *length;

    unsigned char head[12];
    if (spot.fileLength < sizeof head || !ReadExact(f, head, sizeof head))
        return std::nullopt;
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return std::nullopt;
    spot.riffSize = Le32(head + 4);

    const bool isData = std::memcmp(id, "data", 4) == 0;
    std::uint64_t pos = sizeof head;
    while (pos + 8 <= spot.fileLength) {
        unsigned char chunk[8];
        if (!Seek(f, pos, SEEK_SET) || !ReadExact(f, chunk, sizeof chunk))
            return std::nullopt;
        const std::uint32_t size = Le32(chunk + 4);
        const std::uint64_t dataStart = pos + 8;
        const bool fits = size <= spot.fileLength - dataStart;
        if (std::memcmp(chunk, id, 4) == 0 && (fits || isData)) {
            spot.dataStart = dataStart;
            spot.size = size;
            return spot;
        }
        if (!fits)
            return std::nullopt;
        pos = dataStart + size + (size & 1u);
    }
    return std::nullopt;
}

FilePtr OpenForReading(const std::string& path, Failure* why) {
    errno = 0;
    FilePtr f(platform::OpenFile(path, "rb"));
    if (!f && why)
        *why = {path, SystemReason(errno)};
    return f;
}

// Why FindChunk found no chunk `id`: the file is no RIFF WAVE file, or it lacks that chunk.
void ExplainMissingChunk(std::FILE* f, const std::string& path, const char (&id)[5], Failure* why) {
    if (!why)
        return;
    unsigned char head[12];
    const bool wave = Seek(f, 0, SEEK_SET) && ReadExact(f, head, sizeof head) &&
                      std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
    const bool data = std::memcmp(id, "data", 4) == 0;
    *why = {path, !wave ? kReasonNotWave : data ? kReasonNoAudio : kReasonNoFormat};
}

} // namespace

namespace {

// The first `maxBytes` bytes of the file's "fmt " chunk, with where the chunk was found; the
// file named with the reason when it has none or can't be read.
std::optional<std::pair<std::string, ChunkSpot>> ReadFmt(const std::string& path,
                                                         std::size_t maxBytes, Failure* why) {
    FilePtr f = OpenForReading(path, why);
    if (!f)
        return std::nullopt;
    const auto spot = FindChunk(f.get(), "fmt ");
    if (!spot) {
        ExplainMissingChunk(f.get(), path, "fmt ", why);
        return std::nullopt;
    }
    std::string record(std::min<std::size_t>(spot->size, maxBytes), '\0');
    if (!Seek(f.get(), spot->dataStart, SEEK_SET) ||
        !ReadExact(f.get(), record.data(), record.size())) {
        if (why)
            *why = {path, SystemReason(errno)};
        return std::nullopt;
    }
    return std::pair{std::move(record), *spot};
}

} // namespace

std::optional<WaveFormatInfo> ReadWaveFormat(const std::string& path, Failure* why) {
    const auto fmt = ReadFmt(path, kFormatBytes, why);
    if (!fmt)
        return std::nullopt;
    unsigned char record[kFormatBytes] = {};
    std::memcpy(record, fmt->first.data(), fmt->first.size());
    const ChunkSpot* spot = &fmt->second;

    WaveFormatInfo info;
    info.format.formatTag = Le16(record);
    info.format.channels = Le16(record + 2);
    info.format.samplesPerSec = Le32(record + 4);
    info.format.avgBytesPerSec = Le32(record + 8);
    info.format.blockAlign = Le16(record + 12);
    info.format.bitsPerSample = Le16(record + 14);
    info.format.extraSize = Le16(record + 16);
    info.riffSize = spot->riffSize;
    return info;
}

std::optional<std::string> ReadFormatChunk(const std::string& path, std::size_t maxBytes,
                                           Failure* why) {
    auto fmt = ReadFmt(path, maxBytes, why);
    if (!fmt)
        return std::nullopt;
    return std::move(fmt->first);
}

std::optional<std::uint32_t> ReadDataSize(const std::string& path) {
    FilePtr f = OpenForReading(path, nullptr);
    if (!f)
        return std::nullopt;
    const auto spot = FindChunk(f.get(), "data");
    if (!spot)
        return std::nullopt;
    return spot->size;
}

std::optional<std::uint64_t> FileLength(const std::string& path) {
    FilePtr f = OpenForReading(path, nullptr);
    if (!f)
        return std::nullopt;
    return LengthOf(f.get());
}

WaveReader::~WaveReader() {
    if (file_)
        std::fclose(file_);
}

void WaveReader::Skip(std::uint64_t bytes) {
    pos_ = bytes > std::numeric_limits<std::uint64_t>::max() - pos_
               ? std::numeric_limits<std::uint64_t>::max()
               : pos_ + bytes;
}

std::size_t WaveReader::Read(void* buffer, std::size_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t got = 0;
    if (pos_ < available_) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(count, available_ - pos_));
        const std::uint64_t at = dataStart_ + pos_;
        if (filePos_ == at || Seek(file_, at, SEEK_SET)) {
            got = std::fread(out, 1, want, file_);
            filePos_ = at + got;
            if (got < want) {
                // The file shrank under us: what is missing reads as zero.
                std::clearerr(file_);
                filePos_ = kUnknownPos;
            }
        } else {
            filePos_ = kUnknownPos;
        }
    }
    std::memset(out + got, 0, count - got);
    Skip(count);
    return got;
}

std::size_t WaveReader::ReadAt(std::uint64_t at, void* buffer, std::size_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t want = 0;
    if (at < available_)
        want = static_cast<std::size_t>(std::min<std::uint64_t>(count, available_ - at));
    // Where the system has no positional read the stream will have moved. Elsewhere nothing of
    // the reader changes, so that reads at offsets may run on several threads at once.
    if (!platform::kPositionalReads && want > 0)
        filePos_ = kUnknownPos;
    const std::size_t got = want > 0 ? platform::ReadFileAt(file_, dataStart_ + at, out, want) : 0;
    std::memset(out + got, 0, count - got);
    return got;
}

bool WaveReader::ReadAtIfCached(std::uint64_t at, void* buffer, std::size_t count) {
    if (!platform::kPositionalReads)
        return false;
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t want = 0;
    if (at < available_)
        want = static_cast<std::size_t>(std::min<std::uint64_t>(count, available_ - at));
    if (want > 0 && !platform::ReadFileAtIfCached(file_, dataStart_ + at, out, want))
        return false;
    std::memset(out + want, 0, count - want);
    return true;
}

std::optional<platform::CachedRead> WaveReader::CachedReadAt(std::uint64_t at, void* buffer,
                                                             std::size_t count) {
    if (!platform::kPositionalReads)
        return std::nullopt;
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t want = 0;
    if (at < available_)
        want = static_cast<std::size_t>(std::min<std::uint64_t>(count, available_ - at));
    std::memset(out + want, 0, count - want);
    platform::CachedRead read;
    read.from = file_;
    read.offset = dataStart_ + at;
    read.buffer = out;
    read.count = want;
    read.done = want == 0;
    return read;
}

std::unique_ptr<WaveReader> OpenWaveData(const std::string& path, Failure* why) {
    FilePtr f = OpenForReading(path, why);
    if (!f)
        return nullptr;
    const auto spot = FindChunk(f.get(), "data");
    if (!spot) {
        ExplainMissingChunk(f.get(), path, "data", why);
        return nullptr;
    }

    std::unique_ptr<WaveReader> reader(new WaveReader());
    reader->dataStart_ = spot->dataStart;
    reader->dataSize_ = spot->size;
    reader->available_ = std::min<std::uint64_t>(spot->size, spot->fileLength - spot->dataStart);
    reader->pos_ = 0;
    reader->filePos_ = WaveReader::kUnknownPos;
    reader->file_ = f.release();
    return reader;
}

WaveWriter::~WaveWriter() {
    if (file_)
        platform::CloseFile(file_);
}

bool WaveWriter::Write(const void* data, std::size_t count) {
    if (!file_ || failed_)
        return false;
    if (count == 0)
        return true;
    if (count > kMaxDataBytes - written_) {
        // The sizes of a larger file would not fit the header's 32-bit fields.
        Fail(EFBIG);
        return false;
    }
    errno = 0;
    const std::size_t done = platform::WriteFile(file_, data, count);
    written_ += done;
    if (done != count) {
        Fail(errno);
        return false;
    }
    return true;
}

bool WaveWriter::WriteAt(std::uint64_t at, const void* data, std::size_t count) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!file_ || failed_)
            return false;
        if (count == 0)
            return true;
        if (at > kMaxDataBytes || count > kMaxDataBytes - at) {
            // The sizes of a larger file would not fit the header's 32-bit fields.
            Fail(EFBIG);
            return false;
        }
    }
    errno = 0;
    const std::size_t done = platform::WriteFileAt(file_, kHeaderBytes + at, data, count);
    const int error = errno;
    std::lock_guard<std::mutex> lock(mutex_);
    written_ = std::max(written_, at + done);
    if (done != count) {
        Fail(error);
        return false;
    }
    return !failed_;
}

void WaveWriter::Reserve(std::uint64_t audioBytes) {
    if (file_ && !failed_)
        platform::ReserveSpace(file_, kWrittenHeaderBytes + audioBytes + (audioBytes & 1u));
}

void WaveWriter::Fail(int error) {
    failed_ = true;
    if (error_ == 0)
        error_ = error != 0 ? error : EIO;
}

bool WaveWriter::Close(bool writeBack) {
    if (!file_)
        return !failed_;
    bool ok = !failed_;
    std::FILE* f = file_;
    file_ = nullptr;

    // The sizes are fixed even after a failed write, so that what did reach the file is
    // described correctly.
    std::clearerr(f);
    errno = 0;
    const auto dataSize = static_cast<std::uint32_t>(written_);
    const std::uint32_t pad = dataSize & 1u;
    if (pad) {
        // After positional writes the stream does not stand at the end.
        const unsigned char zero = 0;
        ok = Seek(f, kHeaderBytes + std::uint64_t{dataSize}, SEEK_SET) && WriteExact(f, &zero, 1) &&
             ok;
    }
    unsigned char field[4];
    PutLe32(field, 38u + dataSize + pad);
    ok = Seek(f, 4, SEEK_SET) && WriteExact(f, field, 4) && ok;
    PutLe32(field, dataSize);
    ok = Seek(f, 42, SEEK_SET) && WriteExact(f, field, 4) && ok;
    ok = (writeBack ? platform::StartWriteBack(f) : platform::FlushFile(f)) && ok;
    ok = platform::CloseFile(f) && ok;
    if (!ok)
        Fail(errno);
    return ok;
}

std::unique_ptr<WaveWriter> CreateWaveFile(const std::string& path, std::uint32_t sampleRate,
                                           Failure* why) {
    errno = 0;
    std::FILE* f = platform::OpenFile(path, "wb");
    if (!f) {
        if (why)
            *why = {path, SystemReason(errno)};
        return nullptr;
    }
    // Every write goes straight to the file: the audio comes in blocks of 64 KiB or more
    // (the renderer gathers short segments and silences itself), so a stream buffer would only
    // copy it once more.
    std::setvbuf(f, nullptr, _IONBF, 0);

    // A valid empty file until Close sets the sizes.
    unsigned char header[kHeaderBytes];
    std::memcpy(header, "RIFF", 4);
    PutLe32(header + 4, 38);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    PutLe32(header + 16, 18);
    const std::uint16_t channels = 1;
    const std::uint16_t bits = 16;
    const auto align = static_cast<std::uint16_t>(channels * bits / 8);
    PutLe16(header + 20, 1);
    PutLe16(header + 22, channels);
    PutLe32(header + 24, sampleRate);
    PutLe32(header + 28, align * sampleRate);
    PutLe16(header + 32, align);
    PutLe16(header + 34, bits);
    PutLe16(header + 36, 0);
    std::memcpy(header + 38, "data", 4);
    PutLe32(header + 42, 0);

    if (!WriteExact(f, header, sizeof header)) {
        if (why)
            *why = {path, SystemReason(errno)};
        // Nothing usable was written; the emptied file is removed rather than left behind.
        platform::CloseFile(f);
        platform::DeleteFile(path);
        return nullptr;
    }
    std::unique_ptr<WaveWriter> writer(new WaveWriter());
    writer->file_ = f;
    return writer;
}

bool CloseWaveFile(WaveWriter& writer, bool writeBack) {
    return writer.Close(writeBack);
}

unsigned char* AlignedLike(unsigned char* base, std::uint64_t offset) {
    const auto at = reinterpret_cast<std::uintptr_t>(base);
    return base + ((static_cast<std::uintptr_t>(offset) - at) & (kPageBytes - 1));
}

bool AlignedAlike(std::uint64_t from, std::uint64_t to) {
    return from % 64 == to % 64;
}

void CopyUnaligned(unsigned char* to, const unsigned char* from, std::size_t count) {
    constexpr std::size_t kPiece = 1024;
    while (count > 0) {
        const std::size_t part = std::min(count, kPiece);
        // The library's memmove: a compiler expands a memcpy of bounded size inline, as the
        // very string instruction this avoids.
        std::memmove(to, from, part);
        to += part;
        from += part;
        count -= part;
    }
}

bool CopyBlocks(WaveReader& source, WaveWriter& dest, std::uint32_t count,
                const std::function<bool(std::uint32_t)>& afterBlock, ShortSource shortSource) {
    // Allocated when a block needs them: one aligned like the source, one like the output.
    std::unique_ptr<unsigned char[]> readMemory;
    std::unique_ptr<unsigned char[]> writeMemory;
    constexpr std::size_t kRunBytes = std::size_t{kKernelRunBlocks} * kCopyBlock;
    const std::uint32_t fullBlocks = count / kCopyBlock;
    for (std::uint32_t i = 0; i <= fullBlocks;) {
        // Several whole blocks at a time, or the last, possibly empty, transfer.
        const std::uint32_t blocks =
            i < fullBlocks ? std::min(fullBlocks - i, kKernelRunBlocks) : 1;
        const std::size_t bytes =
            i < fullBlocks ? std::size_t{blocks} * kCopyBlock : count % kCopyBlock;
        // What the source file holds moves inside the kernel where the system allows it and
        // both sides are aligned alike, which spares two copies through user memory; the rest
        // goes through memory.
        std::size_t done = 0;
        if (dest.file_ && !dest.failed_ && source.pos_ < source.available_ &&
            bytes <= kMaxDataBytes - dest.written_ &&
            AlignedAlike(source.dataStart_ + source.pos_, kHeaderBytes + dest.written_)) {
            const auto present = static_cast<std::size_t>(
                std::min<std::uint64_t>(bytes, source.available_ - source.pos_));
            const std::optional<std::size_t> copied = platform::CopyFileRange(
                source.file_, source.dataStart_ + source.pos_, dest.file_, present);
            if (!copied) {
                dest.Fail(errno);
                return false;
            }
            done = *copied;
            source.Skip(done);
            dest.written_ += done;
        }
        if (done < bytes && !readMemory) {
            readMemory = std::make_unique_for_overwrite<unsigned char[]>(kRunBytes + kPageBytes);
            writeMemory = std::make_unique_for_overwrite<unsigned char[]>(kRunBytes + kPageBytes);
        }
        if (done < bytes) {
            const std::size_t part = bytes - done;
            unsigned char* in = AlignedLike(readMemory.get(), source.dataStart_ + source.pos_);
            unsigned char* out = AlignedLike(writeMemory.get(), kHeaderBytes + dest.written_);
            // A source that holds less than it did when it was opened shrank under the copy.
            if (source.ReadAt(source.pos_, in, part) < part && shortSource == ShortSource::Fails)
                return false;
            source.Skip(part);
            CopyUnaligned(out, in, part);
            if (!dest.Write(out, part))
                return false;
        }
        for (std::uint32_t b = 0; b < blocks; ++b) {
            const auto moved = static_cast<std::uint32_t>(i < fullBlocks ? kCopyBlock : bytes);
            if (afterBlock && !afterBlock(moved))
                return false;
        }
        i += blocks;
    }
    return true;
}

} // namespace th
