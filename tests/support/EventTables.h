#pragma once
// Event tables written in samples, for the tests of what a track plays.
#include "song/SongEvent.h"
#include "song/Tc2w.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Timecode of a sample position (44100 Hz, 30 fps non-drop, which reads back exactly).
inline std::string Tc(std::uint32_t samples) {
    return th::TTC2W().SamplesToTc(samples, 44100, 30, false);
}

struct Ev {
    int track;
    std::uint32_t start, end, src; // samples
    std::string file;              // empty: a silence event
};

// Makes `events` the table's rows, in order.
inline void Fill(th::SongEventTable& table, const std::vector<Ev>& events) {
    table.EventCount = static_cast<int>(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        th::SongEvent& e = table.Row(static_cast<int>(i + 1));
        e = th::SongEvent{};
        e.EntryNo = static_cast<int>(i + 1);
        e.DestChannel = events[i].track;
        e.DestIn = Tc(events[i].start);
        e.DestOut = Tc(events[i].end);
        e.EditKind = events[i].file.empty() ? "(Silence)" : "(Cut)";
        e.SourceFile = events[i].file;
        e.SourceIn = events[i].file.empty() ? "" : Tc(events[i].src);
    }
}

} // namespace testsupport
