#pragma once
// The main window's selection state that the engines read when a transfer starts, and the
// song-selection logic that produces it. The window binds its widgets to this; the command
// line and the tests use it directly.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace th {

struct Selection {
    std::string DestFolder; // computer folder of a transfer, no trailing backslash
    std::string DriveRoot;  // recorder drive, "E:"; "0" when none was found at start
    std::string AdlPath;    // the selected song's edit list; empty when the folder has none
    std::int32_t SampleRate = 0;

    std::vector<std::string> Songs; // items of both song combos, enumeration order
    int SongIndex = -1;             // selected song, -1 for none
    std::string SongName() const;   // text of the selected song, empty for none

    std::string FSinfo;  // "44100", or empty
    std::string BITinfo; // "16" while a drive with songs is chosen, else empty

    // Import tab: track boxes (ticked) and whether the transfer controls are enabled.
    std::array<bool, 8> ImportTicked{true, true, true, true, true, true, true, true};
    bool TransferEnabled = false; // both buttons and the eight import boxes

    // Export tab: ticked, and enabled when "tr0N.wav" exists in the selected folder.
    std::array<bool, 8> ExportTicked{true, true, true, true, true, true, true, true};
    std::array<bool, 8> ExportEnabled{};

    bool ExportSelected(int track) const { // track 1..8
        return ExportEnabled[track - 1] && ExportTicked[track - 1];
    }
};

// First device drive as "E:", or "0" when there is none.
std::string FindDeviceDrive();

// Folder names at the drive's root, in enumeration order ("." and ".." and files skipped).
std::vector<std::string> ListSongs(const std::string& drive);

// The first entry of the song folder whose extension, upper-cased, is ".ADL":
// driveRoot + "\\" + song + "\\" + name as found; empty when there is none.
std::string FindSongAdl(const std::string& driveRoot, const std::string& songName);

// Sampling frequency from the <SEQUENCE> block of an edit list. Throws when the file can't be
// loaded, has no sequence block, or the number is not an integer.
std::int32_t ReadSongSampleRate(const std::string& adlPath);

// Selecting a drive: replaces the song list, selects the first song (SelectSong) and sets the
// transfer controls' enabled state.
void LoadSongList(Selection& sel, const std::string& drive);

// Selecting song `index`: finds its edit list and reads its sampling frequency. Without an
// edit list, SampleRate and FSinfo keep their values. May throw (see ReadSongSampleRate);
// AdlPath already holds the new path then.
void SelectSong(Selection& sel, int index);

// Which "tr0N.wav" files exist in `folder`: the export boxes' enabled state.
void UpdateExportTracks(Selection& sel, const std::string& folder);

} // namespace th
