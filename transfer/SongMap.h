#pragma once
// A song's tracks as the import will render them, without rendering anything: per track its
// events in list order, where it ends, and which event plays where once overlaps are
// resolved. Positions are taken exactly as the track renderer takes them (byte positions of
// 16-bit mono audio, unsigned 32-bit, so a sample position counts modulo 2^31), which keeps
// the map and the rendered files in agreement.
#include "song/SongEvent.h"
#include "song/Types.h"
#include "transfer/TrackPlan.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace th {

// One event of a track, as listed.
struct MapEvent {
    std::int32_t row = 0;     // place in the edit list, 1 for the first event line
    std::int32_t entryNo = 0; // the list's entry number
    bool silence = false;     // a "(Silence)" event: plays zero samples
    std::string sourceFile;   // empty for a silence event
    SampleCount sourceIn = 0; // samples
    SampleCount destIn = 0;
    SampleCount destOut = 0;
    std::string sourceInTc, destInTc, destOutTc; // the list's timecode texts
    SampleCount played = 0; // samples of this event that are heard (or, for silence, kept)
    // [from, to) stretches of the event that are not heard, hidden by a later event or past
    // the track's end; in time order.
    std::vector<std::pair<SampleCount, SampleCount>> hidden;
    bool missing = false; // an audio event whose source file is not in the song folder
    bool oddTime = false; // one of its times is not well formed (see SongMap::warnings)
};

// A stretch of a track taken by one event: [start, end) in samples.
struct MapStretch {
    SampleCount start = 0;
    SampleCount end = 0;
    std::size_t event = 0;    // index into TrackMap::events
    SampleCount sourceAt = 0; // sample of the source at `start`
};

struct TrackMap {
    int track = 0;                 // 1..8
    SampleCount end = 0;           // the rendered file's length in samples; 0: no file
    std::vector<MapEvent> events;  // the track's events in list order
    std::vector<MapStretch> plays; // what the file holds, in time order; gaps between are
                                   // zero samples, as is a silence event's stretch
    TrackPlan plan;                // what the import carries out for this track
};

struct SongMap {
    std::string song;
    std::int32_t sampleRate = 0; // Hz; 0 when unknown
    std::array<TrackMap, 8> tracks;
    // "Warning: ..." texts about the list's times, as the import gives them (ListWarnings.h).
    std::vector<std::string> warnings;
    SampleCount Length() const; // the longest track's end
};

// The map of the first `table.EventCount` rows.
SongMap BuildSongMap(const SongEventTable& table, const std::string& song, std::int32_t sampleRate);

// An edit list that the import would refuse; what() is the import's message.
class SongListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the edit list at `adlPath` as the import reads it and maps it. Throws SongListError
// "This drive isn't ZT-6." when there is no list or it can't be opened, "Too many events!"
// when it holds more events than the import accepts, and the import's own errors for a list
// it can't read (a field that is no integer, an unclosed event list). The map's warnings and
// its events' `missing` and `oddTime` marks are filled in.
SongMap ReadSongMap(const std::string& adlPath, const std::string& song, std::int32_t sampleRate);

// "h:mm:ss.mmm" of a sample position (milliseconds rounded down); "?" without a rate.
std::string FormatTime(SampleCount samples, std::int32_t sampleRate);

} // namespace th
