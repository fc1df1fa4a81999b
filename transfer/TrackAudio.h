#pragma once
// The samples of a rendered track, produced without writing the track: the same stretches the
// import copies, read from the song's sources in large sequential requests, zero everywhere
// else. The waveforms and the playback mix both read tracks through this, so what is drawn
// and heard is what the import writes.
#include "song/Types.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace th {

class WaveReader;
struct SongMap;
struct TrackPlan;

// One stretch of a track's output that comes from a source: bytes [begin, end) of the track
// are bytes [at, at + end - begin) of the source's data chunk. Everything of the track that
// no stretch covers is zero (gaps and "(Silence)" events).
struct HeardStretch {
    BytePos begin = 0;
    BytePos end = 0;
    std::size_t source = 0; // index into TrackLayout::sources
    std::uint64_t at = 0;
};

// What a track's file holds: its length and its heard stretches in time order, without
// overlaps.
struct TrackLayout {
    int track = 0;   // 1..8
    BytePos end = 0; // bytes of audio in the file; 0: no file
    std::vector<HeardStretch> heard;
    std::vector<std::string> sources; // paths of the source files
    SampleCount Samples() const { return end / 2; }
};

// The layout of a track's plan, its sources in `songFolder` (drive + "\\" + song).
TrackLayout LayoutOf(const TrackPlan& plan, const std::string& songFolder);
// The layouts of the song's eight tracks, from the plans of the map.
std::vector<TrackLayout> SongLayouts(const SongMap& map, const std::string& songFolder);

// Reads a track's samples in order from any starting sample. Memory is a fixed buffer,
// whatever the track's length. A source that is missing or not a WAV file reads as zeros
// and is named in Missing().
class TrackAudio {
public:
    explicit TrackAudio(const TrackLayout& layout);
    ~TrackAudio();
    TrackAudio(const TrackAudio&) = delete;
    TrackAudio& operator=(const TrackAudio&) = delete;

    const TrackLayout& Layout() const { return layout_; }
    // Continues from sample `sample` (the start when never called).
    void Seek(SampleCount sample);
    SampleCount Position() const { return pos_ / 2; }
    // Fills up to `count` samples from the position on and moves past them; returns how many
    // (fewer only at the track's end).
    std::size_t Read(std::int16_t* out, std::size_t count);
    // Calls `zero(samples)` for a stretch of zeros and `audio(samples, count)` for samples from
    // a source, up to `count` samples from the position on, in order, without producing the
    // zeros; returns how many samples were covered.
    template <class Zero, class Audio>
    std::size_t Visit(std::size_t count, Zero&& zero, Audio&& audio);
    // Paths of sources that could not be opened, each once.
    const std::vector<std::string>& Missing() const { return missing_; }

    // Bytes asked of a source in one request.
    static constexpr std::size_t kRequestBytes = 1 << 20;

private:
    // Fills the buffer from the stretch at the position, at most `bytes`; returns the
    // samples now in buffer_.
    std::size_t Fill(const HeardStretch& s, std::size_t bytes);
    WaveReader* Source(std::size_t index);

    TrackLayout layout_;
    BytePos pos_ = 0;
    std::size_t stretch_ = 0; // first stretch that ends after pos_
    std::vector<std::unique_ptr<WaveReader>> readers_;
    std::vector<bool> missingSource_;
    std::vector<std::size_t> open_; // indexes of open readers, oldest first
    std::vector<std::string> missing_;
    std::unique_ptr<std::int16_t[]> buffer_;
};

template <class Zero, class Audio>
std::size_t TrackAudio::Visit(std::size_t count, Zero&& zero, Audio&& audio) {
    std::size_t done = 0;
    while (done < count && pos_ < layout_.end) {
        const std::uint64_t want = std::uint64_t{count - done} * 2;
        const HeardStretch* s =
            stretch_ < layout_.heard.size() ? &layout_.heard[stretch_] : nullptr;
        if (!s || pos_ < s->begin) {
            const BytePos until = s ? std::min(s->begin, layout_.end) : layout_.end;
            const auto bytes = static_cast<BytePos>(std::min<std::uint64_t>(want, until - pos_));
            zero(std::size_t{bytes} / 2);
            pos_ += bytes;
            done += bytes / 2;
            continue;
        }
        const std::size_t got =
            Fill(*s, static_cast<std::size_t>(std::min<std::uint64_t>(want, kRequestBytes)));
        audio(static_cast<const std::int16_t*>(buffer_.get()), got);
        pos_ += static_cast<BytePos>(got * 2);
        done += got;
        if (pos_ >= s->end)
            ++stretch_;
    }
    return done;
}

} // namespace th
