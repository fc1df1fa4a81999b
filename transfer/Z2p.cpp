#include "transfer/Z2p.h"

#include "platform/Platform.h"
#include "song/Adl.h"

#include <cstdio>

namespace th {

TImportJob::TImportJob(TransferUi& ui, Selection& sel, SongEventTable& table,
                       TrackRenderer& renderer)
    : ui_(ui), sel_(sel), table_(table), renderer_(renderer) {}

bool TImportJob::RunImport() {
    DestFolder = sel_.DestFolder;
    if (!ui_.Ask("ZT-6 to PC\r\n\r\n" + platform::DisplayPath(DestFolder + "\\tr(TrNo).wav")))
        return false;
    ui_.ShowProgress();
    // The three ways a run fails, each turned into one message at the end.
    try {
        if (!OpenEventFile())
            throw 1;
        if (!ReadEventList())
            throw 2;
        if (!RenderTickedTracks())
            throw 3;
    } catch (int code) {
        ShowImportError(code);
        return false;
    }
    return true;
}

bool TImportJob::OpenEventFile() {
    AdlPath = sel_.AdlPath;
    if (AdlPath.empty())
        return false;
    std::FILE* f = platform::OpenFile(AdlPath, "rb");
    if (!f)
        return false;
    std::fclose(f);
    return true;
}

bool TImportJob::ReadEventList() {
    return th::ReadEventList(platform::LoadLines(AdlPath), table_);
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
        ui_.Message("This drive isn't ZT-6.");
        break;
    case 2:
        ui_.Message("Too many events!");
        break;
    case 3:
        ui_.Message("Copy failed!");
        break;
    default:
        break;
    }
}

} // namespace th
