#pragma once
// Renders one track of a song into one continuous mono 16-bit WAV file on the computer.
//
// The rule: within 0 .. TrackEnd, each byte position p takes its byte from the event of the
// track listed last among those that cover p (start <= p < end): from that event's source at
// src + (p - start), or zero for a "(Silence)" event; zero where no event covers p.
// Zero-length and reversed events cover nothing; nothing is written past TrackEnd.
#include "platform/Platform.h"
#include "song/SongEvent.h"
#include "song/Types.h"
#include "transfer/Selection.h"
#include "transfer/TransferUi.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace th {

class WaveReader;
class WaveWriter;
class BackgroundWriter;

class TrackRenderer {
public:
    TrackRenderer(TransferUi& ui, const Selection& sel, const SongEventTable& table);
    ~TrackRenderer();

    // Renders track n (1..8). True when the file was finished or the track has nothing to
    // render; false when it failed or was cancelled (the caller reports "Copy failed!", with
    // Why).
    bool RenderTrack(int n);

    // Steps, public so that the dialog and the tests can reach them.
    // Finds TrackEnd; false when the track has nothing to render.
    bool PrepareTrack(int n);
    // Asks before replacing "tr0N.wav" and creates OutBase (no extension).
    bool OpenOutput(int n);
    // Fixes the output's sizes and closes it; false when that failed.
    bool CloseOutput();
    // Copies End - Pos bytes of CopyRow's source, from src + (Pos - start).
    bool CopyRange();
    // Writes `count` zero bytes in bounded blocks.
    bool WriteSilence(BytePos count);
    static BytePos TimecodeToBytes(std::string_view text);

    // The searches over the rows of the current track. Pos only moves forward.
    // CurRow := the row listed last among those covering Pos (0 when none); End := its end.
    void FindCoveringEvent();
    // NextRow := the row starting first after Pos (ties to the later row); returns its start,
    // or TrackEnd when none starts before TrackEnd.
    BytePos FindEventFrom();
    // Gap at Pos: End := the next start (or TrackEnd); returns End - Pos.
    BytePos FindNextStart();
    // Cuts the segment [Pos, End) at the start of any row listed after CurRow.
    void ClipAtNextStart();

    // Renderer state.
    std::int32_t CurRow = 0;
    std::int32_t NextRow = 0;
    std::int32_t CopyRow = 0;
    BytePos Written = 0;
    BytePos Pos = 0;
    BytePos End = 0;
    BytePos TrackStart = 0;
    BytePos TrackEnd = 0;
    std::string OutBase;
    // Why the last RenderTrack returned false: the file concerned and the first reason.
    Failure Why;

    // What one write of the output holds (defined with the renderer).
    struct Gathered;

    // How source bytes reach the output's buffers. On some hosts the system copies 5-8 times
    // slower between addresses aligned differently within 64 bytes; there they are read into
    // memory aligned like the source first and moved into place by the processor (Staged).
    // Elsewhere they are read straight into place, short pieces in batches (InPlace). Measured
    // picks one by timing a few reads once per process.
    enum class SourceReads { Measured, Staged, InPlace };
    // For the tests, which render both ways.
    static void SetSourceReads(SourceReads how);

private:
    friend class BackgroundWriter;
    // One row of the track with its positions, converted once per track.
    struct TrackRow {
        std::int32_t row;
        BytePos start, end, src;
        bool silence;
        std::int32_t source; // index into sources_; -1 for a silence
    };
    // One source file of the track, found in the song folder once and kept open while it is
    // among the most recently used ones.
    struct TrackSource {
        std::string name; // as the edit list gives it
        std::string path; // as found in the song folder; empty until first needed
        std::unique_ptr<WaveReader> reader;
        std::uint64_t lastUse = 0;
    };
    const TrackRow& RowOf(std::int32_t row) const;
    WaveReader* Source(std::int32_t source);
    bool Append(WaveReader* source, std::uint64_t at, std::size_t count);
    // Reads the pieces of `g` still to be read by this thread (all of them with `all`).
    void ReadOwnPieces(Gathered& g, bool all);
    // This thread's memory aligned like a source (see ReadShifted), taken when first needed.
    unsigned char* Stage();
    // Whether source bytes are read straight into place (see SourceReads).
    bool ReadsInPlace(WaveReader& source);
    // Hands what is gathered to the output, to be written while the next piece is gathered;
    // false when an earlier write failed.
    bool FlushOutput();
    // Waits until the output has written everything handed to it; false when a write failed.
    // Only then may this thread use out_ itself.
    bool SettleOutput();
    bool Produced(std::uint32_t bytes, bool pump);
    bool Finish();
    bool Fail();
    // Keeps the first reason of a failing track; what goes wrong while cleaning up follows
    // from it.
    void Explain(const std::string& file, const std::string& reason);

    TransferUi& ui_;
    const Selection& sel_;
    const SongEventTable& table_;
    std::string destFolder_;
    std::vector<TrackRow> rows_;         // rows of the track, in list order
    std::vector<std::size_t> byStart_;   // indexes into rows_ of non-empty rows, by start
    std::size_t admitted_ = 0;           // entries of byStart_ already admitted
    std::vector<std::size_t> active_;    // heap of admitted rows_, latest-listed on top
    std::vector<std::int32_t> rowIndex_; // table row -> index into rows_ (-1 elsewhere)
    std::unique_ptr<WaveWriter> out_;
    // Source bytes and silences are gathered and reach the file in large writes, which writer_
    // makes on a thread of its own from the other buffers of gather_ while one is filled.
    static constexpr std::size_t kGathers = 4;
    std::unique_ptr<Gathered> gather_[kGathers];
    std::unique_ptr<unsigned char[]> stageMemory_; // where this thread reads source bytes
    std::unique_ptr<platform::BatchReader> batch_; // this thread's reads of short pieces
    std::vector<platform::ReadRequest> requests_;
    int inPlace_ = -1;             // ReadsInPlace, once known (-1 before)
    std::size_t gatherSide_ = 0;   // the buffer being filled
    std::uint64_t handedOver_ = 0; // audio bytes handed to the output so far
    // Of every few short pieces, how many the writer reads itself (see FlushOutput).
    int shareOfReads_ = 0;
    unsigned pieceTurn_ = 0;
    std::unique_ptr<BackgroundWriter> writer_;
    // Bytes produced since the progress bar last moved.
    std::uint32_t unreported_ = 0;
    // The track's sources, each name once: a segment costs no name comparison, no open and
    // no folder search.
    std::vector<TrackSource> sources_;
    std::size_t openSources_ = 0;
    std::uint64_t uses_ = 0;
};

} // namespace th
