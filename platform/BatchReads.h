#pragma once
// Reads of many short parts of files handed to the system together, each done only where the
// system holds all its bytes in memory already. A track of 9998 short events makes about ten
// thousand such reads; where every call into the system is dear (measured: a virtual machine
// that traps each call, about 2.5 us a read alone against 1 us in batches of 58), one request
// for each piece's reads is what the import saves.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>

namespace platform {

// `count` bytes of `from` at file offset `offset` into `buffer`; `done` tells afterwards
// whether all of them were read.
struct CachedRead {
    std::FILE* from = nullptr;
    std::uint64_t offset = 0;
    void* buffer = nullptr;
    std::size_t count = 0;
    bool done = false;
};

// One thread's queue to the system (Linux: an io_uring, through liburing). Where there is
// none (another system, a kernel or sandbox without io_uring), each read is tried on its own
// as ReadFileAtIfCached does.
class CachedReads {
public:
    CachedReads();
    ~CachedReads();
    CachedReads(const CachedReads&) = delete;
    CachedReads& operator=(const CachedReads&) = delete;

    // Tries every read of `reads` and sets its `done`; a read not done (not all in memory, a
    // short count, an error) leaves its buffer in any state, for the caller to read the usual
    // way.
    void Run(std::span<CachedRead> reads);

    // Whether the reads go to the system in batches (false: one by one).
    bool Batched() const { return ring_ != nullptr; }

private:
    struct Ring;
    std::unique_ptr<Ring> ring_;
};

} // namespace platform
