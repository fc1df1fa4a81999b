#pragma once
// The export: computer to device.
//
// The song's edit list is replaced in one rename: the device files are copied first, each
// under its name without extension, then the complete new list (old lines without the two
// closing ones, one event line per copied track, the closing lines) is written to a temporary
// file next to it; the device files take their ".wav" names and the list is renamed over the
// old one. Every file and the song folder are synced before the run reports success, so a
// card pulled after "Complete!" holds the new takes and the new list. The song folder always
// holds either the old list or the new one; what a killed run leaves (files without extension,
// the temporary list) the next export to the song removes. The complete temporary list, synced
// with its folder before the first device file takes its ".wav" name, is the run's rollback
// record: a run killed between those renames and the replacement leaves device files that
// only it names, and the next export removes them before it removes the record.
#include "transfer/Convert.h"
#include "transfer/Selection.h"
#include "transfer/TransferUi.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace th {

class TExportJob {
public:
    TExportJob(TransferUi& ui, Selection& sel);
    virtual ~TExportJob() = default;

    // True when the run finished; false when it stopped (refusal, failed check, cancelled
    // confirmation, or a track that could not be copied).
    bool RunExport();
    bool CheckTrackFiles();
    // Bytes available on the device drive; nullopt when the drive can't be asked or does not
    // know (errno tells why; 0 when the file system reports no size at all).
    virtual std::optional<std::uint64_t> FreeCapacity();
    // The device volume's allocation unit in bytes (1 when the drive can't be asked).
    virtual std::uint64_t AllocationUnit();
    // Sum of the selected track files' lengths: the progress bar's span.
    std::uint64_t TransferTotal();
    // Card space the run takes: each device file and the new edit list, each rounded up to
    // whole allocation units.
    std::uint64_t RequiredCapacity();
    bool RewriteEventList();
    // Copies track `track` to the next free device file and adds its event line to the new
    // list. False (and no device file left behind) when the copy failed.
    bool CopyTrackFile(const std::string& computerFolder, const std::string& songFolder, int track);
    // Adds the event line of a copied file (DataSize bytes) to the new list.
    void AppendEventLine(int track, const std::string& devicePath);

    // The first free device file name in `songFolder`: songFolder + "\\zt6" + "%04d" + ".wav",
    // free also without its extension.
    static std::string NextDeviceFile(const std::string& songFolder);
    // Removes what a killed run left in the song folder: files named "zt6" and digits without
    // extension, and the temporary list `song` + ".ADL.tmp". When that list is complete, the
    // ".wav" device files it names and `songList` (the song's list, as lines) does not go
    // first: the killed run had renamed them. Other ".wav" files stay, listed or not.
    // Returns the names in the folder that are left.
    static std::vector<std::string> RemoveLeftovers(const std::string& songFolder,
                                                    const std::string& song,
                                                    const std::vector<std::string>& songList);

    // What happens to a file whose rate, bits or channels are not the song's: refused with
    // its message (Never), converted (Always), or converted when the user says Yes to a
    // question about it (Ask; No refuses it with its message, Cancel ends the run).
    enum class ConvertMode { Never, Always, Ask };
    ConvertMode Convert = ConvertMode::Never;
    // A file exported as track N (index N - 1) in place of the folder's "tr0N.wav"; empty for
    // the folder's file. The caller selects the track.
    std::array<std::string, 8> TrackSources;
    // The file the run reads for track N.
    std::string SourceFile(int track) const;
    // The question asked in ConvertMode::Ask.
    static std::string ConvertQuestion(const std::string& path, const AudioFormat& format,
                                       std::int32_t songRate);

    // Fields of the job, overwritten by each run.
    std::string ComputerFolder;
    std::string DeviceDrive;
    std::string AdlPath;
    std::uint32_t DataSize = 0;
    std::uint64_t FreeBytes = 0;
    std::int32_t ExportRate = 0;
    std::string FrameRateText;
    std::int32_t NextEntryNo = 0;
    // Why the last rewrite reported "Copy failed!": the first file that failed and its reason.
    Failure Why;

    // Seams for the tests, unset in the program.
    // Runs after every copied block with the track and the block's size; false makes the
    // block count as a failed write.
    std::function<bool(int track, std::uint32_t bytes)> OnBlockCopied;
    // Runs when the new list is written, just before it replaces the old one; false makes
    // the replacement fail.
    std::function<bool()> BeforeReplace;

private:
    bool WriteNewList(const std::string& tempPath);
    bool PutNewFilesInPlace(const std::string& songFolder, const std::string& tempPath,
                            const std::string& listPath);
    void RemoveCopiedFiles();
    // The next free device file name by the names of the song folder in `taken_` (a copied
    // file's name joins them).
    std::string TakeDeviceFile(const std::string& songFolder);
    // The reason under "Copy failed!": the first failure, and what reached the card when some
    // tracks did.
    Failure CopyFailedDetail(bool replaced, bool onCard) const;
    // Keeps the first reason of a run; an error number of 0 reads as an input/output error.
    void Explain(const Failure& why);
    void Explain(const std::string& file, int error);
    // Decides, for a selected file, whether it is converted (plans_); false ends the run.
    // `checked` tells whether the file still goes through the checks of a copy.
    bool DecideConversion(int track, const std::string& path, bool& checked);

    TransferUi& ui_;
    Selection& sel_;

    // Tracks converted in this run (index N - 1), decided by CheckTrackFiles.
    std::array<std::optional<ConvertPlan>, 8> plans_;

    // State of one rewrite.
    std::string newList_; // the new edit list, built while copying
    // A device file of this run: the name it is written under, and its final ".wav" name.
    struct DeviceFile {
        std::string partPath;
        std::string finalPath;
    };
    std::vector<DeviceFile> copiedFiles_; // device files copied in this run
    std::uint64_t copiedBytes_ = 0;       // audio bytes copied, for the progress bar
    std::vector<int> addedTracks_;        // tracks copied, named in the new list
    std::vector<int> failedTracks_;       // tracks that could not be copied
    // Names in the song folder in capitals, from one listing per run: the numbering looks
    // here instead of asking the card for each number.
    std::set<std::string> taken_;
    bool listed_ = false;   // taken_ holds this run's listing
    unsigned barShift_ = 0; // bar units are bytes >> barShift_
};

// What the Export button does around a run: bar reset to 0, Cancel disabled for the run,
// `complete` called when the run finished, then Cancel enabled again and the progress
// closed (also when the run throws).
bool RunExportFromButton(TExportJob& job, TransferUi& ui, const std::function<void()>& complete);

} // namespace th
