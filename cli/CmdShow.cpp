#include "cli/Cli.h"

#include "platform/Platform.h"
#include "transfer/SongMap.h"
#include "transfer/SongMapFormat.h"

#include <fstream>
#include <iostream>

namespace cli {

// The song map of one song: a table on stdout, or JSON (--json), and/or an SVG picture
// (--svg FILE, "-" for stdout). A list the import would refuse is refused with its message.
int CmdShow(const Args& args) {
    const Options o = ParseOptions(args, {"--drive", "--song", "--svg"}, {"--json"});
    if (!o.positional.empty() || !o.Has("--drive") || !o.Has("--song"))
        throw UsageError("show needs --drive DRIVE --song NAME");
    if (o.Has("--json") && o.Get("--svg") == "-")
        throw UsageError("show can't write both JSON and the picture to stdout");
    const std::string drive = DriveArgument(o.Get("--drive"));
    const th::Selection sel = SelectSongByName(drive, o.Get("--song"));

    th::SongMap map;
    try {
        map = th::ReadSongMap(sel.AdlPath, sel.SongName(), sel.SampleRate);
    } catch (const th::SongListError& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    if (o.Has("--svg")) {
        const std::string file = o.Get("--svg");
        const std::string svg = th::SongMapSvg(map);
        if (file == "-") {
            std::cout << svg;
        } else {
            std::ofstream out(platform::PathFromUtf8(file), std::ios::binary);
            if (!(out << svg) || !out.flush())
                throw std::runtime_error("can't write '" + file + "'");
        }
    }
    if (o.Has("--json"))
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
