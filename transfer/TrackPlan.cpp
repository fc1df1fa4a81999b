#include "transfer/TrackPlan.h"

#include "song/Tc2w.h"

#include <algorithm>
#include <unordered_map>

namespace th {

namespace {

// One event of the track in byte positions.
struct Span {
    std::int32_t row;
    BytePos start, end;
    std::uint64_t src;
    std::int32_t source; // -1 for a silence
};

BytePos TrackEndOf(const std::vector<Span>& spans) {
    BytePos end = 0;
    std::size_t next = 0;
    for (std::size_t k = 0; k < spans.size(); ++k)
        if (spans[k].source >= 0 && spans[k].end >= end)
            end = spans[k].end, next = k;
    for (std::size_t k = next + 1; k < spans.size(); ++k)
        if (spans[k].source < 0 && spans[k].start <= end && spans[k].end >= end)
            end = spans[k].start, next = k;
    for (std::size_t k = next; k < spans.size(); ++k)
        if (spans[k].source >= 0 && spans[k].end >= end)
            end = spans[k].end;
    return end;
}

// Appends [from, to) taken by `span` (nullptr: a gap), as part of the last stretch where it
// continues it.
void Add(TrackPlan& plan, BytePos from, BytePos to, const Span* span) {
    const std::int32_t row = span ? span->row : 0;
    if (!plan.stretches.empty() && plan.stretches.back().row == row &&
        plan.stretches.back().end == from) {
        plan.stretches.back().end = to;
        return;
    }
    PlanStretch s;
    s.start = from;
    s.end = to;
    s.row = row;
    if (span) {
        s.source = span->source;
        s.sourceAt = span->src + (from - span->start);
    }
    plan.stretches.push_back(s);
}

} // namespace

BytePos TimecodeBytes(std::string_view timecode) {
    return SamplesToBytes(TTC2W().TcToSamples(timecode));
}

TrackPlan PlanTrack(const SongEventTable& table, int track) {
    TrackPlan plan;
    plan.track = track;
    std::vector<Span> spans; // the track's events in list order
    std::unordered_map<std::string_view, std::int32_t> sourceOf;
    const std::int32_t count = std::clamp<std::int32_t>(table.EventCount, 0, SongEventTable::kRows);
    for (std::int32_t r = 1; r <= count; ++r) {
        const SongEvent& e = table.Row(r);
        if (e.DestChannel != track)
            continue;
        Span s{r, TimecodeBytes(e.DestIn), TimecodeBytes(e.DestOut), 0, -1};
        if (!e.IsSilence()) {
            const auto [at, added] = sourceOf.try_emplace(
                e.SourceFile.view(), static_cast<std::int32_t>(plan.sources.size()));
            if (added)
                plan.sources.push_back(e.SourceFile.str());
            s.source = at->second;
            s.src = TimecodeBytes(e.SourceIn);
        }
        spans.push_back(s);
    }
    plan.end = TrackEndOf(spans);
    if (plan.end == 0) {
        plan.sources.clear();
        return plan;
    }

    // Events that cover something before the end, by start, and the positions where the
    // event heard can change.
    std::vector<std::size_t> byStart;
    std::vector<BytePos> cuts{0, plan.end};
    for (std::size_t k = 0; k < spans.size(); ++k) {
        if (spans[k].start < spans[k].end && spans[k].start < plan.end) {
            byStart.push_back(k);
            cuts.push_back(spans[k].start);
            cuts.push_back(std::min(spans[k].end, plan.end));
        }
    }
    std::stable_sort(byStart.begin(), byStart.end(),
                     [&](std::size_t a, std::size_t b) { return spans[a].start < spans[b].start; });
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

    // Between two neighbouring cuts one event is heard throughout: the latest-listed of those
    // covering it. A heap of started events, latest-listed (highest index) on top; an ended
    // one leaves when it reaches the top, which is enough since positions only grow.
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
        Add(plan, at, cuts[c + 1], active.empty() ? nullptr : &spans[active.front()]);
    }
    return plan;
}

} // namespace th
