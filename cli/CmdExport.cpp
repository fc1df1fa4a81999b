#include "cli/Cli.h"
#include "cli/ConsoleUi.h"
#include "platform/Platform.h"
#include "transfer/P2z.h"
#include "transfer/Selection.h"

namespace cli {

int CmdExport(const Args& args) {
    const Options o = ParseOptions(args, {"--from", "--drive", "--song", "--tracks"},
                                   {"--yes", "--quiet", "--verbose"});
    if (!o.positional.empty())
        throw UsageError("export takes no argument '" + o.positional.front() + "'");
    for (const char* name : {"--from", "--drive", "--song"})
        if (!o.Has(name))
            throw UsageError(std::string("export needs ") + name);
    const std::vector<bool> tracks = ParseTrackList(o.Get("--tracks"));
    const Verbosity verbosity = VerbosityOption(o);

    const std::string drive = DriveArgument(o.Get("--drive"));
    const std::string folder = FolderArgument(o.Get("--from"));
    th::Selection sel = SelectSongByName(drive, o.Get("--song"));

    sel.DestFolder = folder;
    th::UpdateExportTracks(sel, folder);
    for (std::size_t i = 0; i < 8; ++i)
        sel.ExportTicked[i] = tracks[i];

    ConsoleUi ui(o.Has("--yes"), verbosity);
    th::TExportJob job(ui, sel);
    return th::RunExportFromButton(job, ui, [&] { ui.Complete(); }) ? 0 : 1;
}

} // namespace cli
