#pragma once
// The export: computer to device.
//
// The song's edit list is replaced in one rename: the device files are copied first, then the
// complete new list (old lines without the two closing ones, one event line per copied track,
// the closing lines) is written to a temporary file next to it and renamed over it. The song
// folder always holds either the old list or the new one.
#include "transfer/Selection.h"
#include "transfer/TransferUi.h"

#include <cstdint>
#include <functional>
#include <optional>
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
    // Bytes available on the device drive (0 when the drive can't be asked).
    virtual std::uint64_t FreeCapacity();
    std::uint64_t TransferTotal();
    bool RewriteEventList();
    // Copies track `track` to the next free device file and adds its event line to the new
    // list. False (and no device file left behind) when the copy failed.
    bool CopyTrackFile(const std::string& computerFolder, const std::string& songFolder, int track);
    // Adds the event line of a copied file (DataSize bytes) to the new list.
    void AppendEventLine(int track, const std::string& devicePath);

    // The first free device file name in `songFolder`: songFolder + "\\zt6" + "%04d" + ".wav".
    static std::string NextDeviceFile(const std::string& songFolder);

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
    // Keeps the first reason of a run; an error number of 0 reads as an input/output error.
    void Explain(const Failure& why);
    void Explain(const std::string& file, int error);

    TransferUi& ui_;
    Selection& sel_;

    // State of one rewrite.
    std::string newList_;                  // the new edit list, built while copying
    std::vector<std::string> copiedFiles_; // device files copied in this run
    std::uint64_t copiedBytes_ = 0;        // audio bytes copied, for the progress bar
    unsigned barShift_ = 0;                // bar units are bytes >> barShift_
};

// What the Export button does around a run: bar reset to 0, Cancel disabled for the run,
// `complete` called when the run finished, then Cancel enabled again and the progress
// closed (also when the run throws).
bool RunExportFromButton(TExportJob& job, TransferUi& ui, const std::function<void()>& complete);

} // namespace th
