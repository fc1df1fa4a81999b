#include "transfer/Renderer.h"

#include "platform/Platform.h"
#include "transfer/WaveFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace th {

namespace {

// Sources are read in blocks of this size, at multiples of it in the file: a card answers a
// few large requests far sooner than many small ones.
constexpr std::size_t kBlockBytes = 1 << 20;
// The output is cut into pieces of this size at multiples of it in the file (the first starts
// after the header), each written in one write.
constexpr std::size_t kPieceBytes = 512 << 10;
// Sources a worker keeps open at once; the least recently used one is closed for a new one.
constexpr std::size_t kOpenSources = 16;
// A piece's bytes stand this far from their file offsets' place within a page. Source audio
// mostly starts at byte 44 of its file and the output's at byte 46: with the buffer aligned
// like the output, every read into it lands 2 bytes after its place in the system's page, and
// on some processors (measured: AMD EPYC) the system's copy then runs at a third of its speed,
// as a copy to an address a little past its source's within a page does. Half a page away,
// reads and the copies out of blocks run at full speed, and writes stay aligned like the file
// within each 64-byte line.
constexpr std::size_t kPieceShift = kPageBytes / 2;

// Switches for measuring (read once): TRACKHAUL_BLOCKS (blocks kept per worker, 0: none),
// TRACKHAUL_DIRECT (bytes left of a stretch from which it is read without blocks; 0: never),
// TRACKHAUL_HELPER (0: no helper thread), TRACKHAUL_SHIFT (0: pieces aligned like the output
// file), TRACKHAUL_CACHED (0: a block is fetched even where the system holds the piece),
// TRACKHAUL_BATCH (0: the reads of bytes the system holds are made one by one, not together
// for each piece).
struct Tuning {
    std::size_t blocks = 3;
    std::size_t direct = kCopyBlock;
    bool helper = true;
    bool shift = true;
    bool cached = true;
    bool batch = true;
};
const Tuning& Tuned() {
    static const Tuning tuning = [] {
        Tuning t;
        const auto on = [](const char* name, bool& flag) {
            if (const char* v = std::getenv(name))
                flag = std::strcmp(v, "0") != 0;
        };
        if (const char* v = std::getenv("TRACKHAUL_BLOCKS"))
            t.blocks = std::strtoul(v, nullptr, 10);
        if (const char* v = std::getenv("TRACKHAUL_DIRECT")) {
            t.direct = std::strtoul(v, nullptr, 10);
            if (t.direct == 0)
                t.direct = std::numeric_limits<std::size_t>::max();
        }
        on("TRACKHAUL_HELPER", t.helper);
        on("TRACKHAUL_SHIFT", t.shift);
        on("TRACKHAUL_CACHED", t.cached);
        on("TRACKHAUL_BATCH", t.batch);
        return t;
    }();
    return tuning;
}

// `bytes` of memory starting at a page boundary, inside `memory`.
unsigned char* PageAligned(std::unique_ptr<unsigned char[]>& memory, std::size_t bytes) {
    memory = std::make_unique_for_overwrite<unsigned char[]>(bytes + kPageBytes);
    const auto at = reinterpret_cast<std::uintptr_t>(memory.get());
    return memory.get() + (kPageBytes - at % kPageBytes) % kPageBytes;
}

constexpr std::uint64_t kNoPiece = std::numeric_limits<std::uint64_t>::max();

} // namespace

// What the workers of one track share: the plan, the output, the next piece to take, and how
// the track went.
struct TrackRenderer::Shared {
    Shared(const TrackPlan& p, const std::vector<std::string>& sourcePaths, WaveWriter& output)
        : plan(p), paths(sourcePaths), out(output),
          pieces((kWrittenHeaderBytes + std::uint64_t{p.end} + kPieceBytes - 1) / kPieceBytes) {}
    const TrackPlan& plan;
    const std::vector<std::string>& paths;
    WaveWriter& out;
    const std::uint64_t pieces;
    std::atomic<std::uint64_t> next{0};
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> helperBytes{0}; // of the pieces the helper finished

    // Whether block `index` of `source` was read once by either worker (the system keeps its
    // bytes), so that the other reads its pieces straight into place instead of again.
    bool Fetched(std::int32_t source, std::uint64_t index) {
        const Seen& seen = fetched[static_cast<std::size_t>(source)];
        return seen.ready.load(std::memory_order_acquire) && index < seen.count &&
               seen.blocks[index].load(std::memory_order_relaxed);
    }
    void SetFetched(std::int32_t source, std::uint64_t index, std::uint64_t fileBytes) {
        Seen& seen = fetched[static_cast<std::size_t>(source)];
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!seen.blocks) {
                seen.count = fileBytes / kBlockBytes + 1;
                seen.blocks = std::make_unique<std::atomic<bool>[]>(seen.count);
                seen.ready.store(true, std::memory_order_release);
            }
        }
        if (index < seen.count)
            seen.blocks[index].store(true, std::memory_order_relaxed);
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool helperDone = false;
    struct Seen {
        std::atomic<bool> ready{false}; // blocks and count are set
        std::uint64_t count = 0;
        std::unique_ptr<std::atomic<bool>[]> blocks;
    };
    std::unique_ptr<Seen[]> fetched = std::make_unique<Seen[]>(plan.sources.size());
    // The earliest piece that failed and why (empty: the output failed, it tells why), so
    // that the reason told does not depend on which worker came first.
    std::uint64_t failedPiece = kNoPiece;
    Failure failure;

    // Output audio bytes [from, to) of piece k.
    BytePos From(std::uint64_t k) const {
        return static_cast<BytePos>(std::max<std::uint64_t>(k * kPieceBytes, kWrittenHeaderBytes) -
                                    kWrittenHeaderBytes);
    }
    BytePos To(std::uint64_t k) const {
        return static_cast<BytePos>(
            std::min<std::uint64_t>((k + 1) * kPieceBytes, kWrittenHeaderBytes + plan.end) -
            kWrittenHeaderBytes);
    }
    void Failed(std::uint64_t k, const Failure& why) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (k < failedPiece) {
                failedPiece = k;
                failure = why;
            }
        }
        stop = true;
    }
};

// Fills pieces of the output from the plan and writes each at its place. Each worker keeps
// its own open sources and blocks; the two share only the piece counter, the output and the
// marks of blocks read once.
class TrackRenderer::Worker {
public:
    // A new track: the last one's sources are closed and its blocks forgotten.
    void Begin(std::size_t sources) {
        sources_.clear();
        sources_.resize(sources);
        openSources_ = 0;
        for (Block& b : blocks_)
            b.source = -1;
        why_ = {};
    }
    void End() { sources_.clear(); }

    // Fills piece k and writes it. `produced` (may be null) hears of every part filled and
    // stops the piece by returning false. False when the piece failed or was stopped; why()
    // tells a failed read, the output its own failures.
    template <typename Produced> bool Do(Shared& s, std::uint64_t k, Produced&& produced) {
        if (!buffer_) {
            const std::size_t shift = Tuned().shift ? kPieceShift : 0;
            buffer_ = PageAligned(memory_, kPieceBytes + shift) + shift;
        }
        const BytePos from = s.From(k);
        const BytePos to = s.To(k);
        unsigned char* const first =
            buffer_ + (std::uint64_t{kWrittenHeaderBytes} + from - k * kPieceBytes);
        const std::vector<PlanStretch>& stretches = s.plan.stretches;
        auto it = std::upper_bound(stretches.begin(), stretches.end(), from,
                                   [](BytePos p, const PlanStretch& st) { return p < st.end; });
        reads_.clear();
        queued_.clear();
        for (BytePos pos = from; pos < to; ++it) {
            const BytePos end = std::min(it->end, to);
            if (!Fill(s, *it, pos, end, first + (pos - from), produced))
                return false;
            pos = end;
        }
        return ReadQueued(s) && s.out.WriteAt(from, first, to - from);
    }
    const Failure& why() const { return why_; }

private:
    struct Source {
        std::unique_ptr<WaveReader> reader;
        std::uint64_t lastUse = 0;
    };
    // One block of a source in memory: file offsets [index, index + 1) * kBlockBytes.
    struct Block {
        std::int32_t source = -1;
        std::uint64_t index = 0;
        std::uint64_t lastUse = 0;
        std::unique_ptr<unsigned char[]> memory;
        unsigned char* bytes = nullptr; // page-aligned inside memory
    };

    // Output bytes [pos, end) of stretch `st` into `to`, in parts of at most one block.
    // A source's bytes come from blocks kept in memory, so that short events from a few
    // sources cost a few large reads whatever their order. A stretch with 64 KiB or more left,
    // and a piece of a block read once before (the system keeps those bytes), is read straight
    // into place: through a block, a stretch of 100 events' length cost 12% more in memory
    // (and twice the reads where the two workers each fetch a block). The other parts are
    // queued and tried together at the end of the piece, where the system holds them
    // (ReadQueued); only those it does not hold go through blocks.
    template <typename Produced>
    bool Fill(Shared& s, const PlanStretch& st, BytePos pos, BytePos end, unsigned char* to,
              Produced&& produced) {
        WaveReader* reader = nullptr;
        if (st.source >= 0 && !(reader = Open(s, st.source)))
            return false;
        const Tuning& tuning = Tuned();
        std::uint64_t at = st.sourceAt + (pos - st.start);
        while (pos < end) {
            std::size_t part = std::min<std::size_t>(end - pos, kBlockBytes);
            if (!reader) {
                std::memset(to, 0, part);
            } else {
                const bool held = Cached(st.source, BlockOf(*reader, at));
                const bool direct = st.end - st.start >= tuning.direct || tuning.blocks == 0;
                if (!held && direct) {
                    reader->ReadAt(at, to, part);
                } else if (!held && tuning.cached && tuning.batch &&
                           Queue(st.source, *reader, at, to, part)) {
                    // Tried with the piece's other such reads in one request (ReadQueued).
                } else {
                    part = ThroughBlocks(s, st.source, *reader, at, to, part, tuning.cached);
                }
                at += part;
            }
            to += part;
            pos += static_cast<BytePos>(part);
            if (!produced(part))
                return false;
        }
        return true;
    }

    // Queues a read of bytes the system may hold, for ReadQueued; false where the system can't
    // take it (the caller reads it the usual way).
    bool Queue(std::int32_t source, WaveReader& reader, std::uint64_t at, unsigned char* to,
               std::size_t count) {
        std::optional<platform::CachedRead> read = reader.CachedReadAt(at, to, count);
        if (!read)
            return false;
        if (!read->done) {
            reads_.push_back(*read);
            queued_.push_back({source, at, to, count});
        }
        return true;
    }

    // Makes the queued reads in one request where the system allows it. A source's data comes
    // from memory, as though read by ReadAtIfCached: a song read before, or copied to a disk.
    // What was not all in memory (a card read for the first time) is read through blocks.
    bool ReadQueued(Shared& s) {
        if (reads_.empty())
            return true;
        if (!cached_)
            cached_ = std::make_unique<platform::CachedReads>();
        cached_->Run(reads_);
        // Taken out first: reading through blocks may open a source, which reads the queue.
        std::vector<Queued> left;
        for (std::size_t k = 0; k < reads_.size(); ++k)
            if (!reads_[k].done)
                left.push_back(queued_[k]);
        reads_.clear();
        queued_.clear();
        for (const Queued& q : left) {
            WaveReader* reader = Open(s, q.source);
            if (!reader)
                return false;
            for (std::size_t done = 0; done < q.count;)
                done += ThroughBlocks(s, q.source, *reader, q.at + done, q.to + done,
                                      q.count - done, false);
        }
        return true;
    }

    std::uint64_t BlockOf(const WaveReader& reader, std::uint64_t at) const {
        return (reader.DataStart() + at) / kBlockBytes;
    }

    // Reads up to `count` bytes of a source at `at` into `to` by way of its blocks: from a
    // block kept, straight into place where the block was read once before (the system keeps
    // those bytes) or, with `ifCached`, where the system holds them anyway; else the block is
    // fetched. Returns the bytes done: all of `count`, or up to the end of the block.
    std::size_t ThroughBlocks(Shared& s, std::int32_t source, WaveReader& reader, std::uint64_t at,
                              unsigned char* to, std::size_t count, bool ifCached) {
        const std::uint64_t index = BlockOf(reader, at);
        const Block* block = Cached(source, index);
        if (!block) {
            if (s.Fetched(source, index)) {
                reader.ReadAt(at, to, count);
                return count;
            }
            // The system holds the piece already (a song read before, or copied to a disk):
            // no block is worth fetching for it.
            if (ifCached && reader.ReadAtIfCached(at, to, count))
                return count;
            block = Load(s, source, reader, index);
        }
        const auto inBlock = static_cast<std::size_t>((reader.DataStart() + at) % kBlockBytes);
        const std::size_t part = std::min(count, kBlockBytes - inBlock);
        std::memcpy(to, block->bytes + inBlock, part);
        return part;
    }

    WaveReader* Open(Shared& s, std::int32_t source) {
        Source& src = sources_[static_cast<std::size_t>(source)];
        src.lastUse = ++uses_;
        if (src.reader)
            return src.reader.get();
        if (openSources_ == kOpenSources) {
            // The source closed may be one a queued read reads from.
            if (!ReadQueued(s))
                return nullptr;
            Source* oldest = nullptr;
            for (Source& other : sources_)
                if (other.reader && (!oldest || other.lastUse < oldest->lastUse))
                    oldest = &other;
            oldest->reader.reset();
            --openSources_;
        }
        src.reader = OpenWaveData(s.paths[static_cast<std::size_t>(source)], &why_);
        if (!src.reader)
            return nullptr;
        ++openSources_;
        return src.reader.get();
    }

    const Block* Cached(std::int32_t source, std::uint64_t index) {
        for (Block& b : blocks_) {
            if (b.source == source && b.index == index) {
                b.lastUse = ++uses_;
                return &b;
            }
        }
        return nullptr;
    }

    const Block* Load(Shared& s, std::int32_t source, WaveReader& reader, std::uint64_t index) {
        Block* slot = nullptr;
        if (blocks_.size() < Tuned().blocks) {
            slot = &blocks_.emplace_back();
            slot->bytes = PageAligned(slot->memory, kBlockBytes);
        } else {
            slot = &*std::min_element(
                blocks_.begin(), blocks_.end(),
                [](const Block& a, const Block& b) { return a.lastUse < b.lastUse; });
        }
        // The block's audio: file offsets index * kBlockBytes on, but none before the data.
        const std::uint64_t first = index * kBlockBytes;
        const std::uint64_t from = std::max(first, reader.DataStart());
        reader.ReadAt(from - reader.DataStart(), slot->bytes + (from - first),
                      static_cast<std::size_t>(first + kBlockBytes - from));
        slot->source = source;
        slot->index = index;
        slot->lastUse = ++uses_;
        s.SetFetched(source, index, reader.DataStart() + reader.Available());
        return slot;
    }

    std::vector<Source> sources_; // as TrackPlan::sources
    std::size_t openSources_ = 0;
    std::vector<Block> blocks_;
    std::uint64_t uses_ = 0;
    std::unique_ptr<unsigned char[]> memory_;
    unsigned char* buffer_ = nullptr; // one piece, inside memory_
    // Reads of the piece queued for one request, and what each was for.
    struct Queued {
        std::int32_t source;
        std::uint64_t at;
        unsigned char* to;
        std::size_t count;
    };
    std::vector<platform::CachedRead> reads_;
    std::vector<Queued> queued_;
    std::unique_ptr<platform::CachedReads> cached_;
    Failure why_;
};

TrackRenderer::TrackRenderer(TransferUi& ui, const Selection& sel, const SongEventTable& table)
    : ui_(ui), sel_(sel), table_(table) {}

TrackRenderer::~TrackRenderer() = default;

BytePos TrackRenderer::TimecodeToBytes(std::string_view text) {
    return TimecodeBytes(text);
}

bool TrackRenderer::RenderTrack(int n) {
    ui_.SetCancelled(false);
    Why = {};
    destFolder_ = sel_.DestFolder;
    if (!PrepareTrack(n))
        return true;
    if (!OpenOutput(n))
        return false;
    Written = 0;
    unreported_ = 0;
    helperSeen_ = 0;

    Shared shared(Plan, paths_, *out_);
    shared_ = &shared;
    for (auto& w : workers_) {
        if (!w)
            w = std::make_unique<Worker>();
        w->Begin(Plan.sources.size());
    }
    // The helper reads and writes at offsets of the files it shares with this thread, which
    // only some systems allow. On one processor it only costs (measured: 9998 events +20%), and
    // where no thread can be made, this thread does it all.
    std::thread helper;
    if (Tuned().helper && platform::kPositionalReads && shared.pieces > 1 &&
        platform::UsableProcessors() > 1) {
        try {
            helper = std::thread([this, &shared] {
                Work(*workers_[1], shared, false);
                std::lock_guard<std::mutex> lock(shared.mutex);
                shared.helperDone = true;
                shared.changed.notify_all();
            });
        } catch (const std::system_error&) {
        }
    }
    bool ok = Work(*workers_[0], shared, true);
    if (helper.joinable()) {
        // The pump keeps running, and Cancel is seen, while the helper ends its last piece.
        std::unique_lock<std::mutex> lock(shared.mutex);
        while (!shared.helperDone) {
            shared.changed.wait_for(lock, std::chrono::milliseconds(20));
            lock.unlock();
            if (!Produced(0) || ui_.Cancelled())
                shared.stop = true;
            ui_.ProcessMessages();
            lock.lock();
        }
        lock.unlock();
        helper.join();
    }
    ok = ok && shared.failedPiece == kNoPiece && !ui_.Cancelled();
    if (ok)
        ok = Produced(0); // the helper's last pieces
    if (!ok && !shared.failure.reason.empty())
        Explain(shared.failure.file, shared.failure.reason);
    workers_[0]->End();
    workers_[1]->End();
    shared_ = nullptr;
    if (!ok)
        return Fail();
    ui_.Advance(unreported_);
    unreported_ = 0;
    return Finish();
}

bool TrackRenderer::Work(Worker& worker, Shared& shared, bool progress) {
    for (;;) {
        const std::uint64_t k = shared.next.fetch_add(1);
        if (k >= shared.pieces || shared.stop)
            return true;
        const bool done =
            progress ? worker.Do(shared, k, [this](std::size_t bytes) { return Produced(bytes); })
                     : worker.Do(shared, k, [](std::size_t) { return true; });
        if (!done) {
            // A stop for Cancel is no failure of the piece.
            if (!(progress && ui_.Cancelled()))
                shared.Failed(k, worker.why());
            shared.stop = true;
            return false;
        }
        if (!progress)
            shared.helperBytes += shared.To(k) - shared.From(k);
    }
}

bool TrackRenderer::PrepareTrack(int n) {
    Plan = PlanTrack(table_, n);
    TrackEnd = Plan.end;
    if (TrackEnd == 0)
        return false;
    // The folder is searched for a name that differs in letter case once per track; the path
    // keeps the name as found.
    paths_.clear();
    for (const std::string& name : Plan.sources) {
        std::string path = sel_.DriveRoot + "\\" + sel_.SongName() + "\\" + name;
        if (name.find_first_of("\\/") == std::string::npos) {
            const std::string native = platform::NativePath(path);
            const std::size_t cut = native.find_last_of("\\/");
            if (!native.empty() && cut != std::string::npos)
                path.replace(path.size() - name.size(), name.size(), native.substr(cut + 1));
        }
        paths_.push_back(std::move(path));
    }
    ui_.SetMax(TrackEnd);
    ui_.SetPosition(0);
    ui_.SetMin(0);
    return true;
}

bool TrackRenderer::OpenOutput(int n) {
    OutBase = destFolder_ + "\\tr0" + std::to_string(n);
    const std::string final = OutBase + ".wav";
    if (platform::FileExists(final)) {
        if (!ui_.Ask("Overwrite <" + platform::DisplayPath(final) + "> ?")) {
            Explain(final, kReasonNotReplaced);
            return false;
        }
        platform::SetFileAttributesNormal(final);
    }
    out_ = CreateWaveFile(OutBase, static_cast<std::uint32_t>(sel_.SampleRate), &Why);
    if (!out_) {
        Why.file = final; // the user knows the track's file by its final name
        return false;
    }
    // The whole track is written, from 0 to TrackEnd.
    out_->Reserve(TrackEnd);
    return true;
}

bool TrackRenderer::CloseOutput() {
    bool ok = true;
    if (out_) {
        ok = out_->Close();
        if (!ok)
            Explain(OutBase + ".wav", SystemReason(out_->Error()));
        out_.reset();
    }
    return ok;
}

// Progress moves and the pump runs once per block of output, whatever the number of events:
// the dialog stays live and Cancel is seen within a block.
bool TrackRenderer::Produced(std::size_t bytes) {
    if (shared_) {
        const std::uint64_t helper = shared_->helperBytes.load();
        bytes += static_cast<std::size_t>(helper - helperSeen_);
        helperSeen_ = helper;
    }
    Written += static_cast<BytePos>(bytes);
    unreported_ += static_cast<std::uint32_t>(bytes);
    while (unreported_ >= kCopyBlock) {
        ui_.Advance(kCopyBlock);
        unreported_ -= kCopyBlock;
        if (ui_.Cancelled())
            return false;
        ui_.ProcessMessages();
    }
    return true;
}

bool TrackRenderer::Finish() {
    if (!CloseOutput()) {
        platform::DeleteFile(OutBase);
        return false;
    }
    const std::string final = OutBase + ".wav";
    if (platform::FileExists(final))
        platform::SetFileAttributesNormal(final);
    errno = 0;
    if (!platform::RenameFile(OutBase, final)) {
        Explain(final, SystemReason(errno));
        platform::DeleteFile(OutBase);
        return false;
    }
    ui_.FileWritten(final);
    return true;
}

void TrackRenderer::Explain(const std::string& file, const std::string& reason) {
    if (Why.reason.empty())
        Why = {file, reason};
}

bool TrackRenderer::Fail() {
    // A failed write is told by the output; otherwise the track stopped for Cancel.
    const int error = out_ ? out_->Error() : 0;
    Explain(OutBase + ".wav", error == 0 && ui_.Cancelled() ? std::string(kReasonCancelled)
                                                            : SystemReason(error ? error : EIO));
    CloseOutput();
    platform::DeleteFile(OutBase);
    return false;
}

} // namespace th
