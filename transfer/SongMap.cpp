#include "transfer/SongMap.h"

#include "platform/Platform.h"
#include "song/Adl.h"
#include "song/Errors.h"
#include "song/Tc2w.h"
#include "transfer/ListWarnings.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace th {

namespace {

BytePos Bytes(std::string_view timecode) {
    return SamplesToBytes(TTC2W().TcToSamples(timecode));
}

// One event of the track in byte positions, as the renderer sees it.
struct Span {
    BytePos start, end, src;
    bool silence;
};

// The track's end: where its last-ending audio event ends, cut back to the start of a silence
// listed after that event that starts at or before that end and reaches at least as far, and
// extended again by audio listed from there on that reaches at least as far.
BytePos TrackEndOf(const std::vector<Span>& spans) {
    BytePos end = 0;
    std::size_t next = 0;
    for (std::size_t k = 0; k < spans.size(); ++k)
        if (!spans[k].silence && spans[k].end >= end)
            end = spans[k].end, next = k;
    for (std::size_t k = next + 1; k < spans.size(); ++k)
        if (spans[k].silence && spans[k].start <= end && spans[k].end >= end)
            end = spans[k].start, next = k;
    for (std::size_t k = next; k < spans.size(); ++k)
        if (!spans[k].silence && spans[k].end >= end)
            end = spans[k].end;
    return end;
}

// The stretches of [0, trackEnd) and the event heard in each.
void FindPlays(TrackMap& map, const std::vector<Span>& spans, BytePos trackEnd) {
    // Events that cover something before the end, by start; the boundaries where the
    // playing event can change.
    std::vector<std::size_t> byStart;
    std::vector<BytePos> cuts{0, trackEnd};
    for (std::size_t k = 0; k < spans.size(); ++k) {
        if (spans[k].start < spans[k].end && spans[k].start < trackEnd) {
            byStart.push_back(k);
            cuts.push_back(spans[k].start);
            cuts.push_back(std::min(spans[k].end, trackEnd));
        }
    }
    std::stable_sort(byStart.begin(), byStart.end(),
                     [&](std::size_t a, std::size_t b) { return spans[a].start < spans[b].start; });
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    // Between two neighbouring cuts one event plays throughout: the latest-listed of those
    // covering it. A heap of started events, latest-listed on top; ended ones leave when
    // they reach the top.
    std::vector<std::size_t> active;
    std::size_t admitted = 0;
    for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
        const BytePos at = cuts[c];
        while (admitted < byStart.size() && spans[byStart[admitted]].start <= at) {
            active.push_back(byStart[admitted++]);
            std::push_heap(active.begin(), active.end());
        }
        while (!active.empty() && spans[active.front()].end <= at) {
            std::pop_heap(active.begin(), active.end());
            active.pop_back();
        }
        if (active.empty())
            continue;
        const std::size_t k = active.front();
        const BytePos until = cuts[c + 1];
        if (!map.plays.empty() && map.plays.back().event == k && map.plays.back().end == at / 2) {
            map.plays.back().end = until / 2;
        } else {
            map.plays.push_back(
                {at / 2, until / 2, k,
                 static_cast<SampleCount>((spans[k].src + (at - spans[k].start)) / 2)});
        }
    }
}

void MapTrack(TrackMap& map, const std::vector<Span>& spans) {
    const BytePos trackEnd = TrackEndOf(spans);
    map.end = trackEnd / 2;
    if (trackEnd > 0)
        FindPlays(map, spans, trackEnd);
    // What each event doesn't get of its own stretch; its plays come in time order.
    std::vector<SampleCount> from(map.events.size());
    for (std::size_t k = 0; k < map.events.size(); ++k)
        from[k] = map.events[k].destIn;
    for (const MapStretch& s : map.plays) {
        MapEvent& e = map.events[s.event];
        e.played += s.end - s.start;
        if (from[s.event] < s.start)
            e.hidden.emplace_back(from[s.event], s.start);
        from[s.event] = s.end;
    }
    for (std::size_t k = 0; k < map.events.size(); ++k)
        if (from[k] < map.events[k].destOut)
            map.events[k].hidden.emplace_back(from[k], map.events[k].destOut);
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
    std::array<std::vector<Span>, 8> spans;
    for (int n = 1; n <= 8; ++n)
        map.tracks[static_cast<std::size_t>(n - 1)].track = n;
    const std::int32_t count = std::clamp<std::int32_t>(table.EventCount, 0, SongEventTable::kRows);
    for (std::int32_t r = 1; r <= count; ++r) {
        const SongEvent& e = table.Row(r);
        if (e.DestChannel < 1 || e.DestChannel > 8)
            continue;
        const auto t = static_cast<std::size_t>(e.DestChannel - 1);
        MapEvent m;
        m.row = r;
        m.entryNo = e.EntryNo;
        m.silence = e.IsSilence();
        m.destInTc = e.DestIn.str();
        m.destOutTc = e.DestOut.str();
        const Span s{Bytes(e.DestIn), Bytes(e.DestOut), m.silence ? 0u : Bytes(e.SourceIn),
                     m.silence};
        if (!m.silence) {
            m.sourceFile = e.SourceFile;
            m.sourceInTc = e.SourceIn.str();
        }
        m.destIn = s.start / 2;
        m.destOut = s.end / 2;
        m.sourceIn = s.src / 2;
        map.tracks[t].events.push_back(std::move(m));
        spans[t].push_back(s);
    }
    for (std::size_t t = 0; t < 8; ++t)
        MapTrack(map.tracks[t], spans[t]);
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
