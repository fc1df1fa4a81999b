// Memory and thread hints; small enough that both systems share one file.
#include "platform/MemoryAndThreads.h"

#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <csignal>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#ifdef __linux__
#include <sys/mman.h>
#endif
#endif

namespace platform {

void PrepareMemory(void* p, std::size_t bytes) {
#if defined(__linux__)
    // Whole pages inside the range only: a page it shares with other memory is left alone.
    constexpr int kPopulateWrite = 23; // MADV_POPULATE_WRITE, Linux 5.14; older ones refuse it
    const auto from =
        (reinterpret_cast<std::uintptr_t>(p) + kMemoryPageBytes - 1) & ~(kMemoryPageBytes - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(kMemoryPageBytes - 1);
    if (to > from)
        ::madvise(reinterpret_cast<void*>(from), to - from, kPopulateWrite);
#else
    (void)p, (void)bytes; // a first touch costs what it costs
#endif
}

void WarmMemory(void* p, std::size_t bytes) {
    PrepareMemory(p, bytes);
    // A read of one byte per page; the bytes are not changed.
    const auto* bytesAt = static_cast<const volatile unsigned char*>(p);
    unsigned char sum = 0;
    for (std::size_t at = 0; at < bytes; at += kMemoryPageBytes)
        sum = static_cast<unsigned char>(sum + bytesAt[at]);
    if (bytes > 0)
        sum = static_cast<unsigned char>(sum + bytesAt[bytes - 1]);
    (void)sum;
}

void KeepFreedMemory() {
#ifdef __GLIBC__
    // Blocks up to 64 MiB come from the heap, and up to 64 MiB free at its top stay there.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

void QuietThread() {
#ifndef _WIN32
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
#endif
    // On Windows console control events come on a thread of their own.
}

unsigned UsableProcessors() {
#ifdef _WIN32
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) || process == 0)
        return 1;
    unsigned count = 0;
    for (; process != 0; process &= process - 1)
        ++count;
    return count;
#else
#ifdef __linux__
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned>(CPU_COUNT(&set));
#endif
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1u;
#endif
}

} // namespace platform
