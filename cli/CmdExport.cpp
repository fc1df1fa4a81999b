#include "cli/Cli.h"
#include "cli/ConsoleUi.h"
#include "platform/Platform.h"
#include "transfer/P2z.h"
#include "transfer/Selection.h"

#include <algorithm>
#include <filesystem>

namespace cli {

namespace {

// A native folder in the drive form the engines use, without a trailing backslash.
std::string SourceFolder(const std::string& arg) {
    std::error_code ec;
    if (!std::filesystem::is_directory(arg, ec))
        throw UsageError("'" + arg + "' is not a folder");
    std::string native = std::filesystem::absolute(arg, ec).lexically_normal().string();
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    std::string folder = platform::ToDrivePath(native);
    if (folder.empty())
        throw UsageError("'" + arg + "' lies on no drive");
    while (!folder.empty() && folder.back() == '\\')
        folder.pop_back();
    return folder;
}

} // namespace

int CmdExport(const Args& args) {
    const Options o = ParseOptions(args, {"--from", "--drive", "--song", "--tracks"}, {"--yes"});
    if (!o.positional.empty())
        throw UsageError("export takes no argument '" + o.positional.front() + "'");
    for (const char* name : {"--from", "--drive", "--song"})
        if (!o.Has(name))
            throw UsageError(std::string("export needs ") + name);
    const std::vector<bool> tracks = ParseTrackList(o.Get("--tracks"));

    const std::string drive = DriveArgument(o.Get("--drive"));
    const std::string folder = SourceFolder(o.Get("--from"));

    // The song is picked as in the window: the drive's song list, then the song's entry.
    th::Selection sel;
    th::LoadSongList(sel, drive);
    const std::string song = o.Get("--song");
    const auto it = std::find(sel.Songs.begin(), sel.Songs.end(), song);
    if (it == sel.Songs.end())
        throw UsageError("no song '" + song + "' on " + drive);
    th::SelectSong(sel, static_cast<int>(it - sel.Songs.begin()));

    sel.DestFolder = folder;
    th::UpdateExportTracks(sel, folder);
    for (std::size_t i = 0; i < 8; ++i)
        sel.ExportTicked[i] = tracks[i];

    ConsoleUi ui(o.Has("--yes"));
    th::TExportJob job(ui, sel);
    return th::RunExportFromButton(job, ui, [&] { ui.Complete(); }) ? 0 : 1;
}

} // namespace cli
