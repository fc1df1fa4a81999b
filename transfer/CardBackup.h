#pragma once
// Backs up a whole card: every song is imported into its own folder, destination\<song>,
// as the import renders one song. A song that can't be imported is reported and skipped;
// the others go on.
#include "transfer/TransferUi.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace th {

struct SongBackup {
    std::string song;
    bool imported = false;
    std::string reason;                // why not, when not imported
    int tracks = 0;                    // track files written
    std::uint64_t bytes = 0;           // their size on disk
    std::vector<std::string> warnings; // about the song's list (TImportJob::Warnings)
};

struct CardBackupReport {
    bool refused = false;          // the user declined at the start; nothing was read or written
    bool stopped = false;          // Cancel ended the run; later songs were not tried
    std::vector<SongBackup> songs; // in the card's order; a stopped run lists the songs tried
    bool AllImported() const;
    std::uint64_t Bytes() const;
};

// Asks once ("ZT-6 to PC" with destination\(Song)\tr(TrNo).wav, as the system writes paths), then
// imports every song of `drive` (a drive text, "E:") into `destination` (drive-letter form),
// rendering the tracks whose flag is set. Existing track files are asked about through `ui` as in
// an import. `onSong` hears each song's outcome as soon as it is known.
CardBackupReport BackupCard(TransferUi& ui, const std::string& drive,
                            const std::string& destination, const std::array<bool, 8>& tracks,
                            const std::function<void(const SongBackup&)>& onSong = {});

} // namespace th
