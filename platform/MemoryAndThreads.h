#pragma once
// Hints about memory and threads: touching memory ahead of use, keeping freed memory in the
// process, and what a helper thread needs.

#include <cstddef>

namespace platform {

// Memory touched for the first time costs a fault per page. PrepareMemory asks the system to
// back [p, p + bytes) at once, in one call (Linux; elsewhere nothing happens); WarmMemory also
// reads a byte of every page, so that on a helper thread it takes the cost off the thread
// that will use the memory. Neither changes what the memory holds.
inline constexpr std::size_t kMemoryPageBytes = 4096;
void PrepareMemory(void* p, std::size_t bytes);
void WarmMemory(void* p, std::size_t bytes);

// Has the memory allocator keep what is freed for the next allocations instead of giving it
// back to the system at once: a transfer frees the edit list it has read just before it takes
// its copy buffers, and memory the system hands out afresh costs a fault per page. Called
// once, first thing in main.
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

} // namespace platform
