#include "transfer/SongMap.h"

#include "platform/Platform.h"
#include "song/Adl.h"
#include "song/Errors.h"
#include "song/Tc2w.h"
#include "transfer/ListWarnings.h"
#include "transfer/TrackPlan.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace th {

namespace {

// The map's view of a track's plan: what each event plays, and what of it is not heard.
void MapTrack(TrackMap& map, const TrackPlan& plan) {
    map.end = plan.end / 2;
    std::vector<SampleCount> from(map.events.size()); // where each event's next hidden part starts
    for (std::size_t k = 0; k < map.events.size(); ++k)
        from[k] = map.events[k].destIn;
    for (const PlanStretch& s : plan.stretches) {
        if (s.row == 0)
            continue;
        // The track's events are in list order: the row's event by a binary search.
        const auto it =
            std::lower_bound(map.events.begin(), map.events.end(), s.row,
                             [](const MapEvent& e, std::int32_t row) { return e.row < row; });
        const auto k = static_cast<std::size_t>(it - map.events.begin());
        const MapStretch play{s.start / 2, s.end / 2, k, static_cast<SampleCount>(s.sourceAt / 2)};
        map.plays.push_back(play);
        MapEvent& e = map.events[k];
        e.played += play.end - play.start;
        if (from[k] < play.start)
            e.hidden.emplace_back(from[k], play.start);
        from[k] = play.end;
    }
    for (std::size_t i = 0; i < map.events.size(); ++i)
        if (from[i] < map.events[i].destOut)
            map.events[i].hidden.emplace_back(from[i], map.events[i].destOut);
}

} // namespace

SampleCount SongMap::Length() const {
    SampleCount length = 0;
    for (const TrackMap& t : tracks)
        length = std::max(length, t.end);
    return length;
}

SongMap BuildSongMap(const SongEventTable& table, const std::string& song,
                     std::int32_t sampleRate) {
    SongMap map;
    map.song = song;
    map.sampleRate = sampleRate;
    for (int n = 1; n <= 8; ++n)
        map.tracks[static_cast<std::size_t>(n - 1)].track = n;
    const std::int32_t count = std::clamp<std::int32_t>(table.EventCount, 0, SongEventTable::kRows);
    for (std::int32_t r = 1; r <= count; ++r) {
        const SongEvent& e = table.Row(r);
        if (e.DestChannel < 1 || e.DestChannel > 8)
            continue;
        MapEvent m;
        m.row = r;
        m.entryNo = e.EntryNo;
        m.silence = e.IsSilence();
        m.destInTc = e.DestIn.str();
        m.destOutTc = e.DestOut.str();
        if (!m.silence) {
            m.sourceFile = e.SourceFile;
            m.sourceInTc = e.SourceIn.str();
            m.sourceIn = TimecodeBytes(e.SourceIn) / 2;
        }
        m.destIn = TimecodeBytes(e.DestIn) / 2;
        m.destOut = TimecodeBytes(e.DestOut) / 2;
        map.tracks[static_cast<std::size_t>(e.DestChannel - 1)].events.push_back(std::move(m));
    }
    for (TrackMap& t : map.tracks) {
        t.plan = PlanTrack(table, t.track);
        MapTrack(t, t.plan);
    }
    return map;
}

SongMap ReadSongMap(const std::string& adlPath, const std::string& song, std::int32_t sampleRate) {
    // The import's own steps: the list must open, then it is read into an event table.
    std::FILE* f = adlPath.empty() ? nullptr : platform::OpenFile(adlPath, "rb");
    if (!f)
        throw SongListError("This drive isn't ZT-6.");
    std::fclose(f);
    auto table = std::make_unique<SongEventTable>();
    std::size_t eventListLine = 0;
    try {
        const platform::TextLines lines = platform::LoadTextLines(adlPath);
        if (!ReadEventList(lines, *table))
            throw SongListError("Too many events!");
        eventListLine = EventListLine(lines);
    } catch (TextError& e) {
        e.SetFile(adlPath);
        throw;
    }
    SongMap map = BuildSongMap(*table, song, sampleRate);
    AddTimeWarnings(map, FindTimeWarnings(*table, eventListLine, adlPath, sampleRate,
                                          {true, true, true, true, true, true, true, true}));
    MarkMissingSources(map, adlPath.substr(0, adlPath.find_last_of('\\')));
    return map;
}

std::string FormatTime(SampleCount samples, std::int32_t sampleRate) {
    if (sampleRate <= 0)
        return "?";
    const std::uint64_t ms = std::uint64_t{samples} * 1000 / static_cast<std::uint64_t>(sampleRate);
    char text[40];
    std::snprintf(text, sizeof text, "%llu:%02u:%02u.%03u",
                  static_cast<unsigned long long>(ms / 3600000),
                  static_cast<unsigned>(ms / 60000 % 60), static_cast<unsigned>(ms / 1000 % 60),
                  static_cast<unsigned>(ms % 1000));
    return text;
}

} // namespace th
