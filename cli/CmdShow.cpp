#include "cli/Cli.h"

#include "platform/Platform.h"
#include "transfer/Peaks.h"
#include "transfer/SongMap.h"
#include "transfer/SongMapFormat.h"
#include "transfer/TrackAudio.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>

namespace cli {

namespace {

// Buckets of --peaks: a positive decimal number, at most a million.
std::size_t PeakCount(const std::string& text) {
    std::size_t n = 0;
    bool valid = !text.empty() && text.size() <= 7;
    for (char c : text)
        valid = valid && c >= '0' && c <= '9';
    if (valid)
        n = std::stoul(text);
    if (!valid || n == 0 || n > 1000000)
        throw UsageError("--peaks needs a number of buckets from 1 to 1000000");
    return n;
}

} // namespace

// The song map of one song: a table on stdout, or JSON (--json), and/or an SVG picture
// (--svg FILE, "-" for stdout) with the waveform of every heard stretch. --peaks N adds N
// peaks of each track to the JSON. A list the import would refuse is refused with its message.
int CmdShow(const Args& args) {
    const Options o = ParseOptions(args, {"--drive", "--song", "--svg", "--peaks"}, {"--json"});
    if (!o.positional.empty() || !o.Has("--drive") || !o.Has("--song"))
        throw UsageError("show needs --drive DRIVE --song NAME");
    if (o.Has("--json") && o.Get("--svg") == "-")
        throw UsageError("show can't write both JSON and the picture to stdout");
    if (o.Has("--peaks") && !o.Has("--json"))
        throw UsageError("--peaks goes with --json");
    const std::size_t peakCount = o.Has("--peaks") ? PeakCount(o.Get("--peaks")) : 0;
    const std::string drive = DriveArgument(o.Get("--drive"));
    const th::Selection sel = SelectSongByName(drive, o.Get("--song"));

    th::SongMap map;
    try {
        map = th::ReadSongMap(sel.AdlPath, sel.SongName(), sel.SampleRate);
    } catch (const th::SongListError& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    // Each track's samples as the import would write them, read when first asked for.
    const std::vector<th::TrackLayout> layouts =
        th::SongLayouts(map, sel.DriveRoot + "\\" + sel.SongName());
    std::vector<std::unique_ptr<th::TrackAudio>> audio(layouts.size());
    auto trackAudio = [&](int track) -> th::TrackAudio& {
        auto& a = audio[static_cast<std::size_t>(track - 1)];
        if (!a)
            a = std::make_unique<th::TrackAudio>(layouts[static_cast<std::size_t>(track - 1)]);
        return *a;
    };
    if (o.Has("--svg")) {
        const std::string file = o.Get("--svg");
        const std::string svg = th::SongMapSvg(
            map, [&](int track, th::SampleCount from, th::SampleCount to, std::size_t n) {
                return th::TrackPeaks(trackAudio(track), from, to, n);
            });
        if (file == "-") {
            std::cout << svg;
        } else {
            std::ofstream out(platform::PathFromUtf8(file), std::ios::binary);
            if (!(out << svg) || !out.flush())
                throw std::runtime_error("can't write '" + file + "'");
        }
    }
    if (o.Has("--json") && peakCount > 0) {
        std::array<std::vector<th::Peak>, 8> peaks;
        std::vector<std::vector<th::Peak>> found = th::SongPeaks(layouts, peakCount);
        std::move(found.begin(), found.end(), peaks.begin());
        std::cout << th::SongMapJson(map, peaks);
    } else if (o.Has("--json"))
        std::cout << th::SongMapJson(map);
    else if (!o.Has("--svg"))
        std::cout << th::SongMapTable(map);
    // The JSON carries its warnings; otherwise they are told as the import tells them.
    if (!o.Has("--json"))
        for (const std::string& w : map.warnings)
            std::cerr << w << "\n";
    return 0;
}

} // namespace cli
