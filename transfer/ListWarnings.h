#pragma once
// What a song's edit list says that the import reads in its own way without a word: times
// that are not well formed (a field without digits reads as 0, as the recorder reads it) and
// takes whose file is not in the song folder. Nothing here changes how a list is read.
#include "song/SongEvent.h"
#include "transfer/SongMap.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace th {

// A time field of one event that is not well formed.
struct TimeWarning {
    std::int32_t row = 0; // row of the event table, 1 for the first event line
    std::string text;     // "Warning: SONG.ADL, line 20: dest out '...' is not ..."
};

// The warnings for the events of the first `table.EventCount` rows on the tracks ticked in
// `tracks` (track N at index N-1), in list order and, within an event, in the order source in,
// dest in, dest out. `eventListLine` is EventListLine of the list (row r stood on the line r
// after it); the file's name is what follows the last backslash of `adlPath`. The time read is
// given as FormatTime gives it, at `sampleRate`.
std::vector<TimeWarning> FindTimeWarnings(const SongEventTable& table, std::size_t eventListLine,
                                          const std::string& adlPath, std::int32_t sampleRate,
                                          const std::array<bool, 8>& tracks);

// The texts of the warnings alone.
std::vector<std::string> WarningTexts(const std::vector<TimeWarning>& warnings);

// Lists the warnings in `map` and marks the events they concern (MapEvent::oddTime).
void AddTimeWarnings(SongMap& map, const std::vector<TimeWarning>& warnings);

// Marks every audio event whose source file is not in `songFolder` (MapEvent::missing); names
// are looked up as the import opens them, ignoring letter case.
void MarkMissingSources(SongMap& map, const std::string& songFolder);

} // namespace th
