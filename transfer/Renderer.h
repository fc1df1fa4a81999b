#pragma once
// Renders one track of a song into one continuous mono 16-bit WAV file on the computer, by
// carrying out the track's plan (transfer/TrackPlan.h): each stretch of the output is copied
// from its source or written as zero bytes. The output is cut into pieces of 512 KiB, each
// filled and written at its place by one of two workers (the calling thread and a helper),
// so that a track of many short events is read on two cores.
#include "song/SongEvent.h"
#include "song/Types.h"
#include "transfer/Failure.h"
#include "transfer/Selection.h"
#include "transfer/TrackPlan.h"
#include "transfer/TransferUi.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace th {

class WaveWriter;

class TrackRenderer {
public:
    TrackRenderer(TransferUi& ui, const Selection& sel, const SongEventTable& table);
    ~TrackRenderer();

    // Renders track n (1..8). True when the file was finished or the track has nothing to
    // render; false when it failed or was cancelled (the caller reports "Copy failed!", with
    // Why).
    bool RenderTrack(int n);

    // Steps, public so that the dialog and the tests can reach them.
    // Plans the track and sets TrackEnd; false when the track has nothing to render.
    bool PrepareTrack(int n);
    // Asks before replacing "tr0N.wav" and creates OutBase (no extension).
    bool OpenOutput(int n);
    // Fixes the output's sizes and closes it; false when that failed.
    bool CloseOutput();
    static BytePos TimecodeToBytes(std::string_view text);

    // Renderer state.
    BytePos Written = 0; // audio bytes of the track done so far, as the progress bar shows
    BytePos TrackEnd = 0;
    TrackPlan Plan; // of the track being rendered
    std::string OutBase;
    // Why the last RenderTrack returned false: the file concerned and the first reason.
    Failure Why;

private:
    class Worker;
    struct Shared;
    // Takes pieces of the output until none is left or the track stops; `progress` (on the
    // calling thread only) moves the bar. False when a piece failed or `progress` said stop.
    bool Work(Worker& worker, Shared& shared, bool progress);
    // Moves the progress bar by `bytes` plus what the helper finished since; runs the pump once
    // per block. False on Cancel.
    bool Produced(std::size_t bytes);
    bool Finish();
    bool Fail();
    // Keeps the first reason of a failing track; what goes wrong while cleaning up follows
    // from it.
    void Explain(const std::string& file, const std::string& reason);

    TransferUi& ui_;
    const Selection& sel_;
    const SongEventTable& table_;
    std::string destFolder_;
    std::unique_ptr<WaveWriter> out_;
    std::vector<std::string> paths_; // of Plan.sources, as found in the song folder
    // The calling thread's worker, and the helper thread's; kept from track to track with
    // their memory.
    std::unique_ptr<Worker> workers_[2];
    Shared* shared_ = nullptr;     // of the track being rendered
    std::uint64_t helperSeen_ = 0; // the helper's finished bytes already on the bar
    std::uint32_t unreported_ = 0; // bytes done since the progress bar last moved
};

} // namespace th
