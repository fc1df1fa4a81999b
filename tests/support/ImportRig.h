#pragma once
// What an import needs, wired as the window wires it: a scripted user, the selection, the
// event table, the renderer and the import job.
#include "support/TestSupport.h"

#include "transfer/Z2p.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace testsupport {

struct ImportRig {
    FakeUi ui;
    th::Selection sel;
    th::SongEventTable table;
    th::TrackRenderer renderer{ui, sel, table};
    th::TImportJob job{ui, sel, table, renderer};

    // Picks `song` on `drive` as the window does: the drive's song list, then the song.
    void PickSong(const std::string& drive, const std::string& song) {
        th::LoadSongList(sel, drive);
        const auto it = std::find(sel.Songs.begin(), sel.Songs.end(), song);
        ASSERT_NE(it, sel.Songs.end()) << song;
        th::SelectSong(sel, static_cast<int>(it - sel.Songs.begin()));
    }
};

} // namespace testsupport
