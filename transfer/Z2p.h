#pragma once
// The import: device to computer.
#include "song/SongEvent.h"
#include "transfer/Renderer.h"
#include "transfer/Selection.h"
#include "transfer/TransferUi.h"

#include <string>
#include <vector>

namespace th {

class TImportJob {
public:
    TImportJob(TransferUi& ui, Selection& sel, SongEventTable& table, TrackRenderer& renderer);

    // True when every ticked track was rendered; false when the user declined or an error was
    // shown. Other errors (unreadable list, a field that is no integer) leave as exceptions.
    bool RunImport();
    bool OpenEventFile();
    bool ReadEventList();
    bool RenderTickedTracks();
    void ShowImportError(int code);

    std::string DestFolder; // copied at the start of the run
    std::string AdlPath;    // copied by OpenEventFile
    Failure Why;            // why the step that failed failed, shown with its message
    // "Warning: ..." texts about times of the list read that are not well formed, on the
    // ticked tracks (ListWarnings.h); the caller shows them with the run's final message.
    std::vector<std::string> Warnings;

private:
    TransferUi& ui_;
    Selection& sel_;
    SongEventTable& table_;
    TrackRenderer& renderer_;
};

} // namespace th
