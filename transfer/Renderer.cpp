#include "transfer/Renderer.h"

#include "platform/Platform.h"
#include "song/Tc2w.h"
#include "transfer/WaveFile.h"

#include <algorithm>
#include <array>
#include <cerrno>

namespace th {

namespace {
// Silence goes out in blocks of this size from one zeroed buffer, whatever the gap's length.
const std::array<char, kCopyBlock> kZeros{};
} // namespace

TrackRenderer::TrackRenderer(TransferUi& ui, const Selection& sel, const SongEventTable& table)
    : ui_(ui), sel_(sel), table_(table) {}

TrackRenderer::~TrackRenderer() = default;

BytePos TrackRenderer::TimecodeToBytes(const std::string& text) {
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
    return Finish();
}

bool TrackRenderer::PrepareTrack(int n) {
    rows_.clear();
    const std::int32_t count =
        std::clamp<std::int32_t>(table_.EventCount, 0, SongEventTable::kRows);
    rowIndex_.assign(static_cast<std::size_t>(count) + 1, -1);
    for (std::int32_t i = 1; i <= count; ++i) {
        const SongEvent& e = table_.Row(i);
        if (e.DestChannel != n)
            continue;
        rowIndex_[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(rows_.size());
        rows_.push_back({i, TimecodeToBytes(e.DestIn), TimecodeToBytes(e.DestOut),
                         e.IsSilence() ? 0u : TimecodeToBytes(e.SourceIn), e.IsSilence()});
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
    for (std::size_t k = 0; k < rows_.size(); ++k)
        if (rows_[k].start < rows_[k].end && rows_[k].start < TrackEnd)
            byStart_.push_back(k);
    std::stable_sort(byStart_.begin(), byStart_.end(), [this](std::size_t a, std::size_t b) {
        return rows_[a].start < rows_[b].start;
    });

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
    out_ = CreateWaveFile(OutBase, static_cast<std::uint32_t>(sel_.SampleRate), &Why);
    if (!out_)
        Why.file = final; // the user knows the track's file by its final name
    return out_ != nullptr;
}

bool TrackRenderer::CloseOutput() {
    source_.reset();
    sourcePath_.clear();
    if (!out_)
        return true;
    const bool ok = out_->Close();
    if (!ok)
        Explain(OutBase + ".wav", SystemReason(out_->Error()));
    out_.reset();
    return ok;
}

bool TrackRenderer::AfterBlock(std::uint32_t bytes) {
    ui_.Advance(bytes);
    Written += bytes;
    if (ui_.Cancelled())
        return false;
    ui_.ProcessMessages();
    return true;
}

bool TrackRenderer::WriteSilence(BytePos count) {
    while (count > 0) {
        const BytePos block = std::min<BytePos>(count, kCopyBlock);
        if (!out_->Write(kZeros.data(), block) || !AfterBlock(block))
            return false;
        count -= block;
    }
    return true;
}

bool TrackRenderer::CopyRange() {
    const std::string source =
        sel_.DriveRoot + "\\" + sel_.SongName() + "\\" + table_.Row(CopyRow).SourceFile;
    if (source_ && sourcePath_ == source) {
        source_->Rewind();
    } else {
        source_ = OpenWaveData(source, &Why);
        sourcePath_ = source;
        if (!source_)
            return false;
    }
    const TrackRow& r = RowOf(CopyRow);
    source_->Skip(static_cast<std::uint64_t>(r.src) + (Pos - r.start));
    return CopyBlocks(*source_, *out_, End - Pos,
                      [this](std::uint32_t bytes) { return AfterBlock(bytes); });
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
    const int error = out_ ? out_->Error() : 0;
    Explain(OutBase + ".wav", error == 0 && ui_.Cancelled() ? std::string(kReasonCancelled)
                                                            : SystemReason(error ? error : EIO));
    CloseOutput();
    platform::DeleteFile(OutBase);
    return false;
}

} // namespace th
