#pragma once
// Renders one track of a song into one continuous mono 16-bit WAV file on the computer.
//
// The rule: within 0 .. TrackEnd, each byte position p takes its byte from the event of the
// track listed last among those that cover p (start <= p < end): from that event's source at
// src + (p - start), or zero for a "(Silence)" event; zero where no event covers p.
#include "song/SongEvent.h"
#include "song/Types.h"
#include "transfer/Selection.h"
#include "transfer/TransferUi.h"

#include <memory>
#include <string>
#include <vector>

namespace th {

class WaveWriter;

class TrackRenderer {
public:
    TrackRenderer(TransferUi& ui, const Selection& sel, const SongEventTable& table);
    ~TrackRenderer();

    // Renders track n (1..8). True when the file was finished or the track has nothing to
    // render; false when it failed (the caller reports "Copy failed!").
    bool RenderTrack(int n);

    // Steps, public so that the dialog and the tests can reach them.
    bool PrepareTrack(int n);
    bool OpenOutput(int n);
    bool CloseOutput();
    bool CopyRange();
    bool WriteSilence(BytePos count);
    static BytePos TimecodeToBytes(const std::string& text);

    // The four searches over the rows of the current track.
    void FindCoveringEvent();
    void FindEventFrom();
    BytePos FindNextStart();
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

private:
    // Positions of one row of the track, converted once per track.
    struct TrackRow {
        std::int32_t row;
        BytePos start, end, src;
        bool silence;
    };
    bool Finish();
    void Fail();

    TransferUi& ui_;
    const Selection& sel_;
    const SongEventTable& table_;
    std::string destFolder_;
    std::vector<TrackRow> rows_; // rows of the current track, in list order
    std::unique_ptr<WaveWriter> out_;
};

} // namespace th
