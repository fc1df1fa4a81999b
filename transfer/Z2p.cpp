#include "transfer/Z2p.h"

#include "platform/Platform.h"
#include "song/Adl.h"
#include "song/Errors.h"
#include "transfer/ListWarnings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>

namespace th {

TImportJob::TImportJob(TransferUi& ui, Selection& sel, SongEventTable& table,
                       TrackRenderer& renderer)
    : ui_(ui), sel_(sel), table_(table), renderer_(renderer) {}

bool TImportJob::RunImport() {
    DestFolder = sel_.DestFolder;
    if (!ui_.Ask("ZT-6 to PC\r\n\r\n" + platform::DisplayPath(DestFolder + "\\tr(TrNo).wav")))
        return false;
    ui_.ShowProgress();
    Why = {};
    Warnings.clear();
    // The three ways a run fails, each turned into one message at the end.
    try {
        if (!OpenEventFile())
            throw 1;
        if (!ReadEventList())
            throw 2;
        if (!RenderTickedTracks()) {
            Why = renderer_.Why;
            throw 3;
        }
    } catch (int code) {
        ShowImportError(code);
        return false;
    }
    return true;
}

bool TImportJob::OpenEventFile() {
    AdlPath = sel_.AdlPath;
    if (AdlPath.empty()) {
        Why = {sel_.DriveRoot + "\\" + sel_.SongName(),
               "The song folder holds no edit list (.ADL)"};
        return false;
    }
    errno = 0;
    std::FILE* f = platform::OpenFile(AdlPath, "rb");
    if (!f) {
        Why = {AdlPath, SystemReason(errno)};
        return false;
    }
    std::fclose(f);
    return true;
}

bool TImportJob::ReadEventList() {
    try {
        const platform::TextLines lines = platform::LoadTextLines(AdlPath);
        if (th::ReadEventList(lines, table_)) {
            Warnings = WarningTexts(FindTimeWarnings(table_, EventListLine(lines), AdlPath,
                                                     sel_.SampleRate, sel_.ImportTicked));
            return true;
        }
    } catch (TextError& e) {
        e.SetFile(AdlPath);
        throw;
    }
    Why = {AdlPath, "The event list holds more than 9998 events"};
    return false;
}

bool TImportJob::RenderTickedTracks() {
    for (int n = 1; n <= 8; ++n) {
        if (!sel_.ImportTicked[n - 1])
            continue;
        ui_.SetLabel("Track" + std::to_string(n));
        if (!renderer_.RenderTrack(n))
            return false;
    }
    return true;
}

void TImportJob::ShowImportError(int code) {
    switch (code) {
    case 1:
        ui_.Report("This drive isn't ZT-6.", Why);
        break;
    case 2:
        ui_.Report("Too many events!", Why);
        break;
    case 3:
        ui_.Report("Copy failed!", Why);
        break;
    default:
        break;
    }
}

} // namespace th
