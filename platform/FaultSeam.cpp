// The fault hook and the paths of the streams it is asked about.
#include "platform/FaultSeam.h"

#include "platform/internal/Shared.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

namespace platform {

namespace {

// The installed fault hook; `hooked` spares the lock on every write while none is installed.
struct FaultState {
    std::mutex mutex;
    FaultHook hook;
    std::map<const std::FILE*, std::string> writePaths; // streams opened for writing
    std::atomic<bool> hooked{false};
};

FaultState& Faults() {
    static FaultState state;
    return state;
}

bool IsWriteMode(const char* mode) {
    return std::strpbrk(mode, "wa+") != nullptr;
}

} // namespace

void SetFaultHook(FaultHook hook) {
    FaultState& s = Faults();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.hooked.store(static_cast<bool>(hook), std::memory_order_release);
    s.hook = std::move(hook);
    s.writePaths.clear();
}

namespace detail {

int InjectedFault(FileOp op, const std::string& path) {
    FaultState& s = Faults();
    if (!s.hooked.load(std::memory_order_acquire))
        return 0;
    std::lock_guard<std::mutex> lock(s.mutex);
    const int error = s.hook ? s.hook(op, path) : 0;
    if (error != 0)
        errno = error;
    return error;
}

int InjectedFault(FileOp op, const std::FILE* f) {
    FaultState& s = Faults();
    if (!s.hooked.load(std::memory_order_acquire))
        return 0;
    std::string path;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        auto it = s.writePaths.find(f);
        if (it != s.writePaths.end())
            path = it->second;
    }
    return InjectedFault(op, path);
}

void RememberStream(const std::FILE* f, const std::string& path, const char* mode) {
    FaultState& s = Faults();
    if (!f || !IsWriteMode(mode) || !s.hooked.load(std::memory_order_acquire))
        return;
    std::lock_guard<std::mutex> lock(s.mutex);
    s.writePaths[f] = path;
}

void ForgetStream(const std::FILE* f) {
    FaultState& s = Faults();
    if (!s.hooked.load(std::memory_order_acquire))
        return;
    std::lock_guard<std::mutex> lock(s.mutex);
    s.writePaths.erase(f);
}

} // namespace detail

} // namespace platform
