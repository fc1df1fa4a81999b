#include "cli/Cli.h"
#include "cli/ConsoleUi.h"
#include "platform/Platform.h"
#include "transfer/P2z.h"
#include "transfer/Selection.h"

namespace cli {

int CmdExport(const Args& args) {
    const Options o = ParseOptions(args, {"--from", "--drive", "--song", "--tracks", "--file"},
                                   {"--yes", "--quiet", "--verbose", "--convert"}, {"--file"});
    if (!o.positional.empty())
        throw UsageError("export takes no argument '" + o.positional.front() + "'");
    const std::vector<std::string> fileArgs = o.GetAll("--file");
    // Files given one by one need no folder.
    if (!o.Has("--from") && fileArgs.empty())
        throw UsageError("export needs --from (or --file)");
    for (const char* name : {"--drive", "--song"})
        if (!o.Has(name))
            throw UsageError(std::string("export needs ") + name);
    const std::vector<bool> tracks = ParseTrackList(o.Get("--tracks"));
    const Verbosity verbosity = VerbosityOption(o);
    std::vector<std::pair<int, std::string>> files;
    for (const std::string& arg : fileArgs) {
        files.push_back(ParseTrackFile(arg));
        for (std::size_t i = 0; i + 1 < files.size(); ++i)
            if (files[i].first == files.back().first)
                throw UsageError("--file gives track " + std::to_string(files.back().first) +
                                 " twice");
    }

    const std::string drive = DriveArgument(o.Get("--drive"));
    th::Selection sel = SelectSongByName(drive, o.Get("--song"));
    if (o.Has("--from")) {
        const std::string folder = FolderArgument(o.Get("--from"));
        sel.DestFolder = folder;
        th::UpdateExportTracks(sel, folder);
        for (std::size_t i = 0; i < 8; ++i)
            sel.ExportTicked[i] = tracks[i];
    } else {
        // The question names the folder of the first file.
        const std::string& first = files.front().second;
        sel.DestFolder = first.substr(0, first.rfind('\\'));
        sel.ExportEnabled.fill(false);
    }

    ConsoleUi ui(o.Has("--yes"), verbosity);
    th::TExportJob job(ui, sel);
    if (o.Has("--convert"))
        job.Convert = th::TExportJob::ConvertMode::Always;
    // A file given for a track is exported as that track, whatever --tracks says.
    for (const auto& [track, path] : files) {
        const auto i = static_cast<std::size_t>(track - 1);
        job.TrackSources[i] = path;
        sel.ExportEnabled[i] = true;
        sel.ExportTicked[i] = true;
    }
    return th::RunExportFromButton(job, ui, [&] { ui.Complete(); }) ? 0 : 1;
}

} // namespace cli
