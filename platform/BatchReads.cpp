// Batched cached reads: an io_uring of 64 entries per thread through liburing where it is
// built in and the kernel allows it, one read at a time otherwise.
#include "platform/BatchReads.h"

#include "platform/FaultSeam.h"
#include "platform/Streams.h"
#include "platform/internal/Shared.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#if defined(TRACKHAUL_HAVE_LIBURING)
#include <liburing.h>
#include <sys/uio.h>
#endif

namespace platform {

namespace {

void OneByOne(std::span<CachedRead> reads) {
    for (CachedRead& r : reads)
        r.done = ReadFileAtIfCached(r.from, r.offset, r.buffer, r.count).has_value();
}

} // namespace

#if defined(TRACKHAUL_HAVE_LIBURING)

struct CachedReads::Ring {
    static constexpr unsigned kEntries = 64;
    io_uring ring{};
};

CachedReads::CachedReads() {
    auto ring = std::make_unique<Ring>();
    // Refused on kernels without io_uring and in sandboxes that forbid it: one read at a time.
    if (io_uring_queue_init(Ring::kEntries, &ring->ring, 0) == 0)
        ring_ = std::move(ring);
}

CachedReads::~CachedReads() {
    if (ring_)
        io_uring_queue_exit(&ring_->ring);
}

void CachedReads::Run(std::span<CachedRead> reads) {
    for (std::size_t first = 0; first < reads.size();) {
        if (!ring_)
            return OneByOne(reads.subspan(first));
        io_uring* ring = &ring_->ring;
        unsigned queued = 0;
        for (std::size_t k = first; k < reads.size() && queued < Ring::kEntries; ++k, ++queued) {
            CachedRead& r = reads[k];
            r.done = false;
            io_uring_sqe* sqe = io_uring_get_sqe(ring);
            if (!sqe)
                break; // not with nothing queued before the batch
            if (r.offset > static_cast<std::uint64_t>(INT64_MAX) || r.count > UINT32_MAX ||
                detail::InjectedFault(FileOp::CachedRead, r.from) != 0) {
                io_uring_prep_nop(sqe); // left for the usual way
            } else {
                io_uring_prep_read(sqe, ::fileno(r.from), r.buffer, static_cast<unsigned>(r.count),
                                   r.offset);
                // EAGAIN instead of waiting for the medium: the caller reads it the usual way.
                sqe->rw_flags = RWF_NOWAIT;
            }
            io_uring_sqe_set_data64(sqe, k);
        }
        if (queued == 0) { // a ring with no room for one read: none is asked of it again
            io_uring_queue_exit(ring);
            ring_.reset();
            continue;
        }
        // Reads of bytes in memory are done during the submission, so their completions are
        // there when it returns: one call for the whole batch.
        int submitted;
        do
            submitted = io_uring_submit(ring);
        while (submitted == -EINTR);
        unsigned seen = 0;
        bool broken = submitted != static_cast<int>(queued);
        while (seen < static_cast<unsigned>(std::max(submitted, 0))) {
            io_uring_cqe* cqe = nullptr;
            const int waited = io_uring_wait_cqe(ring, &cqe);
            if (waited == -EINTR)
                continue;
            if (waited != 0) {
                broken = true;
                break;
            }
            const std::uint64_t k = io_uring_cqe_get_data64(cqe);
            if (k >= first && k < first + queued && cqe->res >= 0 &&
                static_cast<std::size_t>(cqe->res) == reads[k].count)
                reads[k].done = true;
            io_uring_cqe_seen(ring, cqe);
            ++seen;
        }
        if (broken) {
            // A ring that refused part of a batch, or lost track of it, is not used again:
            // what it did not finish is read the usual way, the rest one by one.
            io_uring_queue_exit(ring);
            ring_.reset();
        }
        first += queued;
    }
}

#else

struct CachedReads::Ring {};

CachedReads::CachedReads() = default;
CachedReads::~CachedReads() = default;

void CachedReads::Run(std::span<CachedRead> reads) {
    OneByOne(reads);
}

#endif

} // namespace platform
