#pragma once
// The export: computer to device.
#include "transfer/Selection.h"
#include "transfer/TransferUi.h"

#include <cstdint>
#include <string>

namespace th {

class TExportJob {
public:
    TExportJob(TransferUi& ui, Selection& sel);

    // True when the run finished; false when it stopped (refusal, failed check, cancelled
    // confirmation, or a track that could not be copied).
    bool RunExport();
    bool CheckTrackFiles();
    std::uint64_t FreeCapacity();
    std::uint64_t TransferTotal();
    bool RewriteEventList();

    // Fields of the job, overwritten by each run.
    std::string ComputerFolder;
    std::string DeviceDrive;
    std::string AdlPath;
    std::uint32_t DataSize = 0;
    std::uint64_t FreeBytes = 0;
    std::int32_t ExportRate = 0;
    std::string FrameRateText;
    std::int32_t NextEntryNo = 0;

private:
    TransferUi& ui_;
    Selection& sel_;
};

} // namespace th
