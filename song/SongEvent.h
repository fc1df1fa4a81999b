#pragma once
// The events of one song's edit list in memory, one row per event line, in file order.
#include <cstdint>
#include <string>
#include <vector>

namespace th {

struct SongEvent {
    std::string EntryTag;           // "(Entry)"
    std::int32_t EntryNo = 0;       // "0001" gives 1
    std::string EditKind;           // "(Cut)" or "(Silence)"; only "(Silence)" is ever tested
    std::string SourceType;         // "F"; empty in a silence row
    std::string SourceFile;         // bare file name in the song folder, quotes removed
    std::int32_t SourceChannel = 0; // 1 in a silence row
    std::int32_t DestChannel = 0;   // the track, 1 to 8
    std::string SourceIn;           // timecode text: where the audio starts in the source
    std::string DestIn;             // timecode text: where the event starts on the track
    std::string DestOut;            // timecode text: first position after the event
    std::string Remainder;          // the rest of the line after the tenth field

    bool IsSilence() const { return EditKind == "(Silence)"; }
};

// 9999 rows numbered from 1. Rows 1..EventCount are valid; a fill never clears rows past it,
// and no reader looks past it.
class SongEventTable {
public:
    static constexpr int kRows = 9999;

    SongEventTable() : rows_(kRows) {}

    // Row r, 1 <= r <= kRows.
    SongEvent& Row(int r) { return rows_.at(static_cast<std::size_t>(r - 1)); }
    const SongEvent& Row(int r) const { return rows_.at(static_cast<std::size_t>(r - 1)); }

    std::int32_t EventCount = 0;

private:
    std::vector<SongEvent> rows_;
};

} // namespace th
