#pragma once
// A small, deterministic card to try the program on without a recorder: two songs of a few
// seconds of tones, with gaps, an overlap and a silence event.
#include <string>
#include <vector>

namespace th {

struct DemoSong {
    std::string name;      // song folder, and its edit list name + ".ADL"
    int sampleRate;        // Hz
    std::string frameRate; // "F25", "F30df", ...
};

// The songs that WriteDemoCard writes, in order.
const std::vector<DemoSong>& DemoSongs();

// Writes the card into the native folder `nativeFolder`, creating it when needed. Existing
// files of the same names are replaced; other files are left alone. Throws on failure.
void WriteDemoCard(const std::string& nativeFolder);

} // namespace th
