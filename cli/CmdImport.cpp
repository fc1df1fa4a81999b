#include "cli/Cli.h"
#include "cli/ConsoleUi.h"

#include "platform/Platform.h"
#include "song/SongEvent.h"
#include "transfer/Renderer.h"
#include "transfer/Selection.h"
#include "transfer/Z2p.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

namespace cli {

namespace {

// Chooses the song as a pick in the window does: the drive's song list, then the song.
// Returns false (after a message) when the drive has no such song.
bool SelectSongByName(th::Selection& sel, const std::string& drive, const std::string& song) {
    th::LoadSongList(sel, drive);
    const auto it = std::find(sel.Songs.begin(), sel.Songs.end(), song);
    if (it == sel.Songs.end()) {
        std::cerr << "No song '" << song << "' on drive " << drive << ".\n";
        return false;
    }
    const int index = static_cast<int>(it - sel.Songs.begin());
    if (index != sel.SongIndex)
        th::SelectSong(sel, index);
    return true;
}

} // namespace

int CmdSongs(const Args& args) {
    const Options o = ParseOptions(args, {"--drive"}, {});
    if (!o.positional.empty() || !o.Has("--drive"))
        throw UsageError("songs needs --drive DRIVE");
    const std::string drive = DriveArgument(o.Get("--drive"));
    for (const std::string& song : th::ListSongs(drive)) {
        std::string rate;
        const std::string adl = th::FindSongAdl(drive, song);
        if (!adl.empty())
            rate = std::to_string(th::ReadSongSampleRate(adl));
        std::cout << song << "\t" << rate << "\n";
    }
    return 0;
}

int CmdImport(const Args& args) {
    const Options o = ParseOptions(args, {"--drive", "--song", "--to", "--tracks"}, {"--yes"});
    if (!o.positional.empty() || !o.Has("--drive") || !o.Has("--song") || !o.Has("--to"))
        throw UsageError("import needs --drive DRIVE --song NAME --to FOLDER");
    const std::vector<bool> tracks = ParseTrackList(o.Get("--tracks"));
    const std::string drive = DriveArgument(o.Get("--drive"));

    std::error_code ec;
    const std::filesystem::path to =
        std::filesystem::absolute(o.Get("--to"), ec).lexically_normal();
    if (!std::filesystem::is_directory(to, ec))
        throw UsageError("'" + o.Get("--to") + "' is not a folder");
    std::string dest = platform::ToDrivePath(to.string());
    while (dest.size() > 2 && dest.back() == '\\')
        dest.pop_back();
    if (dest.empty())
        throw UsageError("'" + o.Get("--to") + "' is on no drive");

    th::Selection sel;
    if (!SelectSongByName(sel, drive, o.Get("--song")))
        return 1;
    sel.DestFolder = dest;
    for (int n = 0; n < 8; ++n)
        sel.ImportTicked[static_cast<std::size_t>(n)] = tracks[static_cast<std::size_t>(n)];

    // What the Import button does around the run.
    ConsoleUi ui(o.Has("--yes"));
    th::SongEventTable table;
    th::TrackRenderer renderer(ui, sel, table);
    th::TImportJob job(ui, sel, table, renderer);
    ui.SetMin(0);
    ui.SetPosition(0);
    ui.SetMax(0);
    const bool ok = job.RunImport();
    if (ok)
        ui.Complete();
    ui.CloseProgress();
    return ok ? 0 : 1;
}

} // namespace cli
