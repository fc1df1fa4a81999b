#include "transfer/CardBackup.h"

#include "platform/Platform.h"
#include "song/SongEvent.h"
#include "transfer/Renderer.h"
#include "transfer/Selection.h"
#include "transfer/WaveFile.h"
#include "transfer/Z2p.h"

#include <memory>

namespace th {

bool CardBackupReport::AllImported() const {
    if (refused || stopped)
        return false;
    for (const SongBackup& s : songs)
        if (!s.imported)
            return false;
    return true;
}

std::uint64_t CardBackupReport::Bytes() const {
    std::uint64_t bytes = 0;
    for (const SongBackup& s : songs)
        bytes += s.bytes;
    return bytes;
}

namespace {

// One song, with the import's own steps and messages; `result.reason` says why it failed.
void ImportSong(TransferUi& ui, Selection& sel, SongEventTable& table, SongBackup& result,
                const std::array<bool, 8>& tracks) {
    TrackRenderer renderer(ui, sel, table);
    TImportJob job(ui, sel, table, renderer);
    if (sel.AdlPath.empty()) {
        result.reason = "no edit list (.ADL) in the song folder";
        return;
    }
    if (!job.OpenEventFile()) {
        result.reason = "This drive isn't ZT-6.";
        return;
    }
    if (!job.ReadEventList()) {
        result.reason = "Too many events!";
        return;
    }
    result.warnings = job.Warnings;
    // The song's folder is made only for a list that reads.
    if (!platform::DirectoryExists(sel.DestFolder) && !platform::CreateDirectory(sel.DestFolder)) {
        result.reason = "can't create the folder " + platform::DisplayPath(sel.DestFolder);
        return;
    }
    for (int n = 1; n <= 8; ++n) {
        if (!tracks[static_cast<std::size_t>(n - 1)])
            continue;
        ui.SetLabel(sel.SongName() + " Track" + std::to_string(n));
        if (!renderer.RenderTrack(n)) {
            result.reason =
                "Copy failed! (Track" + std::to_string(n) + "): " + FailureText(renderer.Why);
            return;
        }
        if (renderer.TrackEnd == 0)
            continue; // nothing to render on this track: no file
        ++result.tracks;
        result.bytes += FileLength(renderer.OutBase + ".wav").value_or(0);
    }
    result.imported = true;
}

} // namespace

CardBackupReport BackupCard(TransferUi& ui, const std::string& drive,
                            const std::string& destination, const std::array<bool, 8>& tracks,
                            const std::function<void(const SongBackup&)>& onSong) {
    CardBackupReport report;
    if (!ui.Ask("ZT-6 to PC\r\n\r\n" +
                platform::DisplayPath(destination + "\\(Song)\\tr(TrNo).wav"))) {
        report.refused = true;
        return report;
    }
    Selection sel;
    sel.DriveRoot = drive;
    sel.ImportTicked = tracks; // the tracks whose times are looked at
    sel.Songs = ListSongs(drive);
    auto table = std::make_unique<SongEventTable>();
    for (std::size_t i = 0; i < sel.Songs.size(); ++i) {
        SongBackup& result = report.songs.emplace_back();
        result.song = sel.Songs[i];
        ui.ShowProgress();
        try {
            SelectSong(sel, static_cast<int>(i));
            sel.DestFolder = destination + "\\" + result.song;
            ImportSong(ui, sel, *table, result, tracks);
        } catch (const std::exception& e) {
            result.reason = e.what();
        }
        // Cancel stops the whole run, not just the song it hit.
        const bool cancelled = ui.Cancelled();
        ui.CloseProgress();
        if (onSong)
            onSong(result);
        if (cancelled) {
            report.stopped = true;
            break;
        }
    }
    return report;
}

} // namespace th
