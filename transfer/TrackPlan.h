#pragma once
// What one rendered track holds, as plain data: the stretches of the output in order, each
// taken from a source file, or zero bytes, and where the track ends. The renderer carries a
// plan out and the song map shows it, so the rule of which event is heard where lives here
// only.
//
// The rule: the track ends where its last-ending audio event ends, unless a silence listed
// after that event starts at or before that end and reaches at least as far: then it ends
// where the silence starts, and audio listed from there on that reaches at least as far
// extends it again. Within 0 .. end, each byte position p takes its byte from the event of
// the track listed last among those that cover p (start <= p < end): from that event's source
// at src + (p - start), or zero for a "(Silence)" event; zero where no event covers p.
// Zero-length and reversed events cover nothing.
#include "song/SongEvent.h"
#include "song/Types.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace th {

// Output bytes [start, end) of a track, all from one event or all a gap.
struct PlanStretch {
    BytePos start = 0;
    BytePos end = 0;
    std::int32_t row = 0;       // the event's row in the table; 0 for a gap
    std::int32_t source = -1;   // index into TrackPlan::sources; -1 for a silence or a gap
    std::uint64_t sourceAt = 0; // offset in the source's audio data of the byte at `start`
};

struct TrackPlan {
    int track = 0;
    BytePos end = 0;                    // bytes of audio in the track's file; 0: no file is made
    std::vector<std::string> sources;   // source file names as listed, each once
    std::vector<PlanStretch> stretches; // [0, end) in order, without holes
};

// A timecode text as a byte position (twice its sample count, wrapping at 32 bits).
BytePos TimecodeBytes(std::string_view timecode);

// The plan of track `track` (1..8) from the first table.EventCount rows.
TrackPlan PlanTrack(const SongEventTable& table, int track);

} // namespace th
