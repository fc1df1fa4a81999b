// File streams on Windows: the C library's streams, with the system's own calls for syncs
// and space reservations.
#include "platform/internal/Win32.h"

#include "platform/Streams.h"
#include "platform/internal/Shared.h"

#include <io.h>

#include <cerrno>
#include <cstdint>

namespace platform {

using namespace detail;

// No in-kernel copy here: the caller copies through its own buffer.
std::optional<std::size_t> CopyFileRange(std::FILE*, std::uint64_t, std::FILE*, std::size_t) {
    return 0;
}

std::size_t ReadFileAt(std::FILE* from, std::uint64_t offset, void* buffer, std::size_t count) {
    if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
        _fseeki64(from, static_cast<__int64>(offset), SEEK_SET) != 0)
        return 0;
    return std::fread(buffer, 1, count, from);
}

std::size_t WriteFileAt(std::FILE* to, std::uint64_t offset, const void* data, std::size_t count) {
    if (count == 0)
        return 0;
    if (InjectedFault(FileOp::Write, to) != 0)
        return 0;
    if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
        _fseeki64(to, static_cast<__int64>(offset), SEEK_SET) != 0)
        return 0;
    return std::fwrite(data, 1, count, to);
}

std::optional<std::size_t> ReadFileAtIfCached(std::FILE*, std::uint64_t, void*, std::size_t) {
    return std::nullopt;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    const std::wstring native = WideNative(path);
    if (native.empty())
        return nullptr;
    const DWORD a = Attributes(native);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    if (InjectedFault(FileOp::Open, path) != 0)
        return nullptr;
    std::FILE* f = ::_wfopen(native.c_str(), Wide(mode).c_str());
    RememberStream(f, path, mode);
    return f;
}

bool SyncFile(std::FILE* f) {
    if (!FlushFile(f))
        return false;
    if (InjectedFault(FileOp::Sync, f) != 0)
        return false;
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(f)));
    if (handle == INVALID_HANDLE_VALUE || !::FlushFileBuffers(handle)) {
        errno = EIO;
        return false;
    }
    return true;
}

bool StartWriteBack(std::FILE* f) {
    return FlushFile(f);
}

void ReserveSpace(std::FILE* f, std::uint64_t bytes) {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(f)));
    if (handle == INVALID_HANDLE_VALUE || bytes == 0)
        return;
    FILE_ALLOCATION_INFO info{};
    info.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes);
    const DWORD error = ::GetLastError();
    ::SetFileInformationByHandle(handle, FileAllocationInfo, &info, sizeof info);
    ::SetLastError(error);
}

bool SyncPath(const std::string& path) {
    if (InjectedFault(FileOp::Sync, path) != 0)
        return false;
    const std::wstring native = WideNative(path);
    const HANDLE h = native.empty() ? INVALID_HANDLE_VALUE
                                    : ::CreateFileW(native.c_str(), GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        errno = EIO;
        return false;
    }
    const bool ok = ::FlushFileBuffers(h) != 0;
    ::CloseHandle(h);
    if (!ok)
        errno = EIO;
    return ok;
}

// A folder's entries reach the medium with the files' own flushes here.
bool SyncDirectory(const std::string& path) {
    return InjectedFault(FileOp::Sync, path) == 0;
}

} // namespace platform
