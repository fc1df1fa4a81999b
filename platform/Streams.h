#pragma once
// The program's file streams: opening, writing, copying, reading at offsets, syncing and
// closing. Every write, flush, sync and close of a file the program creates goes through
// here, so that every failure is seen (and tests can cause one, FaultSeam.h).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace platform {

// Opens a file with an fopen mode ("rb", "wb", "r+b", ...). nullptr on failure and for
// anything that exists but is not a file (a folder, a device). A file opened for writing is
// closed with CloseFile.
std::FILE* OpenFile(const std::string& path, const char* mode);

// On failure these return false (WriteFile a short count) with errno telling why.
std::size_t WriteFile(std::FILE* f, const void* data, std::size_t count); // fwrite
bool FlushFile(std::FILE* f);                                             // fflush
// Flushes the stream and waits until the file's data is on the medium (fsync,
// FlushFileBuffers).
bool SyncFile(std::FILE* f);
// Flushes the stream and asks the system to start writing the file to the medium now,
// without waiting (so that the medium works while the program goes on); SyncPath waits.
bool StartWriteBack(std::FILE* f);
// Asks the system to set aside `bytes` for the file now, in as few pieces as it can, without
// changing the file's length. Only a hint: writing a file whose final size is known then costs
// no space bookkeeping per block; nothing happens where the system can't do it, and a write
// that finds no space still fails as it would have.
void ReserveSpace(std::FILE* f, std::uint64_t bytes);
// Waits until the data of a closed file is on the medium.
bool SyncPath(const std::string& path);
// Waits until a folder's entries (new names, renames) are on the medium; true where the
// system has no such step.
bool SyncDirectory(const std::string& path);
// Closes the stream, also when it reports failure (buffered data that could not be written).
bool CloseFile(std::FILE* f);

// Copies `count` bytes from `from` at file offset `offset` to the end of `to` inside the
// kernel, where the system can. Returns the bytes copied: fewer than `count` (even 0) means
// the caller copies the rest itself; nullopt means writing `to` failed (errno tells why) and
// the copy must fail. `from`'s stream position is left alone; `to` is left positioned at its
// end.
std::optional<std::size_t> CopyFileRange(std::FILE* from, std::uint64_t offset, std::FILE* to,
                                         std::size_t count);
// Reads up to `count` bytes of `from` at file offset `offset` in one request to the system,
// without a seek where the system allows it (elsewhere the stream is moved). Returns the bytes
// read: fewer than `count` at the end of the file or on an error.
std::size_t ReadFileAt(std::FILE* from, std::uint64_t offset, void* buffer, std::size_t count);
// Writes `count` bytes to `to` at file offset `offset`, without a seek where the system allows
// it (elsewhere the stream is moved). Returns the bytes written: fewer than `count` on a
// failure, with errno telling why. The stream must be unbuffered.
std::size_t WriteFileAt(std::FILE* to, std::uint64_t offset, const void* data, std::size_t count);
// As ReadFileAt, but only where the system holds all `count` bytes in memory already: nullopt
// where the read would have to wait for the medium, and where the system can't tell.
std::optional<std::size_t> ReadFileAtIfCached(std::FILE* from, std::uint64_t offset, void* buffer,
                                              std::size_t count);
// Whether ReadFileAt and WriteFileAt leave the stream alone, and so may run on several
// threads at once for one stream.
#ifdef _WIN32
inline constexpr bool kPositionalReads = false;
#else
inline constexpr bool kPositionalReads = true;
#endif

} // namespace platform
