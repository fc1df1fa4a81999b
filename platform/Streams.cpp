// The parts of file streams that are the same on every system: writes, flushes and closes
// through the fault seam, and batches of reads.
#include "platform/Streams.h"

#include "platform/internal/Shared.h"

#include <cerrno>

namespace platform {

using detail::InjectedFault;

std::size_t WriteFile(std::FILE* f, const void* data, std::size_t count) {
    if (count == 0)
        return 0;
    if (InjectedFault(FileOp::Write, f) != 0)
        return 0;
    return std::fwrite(data, 1, count, f);
}

bool FlushFile(std::FILE* f) {
    if (InjectedFault(FileOp::Write, f) != 0)
        return false;
    return std::fflush(f) == 0;
}

bool CloseFile(std::FILE* f) {
    if (!f)
        return false;
    const int injected = InjectedFault(FileOp::Close, f);
    detail::ForgetStream(f);
    const bool closed = std::fclose(f) == 0;
    if (injected != 0) {
        errno = injected;
        return false;
    }
    return closed;
}

} // namespace platform
