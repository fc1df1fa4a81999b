#pragma once
// Renders one track of a song into one continuous mono 16-bit WAV file on the computer, by
// carrying out the track's plan (transfer/TrackPlan.h): each stretch of the output is copied
// from its source or written as zero bytes, in order.
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

class WaveReader;
class WaveWriter;
class OutputWriter;

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
    // Writes what is still buffered, fixes the output's sizes and closes it; false when that
    // failed.
    bool CloseOutput();
    // Copies [Pos, End) of the current stretch from its source.
    bool CopyRange();
    // Writes `count` zero bytes.
    bool WriteSilence(BytePos count);
    static BytePos TimecodeToBytes(std::string_view text);

    // Renderer state.
    std::int32_t CurRow = 0; // the event row of the stretch being written; 0 in a gap
    BytePos Written = 0;     // audio bytes produced for the track so far
    BytePos Pos = 0;         // the stretch being written: [Pos, End)
    BytePos End = 0;
    BytePos TrackEnd = 0;
    TrackPlan Plan; // of the track being rendered
    std::string OutBase;
    // Why the last RenderTrack returned false: the file concerned and the first reason.
    Failure Why;

private:
    // A source file of the track, found in the song folder once and kept open while it is
    // among the most recently used ones.
    struct Source {
        std::string path; // as found in the song folder; empty until first needed
        std::unique_ptr<WaveReader> reader;
        std::uint64_t lastUse = 0;
        std::vector<bool> fetched; // blocks of the file read once already (see CopyRange)
    };
    // One block of a source in memory: file offsets [index, index + 1) * kBlockBytes.
    struct Block {
        std::int32_t source = -1;
        std::uint64_t index = 0;
        std::uint64_t lastUse = 0;
        std::unique_ptr<unsigned char[]> memory;
        unsigned char* bytes = nullptr; // page-aligned inside memory
    };
    WaveReader* Open(std::int32_t source);
    const Block* Cached(std::int32_t source, std::uint64_t index);
    const Block* Load(std::int32_t source, WaveReader& reader, std::uint64_t index);
    // Room for the next bytes of the output, writing the buffer out when it is full.
    std::size_t Room();
    // Hands the buffered bytes to be written; false when a write failed.
    bool Flush();
    // Waits until everything handed over is written; false when a write failed.
    bool Settle();
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
    const PlanStretch* stretch_ = nullptr; // the one being written
    std::unique_ptr<WaveWriter> out_;
    // The output buffers, filled in turn while writer_ writes the others; their bytes stand
    // where they go in the file, modulo their size, so that every write but the first starts
    // at a multiple of it.
    static constexpr std::size_t kOutBuffers = 3;
    std::unique_ptr<unsigned char[]> outMemory_[kOutBuffers];
    unsigned char* outBuffers_[kOutBuffers] = {};
    unsigned char* outBuffer_ = nullptr;  // the one being filled
    std::size_t outSide_ = 0;             // its index
    std::size_t outFrom_ = 0, outTo_ = 0; // [outFrom_, outTo_) of outBuffer_ to write
    std::unique_ptr<OutputWriter> writer_;
    bool writerTried_ = false;    // whether a writer thread was asked for
    std::vector<Source> sources_; // as Plan.sources
    std::vector<Block> blocks_;
    std::size_t openSources_ = 0;
    std::uint64_t uses_ = 0;
    std::uint32_t unreported_ = 0; // bytes produced since the progress bar last moved
};

} // namespace th
