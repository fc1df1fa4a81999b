#include "cli/Cli.h"
#include "cli/ConsoleUi.h"

#include "platform/Platform.h"
#include "transfer/CardBackup.h"

#include <chrono>
#include <cstdio>
#include <iostream>

namespace cli {

namespace {

std::string Size(std::uint64_t bytes) {
    char text[32];
    if (bytes >= 1024 * 1024)
        std::snprintf(text, sizeof text, " (%.1f MB)", static_cast<double>(bytes) / 1048576.0);
    else if (bytes >= 1024)
        std::snprintf(text, sizeof text, " (%.1f kB)", static_cast<double>(bytes) / 1024.0);
    else
        return {};
    return text;
}

} // namespace

// import --all: every song of the card into FOLDER/<song>/, a line per song as it is done
// and a summary at the end. Status 0 only when every song came over.
int CmdImportAll(const Options& o) {
    if (o.Has("--song"))
        throw UsageError("import takes either --song NAME or --all");
    const std::vector<bool> trackList = ParseTrackList(o.Get("--tracks"));
    const std::string drive = DriveArgument(o.Get("--drive"));
    const std::string dest = FolderArgument(o.Get("--to"));
    std::array<bool, 8> tracks{};
    for (std::size_t n = 0; n < 8; ++n)
        tracks[n] = trackList[n];

    // Quiet: only the songs that were skipped, and no summary.
    const bool quiet = VerbosityOption(o) == Verbosity::Quiet;
    ConsoleUi ui(o.Has("--yes"), VerbosityOption(o));
    const auto began = std::chrono::steady_clock::now();
    const th::CardBackupReport report =
        th::BackupCard(ui, drive, dest, tracks, [quiet](const th::SongBackup& s) {
            if (s.imported && quiet) {
                PrintWarnings(s.warnings);
                return;
            }
            if (s.imported)
                std::cout << s.song << ": imported, " << s.tracks
                          << (s.tracks == 1 ? " track, " : " tracks, ") << s.bytes << " bytes\n";
            else
                std::cout << s.song << ": skipped: " << ConsoleText(s.reason) << "\n";
            std::cout << std::flush;
            PrintWarnings(s.warnings);
        });
    if (report.refused)
        return 1;
    if (quiet)
        return report.AllImported() ? 0 : 1;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    std::size_t imported = 0;
    for (const th::SongBackup& s : report.songs)
        imported += s.imported ? 1 : 0;
    std::cout << "\nSongs imported: " << imported << "\n"
              << "Songs skipped: " << report.songs.size() - imported << "\n";
    for (const th::SongBackup& s : report.songs)
        if (!s.imported)
            std::cout << "  " << s.song << ": " << ConsoleText(s.reason) << "\n";
    if (report.stopped)
        std::cout << "Stopped by Ctrl+C: the songs after " << report.songs.back().song
                  << " were not tried.\n";
    char took[32];
    std::snprintf(took, sizeof took, "%.1f s", seconds);
    std::cout << "Bytes written: " << report.Bytes() << Size(report.Bytes()) << "\n"
              << "Time taken: " << took << "\n";
    if (!report.AllImported())
        return 1;
    ui.Complete();
    return 0;
}

} // namespace cli
