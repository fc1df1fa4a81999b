#include "transfer/Selection.h"

#include "platform/Platform.h"
#include "song/Adl.h"
#include "song/Errors.h"

#include <algorithm>
#include <cctype>

namespace th {

std::string Selection::SongName() const {
    if (SongIndex < 0 || static_cast<std::size_t>(SongIndex) >= Songs.size())
        return {};
    return Songs[static_cast<std::size_t>(SongIndex)];
}

std::string FindDeviceDrive() {
    for (const std::string& root : platform::LogicalDriveStrings()) {
        if (platform::IsDeviceDrive(root))
            return root.substr(0, 2);
    }
    return "0";
}

std::vector<std::string> ListSongs(const std::string& drive) {
    platform::ErrorModeGuard quiet;
    std::vector<std::string> songs;
    for (const platform::DirEntry& e : platform::ListDirectory(drive + "\\*.*")) {
        if (e.name == "." || e.name == "..")
            continue;
        if (e.attributes & platform::AttrDirectory)
            songs.push_back(e.name);
    }
    return songs;
}

std::string FindSongAdl(const std::string& driveRoot, const std::string& songName) {
    const std::string folder = driveRoot + "\\" + songName;
    // Only names that may be the list are looked at closer: a song folder may hold hundreds of
    // takes, and a card in a reader answers a request for each.
    for (const platform::DirEntry& e : platform::ListDirectory(folder + "\\*.ADL")) {
        const auto dot = e.name.rfind('.');
        if (dot == std::string::npos)
            continue;
        std::string ext = e.name.substr(dot);
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (ext == ".ADL")
            return folder + "\\" + e.name;
    }
    return {};
}

std::int32_t ReadSongSampleRate(const std::string& adlPath) {
    // The list is read in pieces: only the <SEQUENCE> block is kept.
    SequenceReader reader;
    platform::ForEachLineOfFile(adlPath, [&reader](std::string_view line) { reader.Take(line); });
    try {
        const std::optional<SequenceLines> sequence = reader.Finish();
        if (!sequence)
            throw ConvertError("'' is not a valid integer value");
        try {
            return SampleRateFromSequence(*sequence);
        } catch (TextError& e) {
            e.SetLine(reader.RateLine());
            throw;
        }
    } catch (TextError& e) {
        e.SetFile(adlPath);
        throw;
    }
}

void LoadSongList(Selection& sel, const std::string& drive) {
    sel.FSinfo.clear();
    sel.BITinfo = "16";
    sel.DriveRoot = drive;
    sel.Songs = ListSongs(drive);
    sel.SongIndex = -1;
    if (!sel.Songs.empty()) {
        SelectSong(sel, 0);
        sel.TransferEnabled = true;
    } else {
        sel.FSinfo.clear();
        sel.BITinfo.clear();
        sel.SampleRate = 0;
        sel.TransferEnabled = false;
    }
}

void SelectSong(Selection& sel, int index) {
    sel.SongIndex = index;
    sel.AdlPath = FindSongAdl(sel.DriveRoot, sel.SongName());
    if (sel.AdlPath.empty())
        return;
    sel.SampleRate = ReadSongSampleRate(sel.AdlPath);
    sel.FSinfo = std::to_string(sel.SampleRate);
}

void UpdateExportTracks(Selection& sel, const std::string& folder) {
    sel.ExportEnabled.fill(false);
    if (folder.empty() || folder == "A:")
        return;
    for (int n = 1; n <= 8; ++n)
        sel.ExportEnabled[n - 1] =
            platform::FileExists(folder + "\\tr0" + std::to_string(n) + ".wav");
}

} // namespace th
