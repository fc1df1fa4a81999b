// File streams on POSIX: positional reads with pread(2), the kernel's copy_file_range(2) and
// the write-back and space hints of Linux.
#include "platform/Streams.h"

#include "platform/internal/Posix.h"
#include "platform/internal/Shared.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace platform {

using namespace detail;

std::FILE* OpenFile(const std::string& path, const char* mode) {
    const std::string native = Resolve(path).native;
    if (native.empty())
        return nullptr;
    // Only regular files: a folder would open for reading here, and a pipe would block.
    struct stat st;
    if (::stat(native.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        errno = EISDIR;
        return nullptr;
    }
    if (InjectedFault(FileOp::Open, path) != 0)
        return nullptr;
    std::FILE* f = std::fopen(native.c_str(), mode);
    RememberStream(f, path, mode);
    return f;
}

bool SyncFile(std::FILE* f) {
    if (!FlushFile(f))
        return false;
    if (InjectedFault(FileOp::Sync, f) != 0)
        return false;
    return ::fsync(::fileno(f)) == 0;
}

bool StartWriteBack(std::FILE* f) {
    if (!FlushFile(f))
        return false;
#ifdef __linux__
    // Only a hint: a failure to start shows when the file is synced.
    ::sync_file_range(::fileno(f), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    return true;
}

void ReserveSpace(std::FILE* f, std::uint64_t bytes) {
#ifdef __linux__
    // Not posix_fallocate: where the file system can't reserve, it would write zeros instead.
    const int error = errno;
    if (bytes > 0)
        ::fallocate(::fileno(f), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
    errno = error;
#else
    (void)f;
    (void)bytes;
#endif
}

bool SyncPath(const std::string& path) {
    if (InjectedFault(FileOp::Sync, path) != 0)
        return false;
    const std::string native = Resolve(path).native;
    const int fd = native.empty() ? -1 : ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return ok;
}

bool SyncDirectory(const std::string& path) {
    if (InjectedFault(FileOp::Sync, path) != 0)
        return false;
    const std::string native = Resolve(path).native;
    if (native.empty()) {
        errno = ENOENT;
        return false;
    }
    const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Some file systems can't sync a folder (EINVAL); their entries are then written with
    // the files' own syncs.
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    const int error = errno;
    ::close(fd);
    errno = error;
    return ok;
}

std::optional<std::size_t> CopyFileRange(std::FILE* from, std::uint64_t offset, std::FILE* to,
                                         std::size_t count) {
#if defined(__linux__)
    // Bytes still in the stream's buffer go first; if they can't, the file lacks them.
    if (!FlushFile(to))
        return std::nullopt;
    const int in = ::fileno(from);
    const int out = ::fileno(to);
    auto at = static_cast<off_t>(offset);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::copy_file_range(in, &at, out, nullptr, count - done, 0);
        if (n == 0)
            break; // the source ended: the caller goes on
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // The destination could not take the bytes: the copy fails. Anything else (not
            // supported across these files, a busy system) leaves the rest to the caller's
            // own copy, which sees any real failure itself.
            if (errno == ENOSPC || errno == EIO || errno == EFBIG || errno == EDQUOT)
                return std::nullopt;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    // The stream must know where the descriptor now stands before it writes again; if it
    // can't, its next write would land at a stale position.
    if (done > 0 && ::fseeko(to, 0, SEEK_END) != 0)
        return std::nullopt;
    return done;
#else
    (void)from, (void)offset, (void)to, (void)count;
    return 0;
#endif
}

std::size_t ReadFileAt(std::FILE* from, std::uint64_t offset, void* buffer, std::size_t count) {
    const int fd = ::fileno(from);
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count && offset <= static_cast<std::uint64_t>(INT64_MAX) - done) {
        const ssize_t n = ::pread(fd, out + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t WriteFileAt(std::FILE* to, std::uint64_t offset, const void* data, std::size_t count) {
    if (count == 0)
        return 0;
    if (detail::InjectedFault(FileOp::Write, to) != 0)
        return 0;
    const int fd = ::fileno(to);
    const auto* in = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < count) {
        if (offset > static_cast<std::uint64_t>(INT64_MAX) - done) {
            errno = EFBIG;
            break;
        }
        const ssize_t n = ::pwrite(fd, in + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        if (n == 0) {
            errno = ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::optional<std::size_t> ReadFileAtIfCached(std::FILE* from, std::uint64_t offset, void* buffer,
                                              std::size_t count) {
#if defined(__linux__) && defined(RWF_NOWAIT)
    if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
        InjectedFault(FileOp::CachedRead, from) != 0)
        return std::nullopt;
    iovec part{buffer, count};
    for (;;) {
        const ssize_t n =
            ::preadv2(::fileno(from), &part, 1, static_cast<off_t>(offset), RWF_NOWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        // EAGAIN: not all in memory; a short count: only some of it. Either way the caller
        // reads it the usual way.
        if (n < 0 || static_cast<std::size_t>(n) != count)
            return std::nullopt;
        return count;
    }
#else
    (void)from, (void)offset, (void)buffer, (void)count;
    return std::nullopt;
#endif
}

} // namespace platform
