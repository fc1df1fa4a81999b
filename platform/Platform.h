#pragma once
// The operating system's services that the program needs, behind one small interface.
// Paths above this layer stay in drive-letter form ("E:\\Song\\Song.ADL", no trailing
// backslash on folders); only this layer translates them to native paths.
// On POSIX a volume table maps drive letters to mount points, and names are found without
// regard to ASCII letter case, as on the recorder's own file system.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
// <windows.h> defines these names as macros for its ANSI and wide variants; this layer's own
// functions carry the same names. Include <windows.h> before this header, never after it.
#undef CreateDirectory
#undef DeleteFile
#undef GetDriveType
#undef GetFileAttributes
#endif

namespace platform {

// File attribute bits, as the recorder's file system and Windows define them.
enum Attribute : std::uint32_t {
    AttrReadOnly = 0x01,
    AttrHidden = 0x02,
    AttrSystem = 0x04,
    AttrVolumeLabel = 0x08,
    AttrDirectory = 0x10,
    AttrArchive = 0x20,
    AttrNormal = 0x80,
};
constexpr std::uint32_t kAttrMaskAll = 63; // every kind of entry

enum class DriveType { Unknown, NoRootDir, Removable, Fixed, Remote, CdRom, RamDisk };

struct DirEntry {
    std::string name;         // as the file system gives it
    std::uint32_t attributes; // Attribute bits
};

// --- Volumes -------------------------------------------------------------------------------

// Root strings of every logical drive ("C:\\", "E:\\"), in letter order.
std::vector<std::string> LogicalDriveStrings();
// Type of the drive whose root path ("E:\\") is given.
DriveType GetDriveType(const std::string& rootPath);
// The device drive test: removable, and the root is not "A:\\".
bool IsDeviceDrive(const std::string& rootPath);
// Reads the system's volumes again, so media mounted or removed since show up or go.
void RescanVolumes();
// Bytes available to the caller on the volume holding `path` ("E:" or any path on it).
// nullopt when the volume can't be asked (errno tells why) or reports no size at all (errno 0).
std::optional<std::uint64_t> FreeBytesAvailable(const std::string& path);
// Allocation unit (cluster) of that volume in bytes: every file takes a whole number of them.
// Where the system reports less than the cluster, a figure no smaller than it.
std::optional<std::uint64_t> AllocationUnit(const std::string& path);
// Presents a native folder as a removable drive ("E:" -> "/media/card-copy"). Replaces an
// earlier mapping of the same letter.
void MapDrive(const std::string& drive, const std::string& nativeRoot);
void UnmapDrive(const std::string& drive);
// The native root of a drive text ("E:" or "E:\\"), empty when the letter is unknown.
std::string DriveNativeRoot(const std::string& drive);

// Critical-error pop-ups off for the guard's lifetime (no-op on POSIX).
class ErrorModeGuard {
public:
    ErrorModeGuard();
    ~ErrorModeGuard();
    ErrorModeGuard(const ErrorModeGuard&) = delete;
    ErrorModeGuard& operator=(const ErrorModeGuard&) = delete;

private:
    unsigned previous_ = 0;
};

// --- Paths and files -----------------------------------------------------------------------

// Native path of a drive-letter path; components that do not exist as written are matched
// against the folder's entries ignoring ASCII case. Components that match nothing stay as
// written, so a file that is created gets exactly the name asked for. Empty when the drive
// letter is unknown.
std::string NativePath(const std::string& path);
// A path as a person using this system reads it in a message: the drive-letter form on
// Windows (the folder's path on a folder mapped as a drive, whose letter the person never
// saw), the native path elsewhere (the text unchanged when its drive is unknown).
std::string DisplayPath(const std::string& path);

// Entries of `pattern` (a folder + "\\*.*"; "*" and "?" match ignoring case), "." and ".."
// included and first, the others in the file system's order. Empty when the folder can't be
// read.
std::vector<DirEntry> ListDirectory(const std::string& pattern);

// True at the first subfolder of `path` (hidden ones count), without looking at every file.
bool HasSubdirectory(const std::string& path);

bool FileExists(const std::string& path);      // exists and is not a directory
bool DirectoryExists(const std::string& path); // exists and is a directory
// The size in bytes of a file; nullopt when there is no such file.
std::optional<std::uint64_t> FileSize(const std::string& path);
// Attribute bits of a file or folder; nullopt when it does not exist.
std::optional<std::uint32_t> GetFileAttributes(const std::string& path);
// The read-only attribute; on POSIX a missing write permission for the file's owner (whoever
// runs the program, root included).
bool IsReadOnly(const std::string& path);
// Clears read-only (makes the file writable for its owner).
bool SetFileAttributesNormal(const std::string& path);
// Deletes a file; a read-only file or a folder is left alone (false).
bool DeleteFile(const std::string& path);
// Renames `from` to `to`; an existing `to` is replaced, also when its name differs in letter
// case (the file then takes the name `to` gives). A read-only `to` is not replaced (false).
bool RenameFile(const std::string& from, const std::string& to);
bool CreateDirectory(const std::string& path);

// Opens a file with an fopen mode ("rb", "wb", "r+b", ...). nullptr on failure and for
// anything that exists but is not a file (a folder, a device). A file opened for writing is
// closed with CloseFile.
std::FILE* OpenFile(const std::string& path, const char* mode);

// The program writes, flushes, syncs and closes the files it creates through these, so that
// every failure is seen (and tests can cause one). On failure they return false (WriteFile a
// short count) with errno telling why.
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
// Whether ReadFileAt leaves the stream alone, and so may run on several threads at once for
// one stream.
#ifdef _WIN32
inline constexpr bool kPositionalReads = false;
#else
inline constexpr bool kPositionalReads = true;
#endif

// One read of a batch: up to `count` bytes of `from` at file offset `offset` into `buffer`.
// `done` tells how many came: fewer at the end of the file or on an error.
struct ReadRequest {
    std::FILE* from = nullptr;
    std::uint64_t offset = 0;
    void* buffer = nullptr;
    std::size_t count = 0;
    std::size_t done = 0;
};

// Reads many pieces at file offsets with few requests to the system. Where the system takes a
// whole batch in one request (Linux), a batch costs one system call instead of one for each
// piece, which on a virtual machine costs more than copying a short piece; elsewhere, or where
// that is not allowed (a container may forbid it), each piece is one ReadFileAt. Not to be
// shared between threads: each keeps its own.
class BatchReader {
public:
    BatchReader();
    ~BatchReader();
    BatchReader(const BatchReader&) = delete;
    BatchReader& operator=(const BatchReader&) = delete;

    // Reads every request and sets its `done`.
    void ReadAll(ReadRequest* requests, std::size_t count);

private:
    struct Ring;
    std::unique_ptr<Ring> ring_;
    bool tried_ = false; // whether the ring was asked for
};

// Memory touched for the first time costs a fault per page (on a virtual machine, several
// microseconds each). PrepareMemory asks the system to back [p, p + bytes) at once, in one call
// (Linux; elsewhere nothing happens), which halves that cost; WarmMemory also reads a byte of
// every page, so that on a helper thread it takes the whole cost off the thread that will use
// the memory. Neither changes what the memory holds.
inline constexpr std::size_t kMemoryPageBytes = 4096;
void PrepareMemory(void* p, std::size_t bytes);
void WarmMemory(void* p, std::size_t bytes);

// Has the memory allocator keep what is freed for the next allocations instead of giving it
// back to the system at once: a transfer frees the edit list it has read just before it takes
// its copy buffers, and memory the system hands out afresh costs a fault per page. Where the
// system has large pages, the heap the program goes on to use is backed by them: a fault then
// brings 2 MiB instead of 4 KiB. Called once, first thing in main.
void KeepFreedMemory();

// Called first by a helper thread: the signals that ask the program to stop (Ctrl+C, SIGTERM)
// are left to the main thread, whose handlers expect them.
void QuietThread();

// How many processors this process may run on (its affinity), at least 1.
unsigned UsableProcessors();

// Tells the processor that the calling thread is waiting in a loop for another one (x86
// "pause"), so that the loop costs less and leaves the core to a sibling thread.
inline void PauseInLoop() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    __asm__ __volatile__("yield");
#endif
}

// --- Fault injection (tests) ---------------------------------------------------------------

// The file operations a test can make fail. Open covers OpenFile; Write covers WriteFile,
// FlushFile and the kernel copy; Sync covers SyncFile, SyncPath and SyncDirectory; Rename
// RenameFile; Close CloseFile.
enum class FileOp { Open, Write, Sync, Rename, Close };
// Asked before each such operation with the path as the caller named it (for a stream, the
// path it was opened with; empty for a stream not opened for writing). Returns 0 to let the
// operation run, or an errno value (ENOSPC, EIO, ...) to make it fail with that reason
// without touching the file; a failed close still releases the stream.
using FaultHook = std::function<int(FileOp op, const std::string& path)>;
// Installs the hook for the whole process; an empty hook removes it. The program never
// installs one. tests/support/FaultInjection.h fails the N-th operation of a kind.
void SetFaultHook(FaultHook hook);

// The whole content of a file; nullopt when it can't be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Splits text into lines: a line ends at CR LF, a lone CR or a lone LF; the end of the text
// ends the last line (so a final line end leaves no empty last line); a zero byte ends the
// text. Bytes are kept as they are.
std::vector<std::string> SplitLines(const std::string& text);

// Loads a text file as lines (SplitLines). Throws std::runtime_error naming the file when it
// can't be opened.
std::vector<std::string> LoadLines(const std::string& path);

// A text's lines by SplitLines's rules, as views into the text, which the object keeps: a long
// list is read without a string per line.
class TextLines {
public:
    TextLines() = default;
    explicit TextLines(std::string text);
    TextLines(TextLines&&) = default;
    TextLines& operator=(TextLines&&) = default;
    TextLines(const TextLines&) = delete;
    TextLines& operator=(const TextLines&) = delete;

    std::size_t size() const { return lines_.size(); }
    bool empty() const { return lines_.empty(); }
    std::string_view operator[](std::size_t i) const { return lines_[i]; }
    std::string_view back() const { return lines_.back(); }

private:
    std::unique_ptr<std::string> text_; // on the heap, so that a move leaves the views valid
    std::vector<std::string_view> lines_;
};

// Loads a text file as TextLines; throws as LoadLines does.
TextLines LoadTextLines(const std::string& path);

// Calls `take` with each line of a text file (SplitLines's rules), reading the file in pieces
// of kLinePieceBytes, so that a long file is never held whole. Throws as LoadLines does, also
// when the file can't be read to its end (after the lines read so far were taken).
inline constexpr std::size_t kLinePieceBytes = 65536;
void ForEachLineOfFile(const std::string& path, const std::function<void(std::string_view)>& take);

// Text inside the program is UTF-8 on every system. These convert at the standard library's
// path type, which on Windows would otherwise read a narrow text in the ANSI code page.
inline std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Folder of the running executable, in drive-letter form, no trailing backslash.
std::string ProgramFolder();
// A native path turned into drive-letter form (the longest matching drive root wins);
// empty when no drive holds it.
std::string ToDrivePath(const std::string& nativePath);

} // namespace platform
