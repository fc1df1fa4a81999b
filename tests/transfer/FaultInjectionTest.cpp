// Every file operation of an export and of an import fails in turn, as a full card, a pulled
// card or a failing disk would make it fail. After each: the edit list is the old one or a
// complete new one, no file under a final name is cut short, nothing temporary is left, and
// the run never reports success.
#include "support/FaultInjection.h"
#include "support/ImportRig.h"
#include "support/TestSupport.h"

#include "song/Adl.h"
#include "transfer/P2z.h"
#include "transfer/Z2p.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <set>

namespace fs = std::filesystem;
using namespace testsupport;
using platform::FileOp;

namespace {

const std::string kTc = "00.00.00.00|0000";
// Three blocks and a bit, so that a copy takes several writes.
const std::string kAudio1 = Pattern(3 * 65536 + 100, 1);
const std::string kAudio2 = Pattern(65536 + 7, 2);

// Opens for reading (sources and lists: ".wav", ".ADL") are left out: a source that can't be
// read is not a write that failed. The files written have no such extension yet.
bool WriteSide(FileOp op, const std::string& path) {
    const auto endsWith = [&](const char* tail) {
        const std::string t = tail;
        return path.size() >= t.size() && path.compare(path.size() - t.size(), t.size(), t) == 0;
    };
    return op != FileOp::Open || !(endsWith(".wav") || endsWith(".ADL"));
}

const FileOp kOps[] = {FileOp::Open, FileOp::Write, FileOp::Sync, FileOp::Rename, FileOp::Close};

const char* OpName(FileOp op) {
    switch (op) {
    case FileOp::Open:
        return "open";
    case FileOp::Write:
        return "write";
    case FileOp::Sync:
        return "sync";
    case FileOp::Rename:
        return "rename";
    case FileOp::Close:
        return "close";
    case FileOp::CachedRead:
        return "cached read";
    }
    return "?";
}

bool IsUnfinishedDeviceFile(const std::string& name) {
    return name.size() > 3 && (name.compare(0, 3, "zt6") == 0 || name.compare(0, 3, "ZT6") == 0) &&
           name.find_first_not_of("0123456789", 3) == std::string::npos;
}

class ExportFaults : public ::testing::Test {
protected:
    TempDir tmp;
    fs::path card = tmp / "card";
    fs::path pc = tmp / "pc";
    fs::path song = card / "SONG1";
    fs::path adl = song / "SONG1.ADL";
    std::string oldList;

    void SetUp() override {
        fs::create_directories(song);
        fs::create_directories(pc);
        oldList = AdlText(44100, kTc, {EventLine(1, 1, "ZT60001.WAV", kTc, kTc, kTc)});
        WriteFile(pc / "tr01.wav", MakeWav(kAudio1));
        WriteFile(pc / "tr02.wav", MakeWav(kAudio2));
    }

    void ResetCard() {
        fs::remove_all(song);
        fs::create_directories(song);
        WriteFile(adl, oldList);
        WriteFile(song / "zt60001.wav", MakeWav(Pattern(100, 9)));
    }

    // One export with the default answers; true when it reported "Complete!".
    bool Export() {
        MappedDrive e("E:", card), p("P:", pc);
        FakeUi ui;
        th::Selection sel;
        sel.DriveRoot = "E:";
        sel.DestFolder = "P:";
        sel.Songs = {"SONG1"};
        sel.SongIndex = 0;
        sel.SampleRate = 44100;
        sel.ExportEnabled[0] = sel.ExportEnabled[1] = true;
        th::TExportJob job(ui, sel);
        bool complete = false;
        th::RunExportFromButton(job, ui, [&] { complete = true; });
        return complete;
    }

    // The card after a run: the old list, or a complete new one whose every new file is there
    // and whole; nothing unfinished, nothing unlisted.
    void ExpectConsistentCard(bool mustBeNew) {
        const std::string list = ReadFile(adl);
        const std::string head = oldList.substr(0, oldList.size() - th::kClosingLines.size());
        std::set<std::string> listed;
        if (list != oldList) {
            ASSERT_EQ(list.compare(0, head.size(), head), 0) << list;
            ASSERT_GE(list.size(), head.size() + th::kClosingLines.size());
            EXPECT_EQ(list.substr(list.size() - th::kClosingLines.size()), th::kClosingLines);
            th::SongEventTable table;
            ASSERT_TRUE(th::ReadEventList(platform::SplitLines(list), table));
            for (int r = 2; r <= table.EventCount; ++r)
                listed.insert(table.Row(r).SourceFile.str());
        } else {
            EXPECT_FALSE(mustBeNew);
        }
        std::map<std::string, std::string> onCard; // upper-case name -> name
        for (const auto& e : fs::directory_iterator(song)) {
            const std::string name = e.path().filename().string();
            EXPECT_FALSE(IsUnfinishedDeviceFile(name)) << name;
            EXPECT_NE(e.path().extension(), ".tmp") << name;
            if (name == "SONG1.ADL" || name == "zt60001.wav")
                continue;
            std::string upper = name;
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_TRUE(listed.count(upper)) << name << " is on the card but in no list";
            onCard[upper] = name;
        }
        for (const std::string& name : listed) {
            ASSERT_TRUE(onCard.count(name)) << name << " is listed but not on the card";
            const std::string bytes = ReadFile(song / onCard[name]);
            EXPECT_TRUE(IsWholeWave(bytes)) << name;
            const std::string audio = WaveAudio(bytes);
            EXPECT_TRUE(audio == kAudio1 || audio == kAudio2) << name;
        }
    }
};

TEST_F(ExportFaults, EveryFailedStepLeavesTheOldListOrACompleteNewOne) {
    ResetCard();
    std::map<FileOp, unsigned> counts;
    {
        FaultPlan counting(FileOp::Write, 0, 0, WriteSide);
        ASSERT_TRUE(Export());
        for (FileOp op : kOps)
            counts[op] = counting.Count(op);
    }
    ExpectConsistentCard(true);
    EXPECT_GE(counts[FileOp::Sync], 4u); // both files, the list, the folder

    for (FileOp op : kOps) {
        for (unsigned n = 1; n <= counts[op]; ++n) {
            SCOPED_TRACE(std::string(OpName(op)) + " #" + std::to_string(n));
            ResetCard();
            bool complete = false;
            {
                FaultPlan plan(op, n, op == FileOp::Write ? ENOSPC : EIO, WriteSide);
                complete = Export();
                EXPECT_TRUE(plan.Fired());
            }
            EXPECT_FALSE(complete);
            ExpectConsistentCard(false);
            // The next run, with nothing failing, completes.
            EXPECT_TRUE(Export());
            ExpectConsistentCard(true);
        }
    }
}

class ImportFaults : public ::testing::Test {
protected:
    TempDir card, out;
    MappedDrive drive{"E:", card.path()};
    const std::string old2 = MakeWav(Pattern(500, 7));

    void SetUp() override {
        fs::create_directories(card / "Song");
        WriteFile(card / "Song" / "zt60001.wav", MakeWav(kAudio1));
        WriteFile(
            card / "Song" / "Song.ADL",
            AdlText(44100, kTc,
                    {EventLine(1, 1, "ZT60001.WAV", kTc, kTc, "00.00.02.00|0000"),
                     EventLine(2, 2, "ZT60001.WAV", kTc, "00.00.00.10|0000", "00.00.01.00|0000")}));
    }

    void ResetOut() {
        for (const auto& e : fs::directory_iterator(out.path()))
            fs::remove_all(e.path());
        WriteFile(out / "tr02.wav", old2);
    }

    bool Import() {
        ImportRig rig;
        rig.PickSong("E:", "Song");
        rig.sel.DestFolder = platform::ToDrivePath(out.path().string());
        rig.sel.ImportTicked.fill(true);
        return rig.job.RunImport();
    }
};

TEST_F(ImportFaults, EveryFailedStepKeepsOldTakesOrWritesWholeNewOnes) {
    ResetOut();
    std::map<FileOp, unsigned> counts;
    {
        FaultPlan counting(FileOp::Write, 0, 0, WriteSide);
        ASSERT_TRUE(Import());
        for (FileOp op : kOps)
            counts[op] = counting.Count(op);
    }
    const std::string new1 = ReadFile(out / "tr01.wav");
    const std::string new2 = ReadFile(out / "tr02.wav");
    ASSERT_TRUE(IsWholeWave(new1));
    ASSERT_NE(new2, old2);

    for (FileOp op : kOps) {
        for (unsigned n = 1; n <= counts[op]; ++n) {
            SCOPED_TRACE(std::string(OpName(op)) + " #" + std::to_string(n));
            ResetOut();
            FaultPlan plan(op, n, op == FileOp::Write ? ENOSPC : EIO, WriteSide);
            EXPECT_FALSE(Import());
            EXPECT_TRUE(plan.Fired());
            for (const auto& e : fs::directory_iterator(out.path())) {
                const std::string name = e.path().filename().string();
                const std::string bytes = ReadFile(e.path());
                if (name == "tr01.wav")
                    EXPECT_EQ(bytes, new1);
                else if (name == "tr02.wav")
                    EXPECT_TRUE(bytes == old2 || bytes == new2);
                else
                    ADD_FAILURE() << name << " left behind";
            }
        }
    }
}

} // namespace
