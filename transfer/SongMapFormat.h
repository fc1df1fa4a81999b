#pragma once
// The song map as text: a readable table, JSON for scripts, and an SVG picture. The window
// draws the same picture with its own toolkit and shares the choices made here.
#include "transfer/Peaks.h"
#include "transfer/SongMap.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace th {

// One block per track: its end, its events in list order, then what plays where.
std::string SongMapTable(const SongMap& map);

// {"song", "sample_rate", "length", "tracks": [eight track objects]}; see the README for
// every key. Texts that are not UTF-8 are read as Latin-1, so the output always is.
std::string SongMapJson(const SongMap& map);
// The same with "peaks": [[min, max], ...] in each track object (peaks[track - 1]).
std::string SongMapJson(const SongMap& map, const std::array<std::vector<Peak>, 8>& peaks);

// Eight lanes under a time ruler; each playing stretch a box labelled with its source file,
// silence hatched, the parts of events that are not heard faded. Plain SVG 1.1.
std::string SongMapSvg(const SongMap& map);
// Peaks of samples [from, to) of a track (1..8) in `buckets` buckets.
using PeaksOf = std::function<std::vector<Peak>(int track, SampleCount from, SampleCount to,
                                                std::size_t buckets)>;
// The same with each heard audio stretch's waveform drawn in its box, one bucket a pixel.
std::string SongMapSvg(const SongMap& map, const PeaksOf& peaks);

// The last sample any event of the song reaches, or the longest track's end if later: the
// width a picture must show.
SampleCount MapExtent(const SongMap& map);

// Seconds between two ruler marks so that marks stand at least `minPixels` apart when one
// second takes `pixelsPerSecond`; from 1/1000 s up to an hour.
double RulerStep(double pixelsPerSecond, double minPixels);

// A ruler mark's text: "m:ss", "h:mm:ss" from an hour on, with as many decimals as the step
// needs ("0:01.5").
std::string RulerLabel(double seconds, double step);

// Fill colour of a source file's boxes, as 0xRRGGBB: the same file always gets the same one.
std::uint32_t SourceColour(const std::string& file);

// `text` as valid UTF-8: valid sequences stay, every other byte is taken as Latin-1.
std::string AsUtf8(const std::string& text);

} // namespace th
