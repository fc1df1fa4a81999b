#include "cli/Cli.h"
#include "cli/ConsoleUi.h"

#include "platform/Platform.h"
#include "song/SongEvent.h"
#include "transfer/Renderer.h"
#include "transfer/Selection.h"
#include "transfer/Z2p.h"

#include <iostream>

namespace cli {

int CmdSongs(const Args& args) {
    const Options o = ParseOptions(args, {"--drive"}, {});
    if (!o.positional.empty() || !o.Has("--drive"))
        throw UsageError("songs needs --drive DRIVE");
    const std::string drive = DriveArgument(o.Get("--drive"));
    // A song whose edit list can't be read is listed without a rate; the error is told and
    // the listing goes on.
    int status = 0;
    for (const std::string& song : th::ListSongs(drive)) {
        std::string rate;
        const std::string adl = th::FindSongAdl(drive, song);
        try {
            if (!adl.empty())
                rate = std::to_string(th::ReadSongSampleRate(adl));
        } catch (const std::exception& e) {
            std::cerr << song << ": " << e.what() << "\n";
            status = 3;
        }
        std::cout << song << "\t" << rate << "\n";
    }
    return status;
}

int CmdImport(const Args& args) {
    const Options o = ParseOptions(args, {"--drive", "--song", "--to", "--tracks"},
                                   {"--yes", "--all", "--quiet", "--verbose"});
    if (o.Has("--all") && o.positional.empty() && o.Has("--drive") && o.Has("--to"))
        return CmdImportAll(o);
    if (!o.positional.empty() || !o.Has("--drive") || !o.Has("--song") || !o.Has("--to"))
        throw UsageError("import needs --drive DRIVE --song NAME (or --all) --to FOLDER");
    const std::vector<bool> tracks = ParseTrackList(o.Get("--tracks"));
    const Verbosity verbosity = VerbosityOption(o);
    const std::string drive = DriveArgument(o.Get("--drive"));

    const std::string dest = FolderArgument(o.Get("--to"));
    th::Selection sel = SelectSongByName(drive, o.Get("--song"));
    sel.DestFolder = dest;
    for (int n = 0; n < 8; ++n)
        sel.ImportTicked[static_cast<std::size_t>(n)] = tracks[static_cast<std::size_t>(n)];

    // What the Import button does around the run.
    ConsoleUi ui(o.Has("--yes"), verbosity);
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
    PrintWarnings(job.Warnings);
    return ok ? 0 : 1;
}

} // namespace cli
