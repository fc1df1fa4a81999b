#include "transfer/TrackAudio.h"

#include "transfer/SongMap.h"
#include "transfer/TrackPlan.h"
#include "transfer/WaveFile.h"

#include <algorithm>
#include <cstring>

namespace th {

namespace {
// Sources kept open at once; a track rarely has more, and more only costs a reopen.
constexpr std::size_t kOpenSources = 16;
} // namespace

TrackLayout LayoutOf(const TrackPlan& plan, const std::string& songFolder) {
    TrackLayout l;
    l.track = plan.track;
    l.end = plan.end;
    for (const std::string& name : plan.sources)
        l.sources.push_back(songFolder + "\\" + name);
    for (const PlanStretch& s : plan.stretches)
        if (s.source >= 0 && s.start < s.end)
            l.heard.push_back({s.start, s.end, static_cast<std::size_t>(s.source), s.sourceAt});
    return l;
}

std::vector<TrackLayout> SongLayouts(const SongMap& map, const std::string& songFolder) {
    std::vector<TrackLayout> layouts;
    for (const TrackMap& t : map.tracks)
        layouts.push_back(LayoutOf(t.plan, songFolder));
    return layouts;
}

TrackAudio::TrackAudio(const TrackLayout& layout)
    : layout_(layout), readers_(layout.sources.size()), missingSource_(layout.sources.size()),
      buffer_(new std::int16_t[kRequestBytes / 2]) {}

TrackAudio::~TrackAudio() = default;

void TrackAudio::Seek(SampleCount sample) {
    pos_ = sample >= layout_.end / 2 ? layout_.end : SamplesToBytes(sample);
    // The stretches are in time order: the first one ending after the position.
    const auto it = std::upper_bound(layout_.heard.begin(), layout_.heard.end(), pos_,
                                     [](BytePos p, const HeardStretch& s) { return p < s.end; });
    stretch_ = static_cast<std::size_t>(it - layout_.heard.begin());
}

std::size_t TrackAudio::Read(std::int16_t* out, std::size_t count) {
    std::int16_t* at = out;
    return Visit(
        count,
        [&](std::size_t n) {
            std::memset(at, 0, n * 2);
            at += n;
        },
        [&](const std::int16_t* samples, std::size_t n) {
            std::memcpy(at, samples, n * 2);
            at += n;
        });
}

WaveReader* TrackAudio::Source(std::size_t index) {
    if (readers_[index]) {
        // Most recently used last.
        const auto it = std::find(open_.begin(), open_.end(), index);
        std::rotate(it, it + 1, open_.end());
        return readers_[index].get();
    }
    if (missingSource_[index])
        return nullptr;
    // Opened for the first time, or again after it was closed to make room.
    std::unique_ptr<WaveReader> reader = OpenWaveData(layout_.sources[index]);
    if (!reader) {
        missingSource_[index] = true;
        missing_.push_back(layout_.sources[index]);
        return nullptr;
    }
    if (open_.size() == kOpenSources) {
        readers_[open_.front()].reset();
        open_.erase(open_.begin());
    }
    readers_[index] = std::move(reader);
    open_.push_back(index);
    return readers_[index].get();
}

std::size_t TrackAudio::Fill(const HeardStretch& s, std::size_t bytes) {
    const BytePos until = std::min(s.end, layout_.end);
    bytes = std::min<std::size_t>(bytes, until - pos_) & ~std::size_t{1};
    if (WaveReader* source = Source(s.source))
        source->ReadAt(s.at + (pos_ - s.begin), buffer_.get(), bytes);
    else
        std::memset(buffer_.get(), 0, bytes);
    return bytes / 2;
}

} // namespace th
