#include "transfer/ListWarnings.h"

#include "platform/Platform.h"
#include "song/Tc2w.h"

#include <algorithm>
#include <map>

namespace th {

namespace {

std::string FileNameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::vector<TimeWarning> FindTimeWarnings(const SongEventTable& table, std::size_t eventListLine,
                                          const std::string& adlPath, std::int32_t sampleRate,
                                          const std::array<bool, 8>& tracks) {
    std::vector<TimeWarning> warnings;
    const std::string file = FileNameOf(adlPath);
    const std::int32_t count = std::clamp<std::int32_t>(table.EventCount, 0, SongEventTable::kRows);
    for (std::int32_t r = 1; r <= count; ++r) {
        const SongEvent& e = table.Row(r);
        if (e.DestChannel < 1 || e.DestChannel > 8 ||
            !tracks[static_cast<std::size_t>(e.DestChannel - 1)])
            continue;
        const struct {
            const char* name;
            const TimecodeText& text;
            bool read;
        } fields[] = {{"source in", e.SourceIn, !e.IsSilence()},
                      {"dest in", e.DestIn, true},
                      {"dest out", e.DestOut, true}};
        for (const auto& f : fields) {
            if (!f.read || TTC2W::IsWellFormed(f.text))
                continue;
            // The position as the renderer takes it: a byte position of 16-bit audio.
            const SampleCount samples = SamplesToBytes(TTC2W().TcToSamples(f.text)) / 2;
            warnings.push_back({r, "Warning: " + file + ", line " +
                                       std::to_string(eventListLine + static_cast<std::size_t>(r)) +
                                       ": " + f.name + " '" + f.text.str() +
                                       "' is not a well-formed time; read as " +
                                       FormatTime(samples, sampleRate)});
        }
    }
    return warnings;
}

std::vector<std::string> WarningTexts(const std::vector<TimeWarning>& warnings) {
    std::vector<std::string> texts;
    texts.reserve(warnings.size());
    for (const TimeWarning& w : warnings)
        texts.push_back(w.text);
    return texts;
}

void AddTimeWarnings(SongMap& map, const std::vector<TimeWarning>& warnings) {
    for (const TimeWarning& w : warnings) {
        map.warnings.push_back(w.text);
        for (TrackMap& t : map.tracks)
            for (MapEvent& e : t.events)
                if (e.row == w.row)
                    e.oddTime = true;
    }
}

void MarkMissingSources(SongMap& map, const std::string& songFolder) {
    // One look-up per file, however many events play it.
    std::map<std::string, bool> there;
    for (TrackMap& t : map.tracks) {
        for (MapEvent& e : t.events) {
            if (e.silence)
                continue;
            auto [at, added] = there.try_emplace(e.sourceFile, false);
            if (added)
                at->second = platform::FileExists(songFolder + "\\" + e.sourceFile);
            e.missing = !at->second;
        }
    }
}

} // namespace th
