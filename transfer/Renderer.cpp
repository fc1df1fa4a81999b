#include "transfer/Renderer.h"

#include "platform/Platform.h"
#include "song/Tc2w.h"
#include "transfer/WaveFile.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace th {

namespace {
// Output is gathered into writes of this size: large enough that a write and a handover to the
// writer cost little, small enough that the buffers' memory costs little to touch the first
// time (on a virtual machine a fault of several microseconds per small page: 4 buffers of
// 1 MiB took 14 ms where the heap is not in large pages).
constexpr std::size_t kGatherBytes = 8 * kCopyBlock;
// Source bytes are read in pieces of at most this size.
constexpr std::size_t kStageBytes = 4 * kCopyBlock;
// Long stretches whose source and output offsets are aligned alike are copied inside the
// kernel, with no copy through memory at all.
constexpr BytePos kKernelCopyBytes = 16 * kCopyBlock;
// Sources a track keeps open at once; the least recently used one is closed for a new one.
constexpr std::size_t kOpenSources = 16;
// The writer reads shareOfReads_ of every kShareSteps short pieces, at most kMostSharedReads.
constexpr int kShareSteps = 16;
constexpr int kMostSharedReads = 8;

// Memory to read source bytes into, aligned like the source (see AlignedLike).
std::unique_ptr<unsigned char[]> StageMemory() {
    return std::make_unique_for_overwrite<unsigned char[]>(kStageBytes + kPageBytes);
}

// Reads `count` bytes of `source` from `at` to `to`: into `stage` first, aligned like the
// source, so that the system copies at full speed, then moved into place by the CPU.
void ReadShifted(WaveReader& source, std::uint64_t at, unsigned char* to, std::size_t count,
                 unsigned char* stage) {
    while (count > 0) {
        const std::size_t part = std::min(count, kStageBytes);
        unsigned char* in = AlignedLike(stage, source.DataStart() + at);
        source.ReadAt(at, in, part);
        CopyUnaligned(to, in, part);
        to += part;
        at += part;
        count -= part;
    }
}

std::atomic<TrackRenderer::SourceReads> sourceReads{TrackRenderer::SourceReads::Measured};
// What the measurement found, once per process: 0 not yet, 1 in place, 2 staged.
std::atomic<int> measuredReads{0};

// Whether the system copies as fast into memory aligned differently from the source as into
// memory aligned like it: times a few reads of up to 64 KiB of `source` both ways, taking the
// quickest of each (a busy machine only ever slows a read down). Where the difference is
// large (measured 5-8 times on some hosts) reading in place would cost far more than the move
// through the stage. nullopt where the source is too short to tell.
std::optional<bool> ShiftedReadsAreFast(WaveReader& source, unsigned char* stage) {
    constexpr std::size_t kLeast = 16 * 1024;
    const auto bytes =
        static_cast<std::size_t>(std::min<std::uint64_t>(source.Available(), kCopyBlock));
    if (bytes < kLeast)
        return std::nullopt;
    unsigned char* aligned = AlignedLike(stage, source.DataStart());
    unsigned char* shifted = aligned + 2; // a sample further: the stage has a page to spare
    using Clock = std::chrono::steady_clock;
    Clock::duration fastest[2] = {Clock::duration::max(), Clock::duration::max()};
    for (int round = 0; round < 6; ++round) {
        const int way = round % 2;
        const auto t0 = Clock::now();
        source.ReadAt(0, way == 0 ? aligned : shifted, bytes);
        fastest[way] = std::min(fastest[way], Clock::now() - t0);
    }
    return fastest[1] <= 2 * fastest[0];
}

} // namespace

void TrackRenderer::SetSourceReads(SourceReads how) {
    sourceReads.store(how);
}

// What one output write holds: the bytes in place, aligned like the output, but for the short
// pieces still to be read: by the writer before it writes, or by the renderer's thread in one
// batch when it hands the buffer over.
struct TrackRenderer::Gathered {
    struct Piece {
        std::size_t at; // offset from start
        std::size_t count;
        WaveReader* source;
        std::uint64_t from; // offset in the source's audio
    };
    std::unique_ptr<unsigned char[]> memory =
        std::make_unique_for_overwrite<unsigned char[]>(kGatherBytes + kPageBytes);
    unsigned char* start = nullptr; // inside memory, aligned like the output
    std::size_t bytes = 0;
    std::vector<Piece> pieces; // left to the writer
    std::vector<Piece> own;    // read by the renderer's thread in one batch before handover
    bool inPlace = false;      // whether pieces are read in place (else through a stage)
    std::uint64_t ticket = 0;  // of its last write (see BackgroundWriter::Start)

    void Clear() {
        bytes = 0;
        pieces.clear();
        own.clear();
    }

    // Adds `piece` to `list`, as part of the last one where it continues it in the source and
    // in the buffer: a stretch gathered block by block is then read in one request.
    static void Add(std::vector<Piece>& list, const Piece& piece) {
        if (!list.empty()) {
            Piece& last = list.back();
            if (last.source == piece.source && last.at + last.count == piece.at &&
                last.from + last.count == piece.from) {
                last.count += piece.count;
                return;
            }
        }
        list.push_back(piece);
    }

    // Reads `list` into place, in batches; bytes past a source's end are zero.
    void ReadInPlace(std::vector<Piece>& list, platform::BatchReader& batch) {
        std::array<platform::ReadRequest, 64> requests;
        for (std::size_t first = 0; first < list.size(); first += requests.size()) {
            const std::size_t n = std::min(requests.size(), list.size() - first);
            std::size_t asked = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const Piece& piece = list[first + i];
                platform::ReadRequest r =
                    piece.source->RequestAt(piece.from, start + piece.at, piece.count);
                if (r.count > 0)
                    requests[asked++] = r;
            }
            batch.ReadAll(requests.data(), asked);
            for (std::size_t i = 0; i < asked; ++i) {
                const platform::ReadRequest& r = requests[i];
                std::memset(static_cast<unsigned char*>(r.buffer) + r.done, 0, r.count - r.done);
            }
        }
        list.clear();
    }

    // Reads `list` through `stage` (see ReadShifted).
    void ReadStaged(std::vector<Piece>& list, unsigned char* stage) {
        for (const Piece& piece : list)
            ReadShifted(*piece.source, piece.from, start + piece.at, piece.count, stage);
        list.clear();
    }
};

// Writes gathered output on a thread of its own, in the order handed over, so that reading the
// sources into the next buffers and writing the earlier ones to the disk go on at once; before
// each write it reads the pieces left to it. Several buffers may wait in line: a writer that
// wakes late (a wake-up is slow on a virtual machine) then finds more than one to write and
// catches up, instead of keeping the reader waiting at every handover.
class BackgroundWriter {
public:
    ~BackgroundWriter() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    // Queues `from` to be written to `out`; both stay untouched by the caller until the write
    // of the ticket returned is done (WaitFor). At most TrackRenderer::kGathers writes wait at
    // once.
    std::uint64_t Start(WaveWriter& out, TrackRenderer::Gathered& from) {
        if (!thread_.joinable() && !alone_) {
            try {
                thread_ = std::thread([this] { Run(); });
            } catch (const std::system_error&) {
                alone_ = true; // no thread to be had: the caller's thread writes
            }
        }
        if (alone_) {
            ok_ = ok_ && Write(out, from);
            from.pieces.clear();
            done_ = ++queued_;
            queuedHint_.store(queued_, std::memory_order_relaxed);
            doneHint_.store(done_, std::memory_order_release);
            return queued_;
        }
        std::uint64_t ticket = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_[static_cast<std::size_t>(queued_ % TrackRenderer::kGathers)] = {&out, &from};
            ticket = ++queued_;
            queuedHint_.store(queued_, std::memory_order_release);
        }
        changed_.notify_all();
        return ticket;
    }

    // Whether the write of `ticket` is done (so that waiting for it would not wait).
    bool Done(std::uint64_t ticket) const {
        return doneHint_.load(std::memory_order_acquire) >= ticket;
    }

    // Whether the writer has nothing to do but the write of `ticket` (it had caught up).
    bool IdleBefore(std::uint64_t ticket) const {
        return doneHint_.load(std::memory_order_acquire) + 1 >= ticket;
    }

    // Waits until the write of `ticket` and all before it are done; false when a write since
    // the last Reset failed.
    bool WaitFor(std::uint64_t ticket) {
        SpinUntil([this, ticket] { return Done(ticket); }, callerSpins_);
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this, ticket] { return done_ >= ticket; });
        return ok_;
    }

    // Waits for every write handed over; false when one since the last Reset failed. Only the
    // caller's thread changes queued_, so it reads it without the lock.
    bool Wait() { return WaitFor(queued_); }

    // Forgets an earlier failure, for a new output; nothing may be waiting to be written.
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        ok_ = true;
    }

private:
    // Either thread mostly waits for the other only briefly. Where the process has a
    // processor for each, a waiter first watches for about 100 microseconds before it sleeps;
    // a sleeper costs a system call to wake, and the system's wake-up costs the most on a
    // virtual machine (measured: a 9998-event import 5-7% faster). A side whose watches keep
    // running out (the two threads get one processor's time between them after all) watches
    // only every 16th time, so that it wastes little.
    static constexpr int kSpinPauses = 3000;
    static constexpr int kMissesBeforeRest = 4;

    // How one side's watches went; each side keeps its own.
    struct SpinRecord {
        int misses = 0;
        unsigned waits = 0;
    };

    template <class Ready> void SpinUntil(Ready ready, SpinRecord& record) const {
        if (!spin_ || ready())
            return; // nothing to wait for, which tells nothing about watching
        if (record.misses >= kMissesBeforeRest && ++record.waits % 16 != 0)
            return;
        for (int i = 0; i < kSpinPauses; ++i) {
            platform::PauseInLoop();
            if (ready()) {
                record.misses = 0;
                return;
            }
        }
        ++record.misses;
    }

    void Run() {
        platform::QuietThread();
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            if (done_ == queued_ && !stop_) {
                lock.unlock();
                SpinUntil(
                    [this] {
                        return queuedHint_.load(std::memory_order_acquire) !=
                               doneHint_.load(std::memory_order_relaxed);
                    },
                    writerSpins_);
                lock.lock();
            }
            changed_.wait(lock, [this] { return done_ < queued_ || stop_; });
            if (done_ == queued_)
                return; // stopped with nothing left to write
            const Job job = jobs_[static_cast<std::size_t>(done_ % TrackRenderer::kGathers)];
            const bool writing = ok_;
            lock.unlock();
            // After a failed write the rest is not written: the track fails anyway.
            const bool ok = writing && Write(*job.out, *job.from);
            job.from->pieces.clear();
            lock.lock();
            ok_ = ok_ && ok;
            ++done_;
            doneHint_.store(done_, std::memory_order_release);
            changed_.notify_all();
        }
    }

    bool Write(WaveWriter& out, TrackRenderer::Gathered& from) {
        if (from.inPlace)
            from.ReadInPlace(from.pieces, *batch_);
        else
            from.ReadStaged(from.pieces, stage_.get());
        return out.Write(from.start, from.bytes);
    }

    struct Job {
        WaveWriter* out = nullptr;
        TrackRenderer::Gathered* from = nullptr;
    };

    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
    // Taken by the caller's thread, so that the writer's own can't fail for memory.
    std::unique_ptr<unsigned char[]> stage_ = StageMemory();
    std::unique_ptr<platform::BatchReader> batch_ = std::make_unique<platform::BatchReader>();
    bool alone_ = false;
    // Write n (counted from 0) waits in jobs_[n % kGathers] until it is done.
    std::array<Job, TrackRenderer::kGathers> jobs_{};
    std::uint64_t queued_ = 0; // writes handed over so far
    std::uint64_t done_ = 0;   // writes done so far
    // queued_ and done_ as last set, for watching without the lock.
    std::atomic<std::uint64_t> queuedHint_{0};
    std::atomic<std::uint64_t> doneHint_{0};
    const bool spin_ = platform::UsableProcessors() > 1;
    SpinRecord callerSpins_; // the caller's thread only
    SpinRecord writerSpins_; // the writer's thread only
    bool ok_ = true;
    bool stop_ = false;
};

TrackRenderer::TrackRenderer(TransferUi& ui, const Selection& sel, const SongEventTable& table)
    : ui_(ui), sel_(sel), table_(table) {}

TrackRenderer::~TrackRenderer() {
    // A write still under way may read from the sources: it ends before they close.
    SettleOutput();
}

BytePos TrackRenderer::TimecodeToBytes(std::string_view text) {
    return SamplesToBytes(TTC2W().TcToSamples(text));
}

const TrackRenderer::TrackRow& TrackRenderer::RowOf(std::int32_t row) const {
    return rows_[static_cast<std::size_t>(rowIndex_[static_cast<std::size_t>(row)])];
}

bool TrackRenderer::RenderTrack(int n) {
    ui_.SetCancelled(false);
    Why = {};
    destFolder_ = sel_.DestFolder;
    if (!PrepareTrack(n))
        return true;
    if (!OpenOutput(n))
        return false;
    Pos = TrackStart;
    End = TrackEnd;
    Written = 0;
    unreported_ = 0;
    CurRow = NextRow = 0;
    admitted_ = 0;
    active_.clear();

    while (Pos < TrackEnd) {
        FindCoveringEvent();
        if (CurRow == 0) {
            // Nothing covers Pos: silence up to the next event's start.
            if (!WriteSilence(FindNextStart()))
                return Fail();
        } else {
            ClipAtNextStart();
            CopyRow = CurRow;
            if (Pos > Written && !WriteSilence(Pos - Written))
                return Fail();
            const bool ok = RowOf(CopyRow).silence ? WriteSilence(End - Pos) : CopyRange();
            if (!ok)
                return Fail();
        }
        // A click on Cancel that the last pump processed stops the track here too.
        if (ui_.Cancelled())
            return Fail();
        Pos = End;
    }
    ui_.Advance(unreported_);
    unreported_ = 0;
    return Finish();
}

bool TrackRenderer::PrepareTrack(int n) {
    rows_.clear();
    SettleOutput(); // the writer may still read the last track's sources
    sources_.clear();
    openSources_ = 0;
    const std::int32_t count =
        std::clamp<std::int32_t>(table_.EventCount, 0, SongEventTable::kRows);
    rowIndex_.assign(static_cast<std::size_t>(count) + 1, -1);
    // Room for every row at once: a growing list would be copied, touching fresh memory at
    // every step.
    rows_.reserve(static_cast<std::size_t>(count));
    std::unordered_map<std::string_view, std::int32_t> sourceOf;
    for (std::int32_t i = 1; i <= count; ++i) {
        const SongEvent& e = table_.Row(i);
        if (e.DestChannel != n)
            continue;
        rowIndex_[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(rows_.size());
        std::int32_t source = -1;
        if (!e.IsSilence()) {
            const auto [at, added] =
                sourceOf.try_emplace(e.SourceFile, static_cast<std::int32_t>(sources_.size()));
            if (added)
                sources_.push_back({e.SourceFile.str(), {}, nullptr, 0});
            source = at->second;
        }
        rows_.push_back({i, TimecodeToBytes(e.DestIn), TimecodeToBytes(e.DestOut),
                         e.IsSilence() ? 0u : TimecodeToBytes(e.SourceIn), e.IsSilence(), source});
    }

    // The track ends where its last-ending audio event ends, unless a silence listed after
    // that event starts at or before that end and reaches at least as far: then it ends where
    // the silence starts, and audio listed from there on that reaches further extends it again.
    TrackStart = 0;
    TrackEnd = 0;
    for (const TrackRow& r : rows_) {
        if (!r.silence && r.end >= TrackEnd) {
            TrackEnd = r.end;
            NextRow = r.row;
        }
    }
    for (const TrackRow& r : rows_) {
        if (r.silence && r.start <= TrackEnd && r.end >= TrackEnd && r.row > NextRow) {
            TrackEnd = r.start;
            NextRow = r.row;
        }
    }
    for (const TrackRow& r : rows_) {
        if (!r.silence && r.row >= NextRow && r.end >= TrackEnd)
            TrackEnd = r.end;
    }
    if (TrackEnd == 0)
        return false;

    // Events that cover something, in order of their start (ties: the later row first).
    byStart_.clear();
    byStart_.reserve(rows_.size());
    for (std::size_t k = 0; k < rows_.size(); ++k)
        if (rows_[k].start < rows_[k].end && rows_[k].start < TrackEnd)
            byStart_.push_back(k);
    // Lists mostly come in time order already: then there is nothing to sort.
    const auto earlier = [this](std::size_t a, std::size_t b) {
        return rows_[a].start < rows_[b].start;
    };
    if (!std::is_sorted(byStart_.begin(), byStart_.end(), earlier))
        std::stable_sort(byStart_.begin(), byStart_.end(), earlier);

    ui_.SetMax(TrackEnd);
    ui_.SetPosition(TrackStart);
    ui_.SetMin(TrackStart);
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
    SettleOutput(); // nothing of an earlier output may still be on its way
    out_ = CreateWaveFile(OutBase, static_cast<std::uint32_t>(sel_.SampleRate), &Why);
    if (!out_) {
        Why.file = final; // the user knows the track's file by its final name
        return false;
    }
    // The whole track is written, from TrackStart to TrackEnd.
    out_->Reserve(TrackEnd - TrackStart);
    for (auto& gathered : gather_)
        if (!gathered) {
            gathered = std::make_unique<Gathered>();
            // Backed in one call rather than a fault per page as the first track fills it.
            platform::PrepareMemory(gathered->memory.get(), kGatherBytes + kPageBytes);
        }
    if (!writer_)
        writer_ = std::make_unique<BackgroundWriter>();
    writer_->Reset(); // settled above: nothing of an earlier output waits
    gather_[gatherSide_]->Clear();
    // A start, which each write moves; none where two threads can't read one file at once.
    shareOfReads_ = platform::kPositionalReads ? kMostSharedReads / 2 : 0;
    handedOver_ = 0;
    return true;
}

bool TrackRenderer::CloseOutput() {
    bool ok = true;
    if (out_) {
        ok = FlushOutput();
        ok = SettleOutput() && ok;
        ok = out_->Close() && ok;
        if (!ok)
            Explain(OutBase + ".wav", SystemReason(out_->Error()));
        out_.reset();
    }
    // The sources close with the track, once the writer reads none of them; the memory stays
    // for the next track.
    for (TrackSource& s : sources_)
        s.reader.reset();
    openSources_ = 0;
    return ok;
}

bool TrackRenderer::FlushOutput() {
    Gathered& g = *gather_[gatherSide_];
    if (g.bytes == 0)
        return true;
    ReadOwnPieces(g, false);
    handedOver_ += g.bytes;
    const bool writerWasIdle = writer_->IdleBefore(g.ticket = writer_->Start(*out_, g));
    gatherSide_ = (gatherSide_ + 1) % kGathers;
    Gathered& next = *gather_[gatherSide_];
    // Where the system reads at an offset without moving a file position, the writer also
    // reads part of the short pieces (those are mostly system overhead, not copying): more of
    // them while it has nothing else to do, fewer while it keeps this thread waiting for a
    // buffer.
    if (platform::kPositionalReads) {
        if (!writer_->Done(next.ticket))
            shareOfReads_ = std::max(0, shareOfReads_ - 1);
        else if (writerWasIdle)
            shareOfReads_ = std::min(kMostSharedReads, shareOfReads_ + 1);
    }
    // The next buffer is free once its last write is done.
    const bool ok = writer_->WaitFor(next.ticket);
    next.Clear();
    return ok;
}

unsigned char* TrackRenderer::Stage() {
    if (!stageMemory_)
        stageMemory_ = StageMemory();
    return stageMemory_.get();
}

void TrackRenderer::ReadOwnPieces(Gathered& g, bool all) {
    if (g.inPlace) {
        if (!batch_)
            batch_ = std::make_unique<platform::BatchReader>();
        g.ReadInPlace(g.own, *batch_);
        if (all)
            g.ReadInPlace(g.pieces, *batch_);
    } else {
        g.ReadStaged(g.own, Stage());
        if (all)
            g.ReadStaged(g.pieces, Stage());
    }
}

bool TrackRenderer::ReadsInPlace(WaveReader& source) {
    if (inPlace_ >= 0)
        return inPlace_ == 1;
    switch (sourceReads.load()) {
    case SourceReads::Staged:
        inPlace_ = 0;
        break;
    case SourceReads::InPlace:
        inPlace_ = 1;
        break;
    case SourceReads::Measured:
        if (measuredReads.load() == 0) {
            const std::optional<bool> fast = ShiftedReadsAreFast(source, Stage());
            if (!fast)
                return false; // too short to tell: staged this once, asked again next time
            measuredReads.store(*fast ? 1 : 2);
        }
        inPlace_ = measuredReads.load() == 1 ? 1 : 0;
        break;
    }
    return inPlace_ == 1;
}

bool TrackRenderer::SettleOutput() {
    return !writer_ || writer_->Wait();
}

bool TrackRenderer::Append(WaveReader* source, std::uint64_t at, std::size_t count) {
    while (count > 0) {
        if (gather_[gatherSide_]->bytes == kGatherBytes && !FlushOutput())
            return false;
        Gathered& g = *gather_[gatherSide_];
        if (g.bytes == 0)
            g.start = AlignedLike(g.memory.get(), kWrittenHeaderBytes + handedOver_);
        const std::size_t part = std::min(count, kGatherBytes - g.bytes);
        unsigned char* to = g.start + g.bytes;
        if (!source) {
            std::memset(to, 0, part);
        } else if (part < kCopyBlock) {
            // The buffer's first short piece decides how the buffer's pieces are read.
            if (g.pieces.empty() && g.own.empty())
                g.inPlace = ReadsInPlace(*source);
            if (platform::kPositionalReads &&
                static_cast<int>(++pieceTurn_ % kShareSteps) < shareOfReads_) {
                // Every short piece's turn comes round in kShareSteps; the writer reads
                // shareOfReads_ of them.
                g.pieces.push_back({g.bytes, part, source, at});
            } else if (g.inPlace) {
                // Read in one batch with the others when the buffer is handed over.
                Gathered::Add(g.own, {g.bytes, part, source, at});
            } else {
                ReadShifted(*source, at, to, part, Stage());
            }
        } else if (ReadsInPlace(*source)) {
            // A whole block: read with the buffer's other pieces when it is handed over, in one
            // request with the blocks next to it.
            if (g.pieces.empty() && g.own.empty())
                g.inPlace = true;
            if (g.inPlace)
                Gathered::Add(g.own, {g.bytes, part, source, at});
            else
                source->ReadAt(at, to, part);
        } else {
            ReadShifted(*source, at, to, part, Stage());
        }
        g.bytes += part;
        at += part;
        count -= part;
    }
    return true;
}

// Progress moves and the pump runs after every block of a stretch of one block or more, and
// otherwise once a block's worth of short pieces has been produced: the dialog stays live and
// Cancel is seen within a block, whatever the number of events.
bool TrackRenderer::Produced(std::uint32_t bytes, bool pump) {
    Written += bytes;
    unreported_ += bytes;
    if (!pump && unreported_ < kCopyBlock)
        return true;
    ui_.Advance(unreported_);
    unreported_ = 0;
    if (ui_.Cancelled())
        return false;
    ui_.ProcessMessages();
    return true;
}

bool TrackRenderer::WriteSilence(BytePos count) {
    const bool blocks = count >= kCopyBlock;
    while (count > 0) {
        const BytePos block = std::min<BytePos>(count, kCopyBlock);
        if (!Append(nullptr, 0, block) || !Produced(block, blocks))
            return false;
        count -= block;
    }
    return true;
}

WaveReader* TrackRenderer::Source(std::int32_t source) {
    TrackSource& s = sources_[static_cast<std::size_t>(source)];
    s.lastUse = ++uses_;
    if (s.reader)
        return s.reader.get();
    if (s.path.empty()) {
        // The folder is searched for a name that differs in letter case once per track; the
        // path keeps the name as found, so reopening it later needs no search.
        s.path = sel_.DriveRoot + "\\" + sel_.SongName() + "\\" + s.name;
        if (s.name.find_first_of("\\/") == std::string::npos) {
            const std::string native = platform::NativePath(s.path);
            const std::size_t cut = native.find_last_of("\\/");
            if (!native.empty() && cut != std::string::npos)
                s.path.replace(s.path.size() - s.name.size(), s.name.size(),
                               native.substr(cut + 1));
        }
    }
    std::unique_ptr<WaveReader> reader = OpenWaveData(s.path, &Why);
    if (!reader)
        return nullptr;
    if (openSources_ == kOpenSources) {
        // Closes the least recently used open source, once nothing gathered or being written
        // is still to be read from it.
        SettleOutput();
        ReadOwnPieces(*gather_[gatherSide_], true);
        TrackSource* oldest = nullptr;
        for (TrackSource& other : sources_)
            if (other.reader && (!oldest || other.lastUse < oldest->lastUse))
                oldest = &other;
        oldest->reader.reset();
        --openSources_;
    }
    s.reader = std::move(reader);
    ++openSources_;
    return s.reader.get();
}

bool TrackRenderer::CopyRange() {
    const TrackRow& r = RowOf(CopyRow);
    WaveReader* source = Source(r.source);
    if (!source)
        return false;
    const std::uint64_t at = std::uint64_t{r.src} + (Pos - r.start);
    const BytePos count = End - Pos;
    const std::uint64_t outputAt = kWrittenHeaderBytes + handedOver_ + gather_[gatherSide_]->bytes;
    if (count >= kKernelCopyBytes && AlignedAlike(source->DataStart() + at, outputAt)) {
        if (!FlushOutput() || !SettleOutput())
            return false;
        source->Rewind();
        source->Skip(at);
        const bool ok = CopyBlocks(*source, *out_, count,
                                   [this](std::uint32_t bytes) { return Produced(bytes, true); });
        handedOver_ = out_->Written();
        return ok;
    }
    // count / 65536 full blocks, then the last, possibly empty, one.
    const std::uint32_t fullBlocks = count / kCopyBlock;
    for (std::uint32_t i = 0; i <= fullBlocks; ++i) {
        const std::uint32_t bytes = i < fullBlocks ? kCopyBlock : count % kCopyBlock;
        if (!Append(source, at + std::uint64_t{i} * kCopyBlock, bytes) ||
            !Produced(bytes, fullBlocks > 0))
            return false;
    }
    return true;
}

void TrackRenderer::FindCoveringEvent() {
    // Admit every event that has started by Pos; drop those that ended. The heap keeps the
    // latest-listed admitted event on top, and Pos never moves back, so an event that has
    // ended never covers again.
    auto later = [this](std::size_t a, std::size_t b) { return rows_[a].row < rows_[b].row; };
    while (admitted_ < byStart_.size() && rows_[byStart_[admitted_]].start <= Pos) {
        active_.push_back(byStart_[admitted_++]);
        std::push_heap(active_.begin(), active_.end(), later);
    }
    while (!active_.empty() && rows_[active_.front()].end <= Pos) {
        std::pop_heap(active_.begin(), active_.end(), later);
        active_.pop_back();
    }
    if (active_.empty()) {
        CurRow = 0;
        End = Pos;
        return;
    }
    const TrackRow& top = rows_[active_.front()];
    CurRow = NextRow = top.row;
    End = std::min(top.end, TrackEnd);
}

BytePos TrackRenderer::FindEventFrom() {
    // byStart_ from admitted_ on holds exactly the events starting after Pos.
    if (admitted_ >= byStart_.size())
        return TrackEnd;
    const BytePos start = rows_[byStart_[admitted_]].start;
    NextRow = rows_[byStart_[admitted_]].row;
    for (std::size_t k = admitted_ + 1; k < byStart_.size() && rows_[byStart_[k]].start == start;
         ++k)
        NextRow = std::max(NextRow, rows_[byStart_[k]].row);
    return start;
}

BytePos TrackRenderer::FindNextStart() {
    End = FindEventFrom();
    return End - Pos;
}

void TrackRenderer::ClipAtNextStart() {
    for (std::size_t k = admitted_; k < byStart_.size(); ++k) {
        const TrackRow& r = rows_[byStart_[k]];
        if (r.start >= End)
            break;
        if (r.row > CurRow) {
            End = r.start;
            NextRow = r.row;
            break;
        }
    }
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
    SettleOutput();
    const int error = out_ ? out_->Error() : 0;
    Explain(OutBase + ".wav", error == 0 && ui_.Cancelled() ? std::string(kReasonCancelled)
                                                            : SystemReason(error ? error : EIO));
    // The file goes: what is still gathered need not be written.
    if (gather_[gatherSide_])
        gather_[gatherSide_]->Clear();
    CloseOutput();
    platform::DeleteFile(OutBase);
    return false;
}

} // namespace th
