// The import run: confirmation, edit list, ticked tracks and the three failures.
#include "support/ImportRig.h"

#include "platform/Platform.h"
#include "song/Errors.h"
#include "transfer/Z2p.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string kZero = "00|00|00.00|0000";

std::string Ev(int no, int track, const std::string& file, const std::string& in,
               const std::string& out) {
    return EventLine(no, track, file, kZero, in, out);
}

std::string Adl(const std::vector<std::string>& events, bool withEventList = true) {
    return AdlText(44100, kZero, events, withEventList);
}

class ImportFixture : public ::testing::Test, protected ImportRig {
protected:
    TempDir card, out;
    MappedDrive drive{"E:", card.path()};

    void SetUp() override {
        fs::create_directories(card / "Song");
        WriteFile(card / "Song" / "zt60001.wav", MakeWav(Pattern(4000, 1)));
        sel.DestFolder = platform::ToDrivePath(out.path().string());
    }

    void UseList(const std::string& adl) {
        WriteFile(card / "Song" / "Song.ADL", adl);
        th::LoadSongList(sel, "E:");
        ASSERT_EQ(sel.SongName(), "Song");
    }

    void Tick(std::initializer_list<int> tracks) {
        sel.ImportTicked.fill(false);
        for (int t : tracks)
            sel.ImportTicked[static_cast<std::size_t>(t - 1)] = true;
    }

    bool Exists(int n) const { return fs::exists(out / ("tr0" + std::to_string(n) + ".wav")); }
};

TEST_F(ImportFixture, RendersTickedTracksWithLabels) {
    UseList(Adl({Ev(1, 2, "ZT60001.WAV", "00|00|00.00|0000", "00|00|00.00|1000"),
                 Ev(2, 5, "ZT60001.WAV", "00|00|00.00|0010", "00|00|00.00|0500"),
                 Ev(3, 7, "ZT60001.WAV", "00|00|00.00|0000", "00|00|00.00|0500")}));
    Tick({2, 5, 6});
    ASSERT_TRUE(job.RunImport());
    ASSERT_EQ(ui.questions.size(), 1u);
    // The folder as the system writes it; the run itself keeps the drive form.
    EXPECT_EQ(ui.questions[0], "ZT-6 to PC\r\n\r\n" + (out / "tr(TrNo).wav").string());
    EXPECT_EQ(ui.labels, (std::vector<std::string>{"Track2", "Track5", "Track6"}));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(Exists(2));
    EXPECT_TRUE(Exists(5));
    EXPECT_FALSE(Exists(6)); // no events on track 6: nothing to render
    EXPECT_FALSE(Exists(7)); // not ticked
    EXPECT_EQ(table.EventCount, 3);
}

TEST_F(ImportFixture, DecliningTheConfirmationDoesNothing) {
    UseList(Adl({Ev(1, 1, "ZT60001.WAV", "00|00|00.00|0000", "00|00|00.00|1000")}));
    ui.answers = {false};
    EXPECT_FALSE(job.RunImport());
    EXPECT_EQ(ui.showCount, 0);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(table.EventCount, 0);
    EXPECT_FALSE(Exists(1));
}

TEST_F(ImportFixture, FailedTrackStopsTheRun) {
    UseList(Adl({Ev(1, 2, "ZT60009.WAV", "00|00|00.00|0000", "00|00|00.00|1000"),
                 Ev(2, 5, "ZT60001.WAV", "00|00|00.00|0000", "00|00|00.00|1000")}));
    Tick({2, 5});
    EXPECT_FALSE(job.RunImport());
    EXPECT_EQ(ui.labels, std::vector<std::string>{"Track2"});
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Copy failed!"});
    ASSERT_EQ(ui.failures.size(), 1u);
    EXPECT_EQ(ui.failures[0].file, "E:\\Song\\ZT60009.WAV");
    EXPECT_EQ(ui.failures[0].reason, "No such file or directory");
    EXPECT_FALSE(Exists(2));
    EXPECT_FALSE(Exists(5));
}

TEST_F(ImportFixture, MissingEditListIsNotARecorderDrive) {
    UseList(Adl({}));
    fs::remove(card / "Song" / "Song.ADL");
    EXPECT_FALSE(job.RunImport());
    EXPECT_EQ(ui.messages, std::vector<std::string>{"This drive isn't ZT-6."});
    ASSERT_EQ(ui.failures.size(), 1u);
    EXPECT_EQ(ui.failures[0].file, "E:\\Song\\Song.ADL");
    EXPECT_EQ(ui.failures[0].reason, "No such file or directory");
    EXPECT_TRUE(ui.shown); // the caller closes the dialog
}

TEST_F(ImportFixture, ListWithoutEventsCompletesWithoutFiles) {
    UseList(Adl({}, false));
    EXPECT_TRUE(job.RunImport());
    EXPECT_TRUE(ui.messages.empty());
    for (int n = 1; n <= 8; ++n)
        EXPECT_FALSE(Exists(n));
}

TEST_F(ImportFixture, AtMost9998Events) {
    for (int count : {9998, 9999}) {
        std::vector<std::string> events;
        for (int i = 1; i <= count; ++i)
            events.push_back(Ev(i, 1, "ZT60001.WAV", "00|00|00.00|0000", "00|00|00.00|0002"));
        UseList(Adl(events));
        ui.messages.clear();
        Tick({});
        const bool ok = job.RunImport();
        if (count == 9998) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(table.EventCount, 9998);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(ui.messages, std::vector<std::string>{"Too many events!"});
            ASSERT_EQ(ui.failures.size(), 1u);
            EXPECT_EQ(ui.failures[0].reason, "The event list holds more than 9998 events");
            EXPECT_EQ(table.EventCount, 9998); // the earlier read stays
        }
    }
}

TEST_F(ImportFixture, FieldThatIsNoIntegerLeavesTheRun) {
    UseList(Adl({"\t\t(Entry)\t00x1\t(Cut)\tF\t\"ZT60001.WAV\"\t1\t1\ta\tb\tc\t_"}));
    try {
        job.RunImport();
        ADD_FAILURE();
    } catch (const th::ConvertError& e) {
        // The list's name and the line of the field.
        EXPECT_STREQ(e.what(), "Song.ADL, line 13: '00x1' is not a valid integer value");
    }
}

} // namespace
