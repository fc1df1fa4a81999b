#include "transfer/Renderer.h"

#include "platform/Platform.h"
#include "transfer/WaveFile.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace th {

namespace {

// Sources are read in blocks of this size, at multiples of it in the file: a card answers a
// few large requests far sooner than many small ones.
constexpr std::size_t kBlockBytes = 1 << 20;
// Output is written in writes of this size.
constexpr std::size_t kOutBytes = 512 << 10;
// Sources a track keeps open at once; the least recently used one is closed for a new one.
constexpr std::size_t kOpenSources = 16;
// The output buffers' bytes stand this far from their file offsets' place within a page.
// Source audio mostly starts at byte 44 of its file and the output's at byte 46: with the
// buffers aligned like the output, every read into them lands 2 bytes after its place in the
// system's page, and on some processors (measured: AMD EPYC) the system's copy then runs at a
// third of its speed, as a copy to an address a little past its source's within a page does.
// Half a page away, reads and the copies out of blocks run at full speed, and writes stay
// aligned like the file within each 64-byte line.
constexpr std::size_t kOutShift = kPageBytes / 2;

// Switches for measuring (read once): TRACKHAUL_BLOCKS (blocks kept, 0: none),
// TRACKHAUL_DIRECT (0: long stretches through the blocks too), TRACKHAUL_WRITER (0: no
// writer thread), TRACKHAUL_SHIFT (0: output buffers aligned like the output file).
struct Tuning {
    std::size_t blocks = 4;
    bool direct = true;
    bool writer = true;
    bool shift = true;
};
const Tuning& Tuned() {
    static const Tuning tuning = [] {
        Tuning t;
        if (const char* v = std::getenv("TRACKHAUL_BLOCKS"))
            t.blocks = std::strtoul(v, nullptr, 10);
        if (const char* v = std::getenv("TRACKHAUL_DIRECT"))
            t.direct = std::strcmp(v, "0") != 0;
        if (const char* v = std::getenv("TRACKHAUL_WRITER"))
            t.writer = std::strcmp(v, "0") != 0;
        if (const char* v = std::getenv("TRACKHAUL_SHIFT"))
            t.shift = std::strcmp(v, "0") != 0;
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

} // namespace

// Writes the output's full buffers on a thread of its own, in the order handed over, while the
// renderer reads the sources into the next buffer.
class OutputWriter {
public:
    OutputWriter() : thread_([this] { Run(); }) {}
    ~OutputWriter() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    // Queues `count` bytes at `data` for `out`; both stay untouched until the write is done.
    // Returns the write's number for WaitFor.
    std::uint64_t Hand(WaveWriter& out, const unsigned char* data, std::size_t count) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back({&out, data, count});
            ++handed_;
        }
        changed_.notify_all();
        return handed_;
    }
    // Waits until the writes up to number `n` are done; false when any write failed.
    bool WaitFor(std::uint64_t n) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return done_ >= n; });
        return !failed_;
    }
    std::uint64_t Handed() const { return handed_; }
    // A new output: earlier failures are forgotten. Only once everything handed is done.
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        failed_ = false;
    }

private:
    struct Job {
        WaveWriter* out;
        const unsigned char* data;
        std::size_t count;
    };
    void Run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stop_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            const Job job = jobs_.front();
            lock.unlock();
            // A write after a failed one is refused by the output itself.
            const bool ok = job.out->Write(job.data, job.count);
            lock.lock();
            jobs_.pop_front();
            ++done_;
            failed_ = failed_ || !ok;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    std::uint64_t handed_ = 0; // written by the renderer's thread only
    std::uint64_t done_ = 0;
    bool failed_ = false;
    bool stop_ = false;
    std::thread thread_; // last: starts once the rest is ready
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
    for (const PlanStretch& s : Plan.stretches) {
        stretch_ = &s;
        CurRow = s.row;
        Pos = s.start;
        End = s.end;
        const bool ok = s.source < 0 ? WriteSilence(End - Pos) : CopyRange();
        // A click on Cancel that the last pump processed stops the track here too.
        if (!ok || ui_.Cancelled())
            return Fail();
    }
    stretch_ = nullptr;
    ui_.Advance(unreported_);
    unreported_ = 0;
    return Finish();
}

bool TrackRenderer::PrepareTrack(int n) {
    Plan = PlanTrack(table_, n);
    TrackEnd = Plan.end;
    sources_.clear();
    sources_.resize(Plan.sources.size());
    openSources_ = 0;
    for (Block& b : blocks_)
        b.source = -1; // they hold the last track's sources
    if (TrackEnd == 0)
        return false;
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
    if (!writerTried_ && Tuned().writer) {
        writerTried_ = true;
        try {
            writer_ = std::make_unique<OutputWriter>();
        } catch (const std::system_error&) {
            // No thread to be had: the renderer writes itself.
        }
    }
    if (writer_)
        writer_->Reset(); // the last track's writes were all waited for
    const std::size_t shift = Tuned().shift ? kOutShift : 0;
    for (std::size_t k = 0; k < (writer_ ? kOutBuffers : 1); ++k)
        if (!outBuffers_[k])
            outBuffers_[k] = PageAligned(outMemory_[k], kOutBytes + shift) + shift;
    outSide_ = 0;
    outBuffer_ = outBuffers_[0];
    outFrom_ = outTo_ = kWrittenHeaderBytes % kOutBytes;
    return true;
}

bool TrackRenderer::CloseOutput() {
    bool ok = true;
    if (out_) {
        ok = Flush();
        ok = Settle() && ok;
        ok = out_->Close() && ok;
        if (!ok)
            Explain(OutBase + ".wav", SystemReason(out_->Error()));
        out_.reset();
    }
    for (Source& s : sources_)
        s.reader.reset();
    openSources_ = 0;
    return ok;
}

bool TrackRenderer::Flush() {
    const bool full = outTo_ == kOutBytes;
    bool ok = true;
    if (!writer_) {
        ok = outTo_ == outFrom_ || out_->Write(outBuffer_ + outFrom_, outTo_ - outFrom_);
    } else {
        if (outTo_ > outFrom_)
            writer_->Hand(*out_, outBuffer_ + outFrom_, outTo_ - outFrom_);
        if (full) {
            // The next buffer is free once its last write, kOutBuffers - 1 writes ago, is done.
            outSide_ = (outSide_ + 1) % kOutBuffers;
            outBuffer_ = outBuffers_[outSide_];
            const std::uint64_t handed = writer_->Handed();
            ok = writer_->WaitFor(handed < kOutBuffers ? 0 : handed - (kOutBuffers - 1));
        }
    }
    outFrom_ = outTo_ = full ? 0 : outTo_;
    return ok;
}

bool TrackRenderer::Settle() {
    return !writer_ || writer_->WaitFor(writer_->Handed());
}

std::size_t TrackRenderer::Room() {
    if (outTo_ == kOutBytes && !Flush())
        return 0;
    return kOutBytes - outTo_;
}

// Progress moves and the pump runs once per block of output, whatever the number of events:
// the dialog stays live and Cancel is seen within a block.
bool TrackRenderer::Produced(std::size_t bytes) {
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

bool TrackRenderer::WriteSilence(BytePos count) {
    while (count > 0) {
        const std::size_t room = Room();
        if (room == 0)
            return false;
        const std::size_t part = std::min<std::size_t>(count, room);
        std::memset(outBuffer_ + outTo_, 0, part);
        outTo_ += part;
        count -= static_cast<BytePos>(part);
        if (!Produced(part))
            return false;
    }
    return true;
}

WaveReader* TrackRenderer::Open(std::int32_t source) {
    Source& s = sources_[static_cast<std::size_t>(source)];
    s.lastUse = ++uses_;
    if (s.reader)
        return s.reader.get();
    if (s.path.empty()) {
        // The folder is searched for a name that differs in letter case once per track; the
        // path keeps the name as found, so reopening it later needs no search.
        const std::string& name = Plan.sources[static_cast<std::size_t>(source)];
        s.path = sel_.DriveRoot + "\\" + sel_.SongName() + "\\" + name;
        if (name.find_first_of("\\/") == std::string::npos) {
            const std::string native = platform::NativePath(s.path);
            const std::size_t cut = native.find_last_of("\\/");
            if (!native.empty() && cut != std::string::npos)
                s.path.replace(s.path.size() - name.size(), name.size(), native.substr(cut + 1));
        }
    }
    std::unique_ptr<WaveReader> reader = OpenWaveData(s.path, &Why);
    if (!reader)
        return nullptr;
    if (openSources_ == kOpenSources) {
        Source* oldest = nullptr;
        for (Source& other : sources_)
            if (other.reader && (!oldest || other.lastUse < oldest->lastUse))
                oldest = &other;
        oldest->reader.reset();
        --openSources_;
    }
    s.reader = std::move(reader);
    ++openSources_;
    return s.reader.get();
}

const TrackRenderer::Block* TrackRenderer::Cached(std::int32_t source, std::uint64_t index) {
    for (Block& b : blocks_) {
        if (b.source == source && b.index == index) {
            b.lastUse = ++uses_;
            return &b;
        }
    }
    return nullptr;
}

const TrackRenderer::Block* TrackRenderer::Load(std::int32_t source, WaveReader& reader,
                                                std::uint64_t index) {
    Block* slot = nullptr;
    if (blocks_.size() < Tuned().blocks) {
        slot = &blocks_.emplace_back();
        slot->bytes = PageAligned(slot->memory, kBlockBytes);
    } else {
        slot =
            &*std::min_element(blocks_.begin(), blocks_.end(), [](const Block& a, const Block& b) {
                return a.lastUse < b.lastUse;
            });
    }
    // The block's audio: file offsets index * kBlockBytes on, but none before the data.
    const std::uint64_t first = index * kBlockBytes;
    const std::uint64_t from = std::max(first, reader.DataStart());
    reader.ReadAt(from - reader.DataStart(), slot->bytes + (from - first),
                  static_cast<std::size_t>(first + kBlockBytes - from));
    slot->source = source;
    slot->index = index;
    slot->lastUse = ++uses_;
    std::vector<bool>& fetched = sources_[static_cast<std::size_t>(source)].fetched;
    if (fetched.size() <= index)
        fetched.resize(index + 1);
    fetched[index] = true;
    return slot;
}

// A stretch is copied from blocks of its source kept in memory, so that short events from a
// few sources cost a few large reads whatever their order. A long stretch, and a piece of a
// block read once before (the system keeps those bytes), is read straight into place.
bool TrackRenderer::CopyRange() {
    const PlanStretch& s = *stretch_;
    WaveReader* reader = Open(s.source);
    if (!reader)
        return false;
    Source& source = sources_[static_cast<std::size_t>(s.source)];
    const Tuning& tuning = Tuned();
    std::uint64_t at = s.sourceAt + (Pos - s.start);
    std::size_t count = End - Pos;
    while (count > 0) {
        const std::size_t room = Room();
        if (room == 0)
            return false;
        unsigned char* to = outBuffer_ + outTo_;
        const std::uint64_t fileAt = reader->DataStart() + at;
        const std::uint64_t index = fileAt / kBlockBytes;
        const std::size_t inBlock = static_cast<std::size_t>(fileAt % kBlockBytes);
        std::size_t part = std::min(count, room);
        const Block* block = Cached(s.source, index);
        const bool fetched = index < source.fetched.size() && source.fetched[index];
        if (!block && ((tuning.direct && count >= kBlockBytes) || fetched || tuning.blocks == 0)) {
            reader->ReadAt(at, to, part);
        } else {
            if (!block)
                block = Load(s.source, *reader, index);
            part = std::min(part, kBlockBytes - inBlock);
            std::memcpy(to, block->bytes + inBlock, part);
        }
        outTo_ += part;
        at += part;
        count -= part;
        if (!Produced(part))
            return false;
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
    Settle();
    const int error = out_ ? out_->Error() : 0;
    Explain(OutBase + ".wav", error == 0 && ui_.Cancelled() ? std::string(kReasonCancelled)
                                                            : SystemReason(error ? error : EIO));
    outTo_ = outFrom_; // the file goes: what is buffered need not be written
    CloseOutput();
    platform::DeleteFile(OutBase);
    return false;
}

} // namespace th
