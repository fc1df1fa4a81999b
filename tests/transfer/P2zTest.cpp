#include "transfer/P2z.h"

#include "song/Adl.h"
#include "song/Tc2w.h"
#include "support/FaultInjection.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

// Audio of the two default tracks: one second, and one second two frames five samples at
// 25 frames per second and 44,100 Hz.
const std::string kAudio1 = Pattern(2 * 44100, 1);
const std::string kAudio3 = Pattern(2 * (44100 + 2 * 1764 + 5), 3);

std::string LineEvent(int entry, const std::string& file, int track, const std::string& zero,
                      const std::string& length) {
    char number[16];
    std::snprintf(number, sizeof number, "%04d", entry);
    return std::string("\t\t(Entry)\t") + number + "\t(Cut)\tF\t\"" + file + "\"\t1\t" +
           std::to_string(track) + "\t" + zero + "\t" + zero + "\t" + length + "\t_";
}

// The edit list of a song, one item per line.
std::vector<std::string> SongLines(int rate, const std::string& tc, int events) {
    std::vector<std::string> lines = {
        "<ADL>",
        "\t<VERSION>",
        "\t\t(ADL_ID)\t\"TEST\"   ",
        "\t</VERSION>",
        "\t<SEQUENCE>",
        "\t\t(SEQ_SAMPLE_RATE)\tS" + std::to_string(rate),
        "\t\t(SEQ_FRAME_RATE)\t25",
        "\t\t(SEQ_ADL_LEVEL)\t1",
        "\t\t(SEQ_CLEAN)\tFALSE",
        "\t\t(SEQ_DEST_START) " + tc,
        "\t</SEQUENCE>",
        "\t<EVENT_LIST>",
    };
    for (int e = 1; e <= events; ++e)
        lines.push_back(LineEvent(e, "OLD" + std::to_string(e) + ".WAV", e, "00.00.00.00|0000",
                                  "00.00.01.00|0000"));
    lines.push_back("\t</EVENT_LIST>");
    lines.push_back("</ADL>");
    return lines;
}

std::string Join(const std::vector<std::string>& lines, std::size_t count, const char* end) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += lines[i] + end;
    return text;
}

// The file the export writes: the 46-byte header, then the audio.
std::string DeviceWav(const std::string& audio, std::uint32_t rate) {
    const auto n = static_cast<std::uint32_t>(audio.size());
    std::string fmt = U16(1) + U16(1) + U32(rate) + U32(2 * rate) + U16(2) + U16(16) + U16(0);
    return "RIFF" + U32(38 + n + n % 2) + "WAVE" + Chunk("fmt ", fmt) + Chunk("data", audio);
}

// A source with another chunk between "fmt " and "data".
std::string WavWithList(const std::string& audio, std::uint32_t rate) {
    std::string fmt = U16(1) + U16(1) + U32(rate) + U32(2 * rate) + U16(2) + U16(16);
    std::string body =
        "WAVE" + Chunk("fmt ", fmt) + Chunk("LIST", "INFOabc") + Chunk("data", audio);
    return "RIFF" + U32(static_cast<std::uint32_t>(body.size())) + body;
}

// Every file under a folder with its bytes and write permission.
using Snapshot = std::map<std::string, std::pair<std::string, bool>>;
Snapshot Snap(const fs::path& root) {
    Snapshot s;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const bool writable =
            (fs::status(e.path()).permissions() & fs::perms::owner_write) != fs::perms::none;
        s[fs::relative(e.path(), root).generic_string()] = {
            e.is_regular_file() ? ReadFile(e.path()) : std::string("<dir>"), writable};
    }
    return s;
}

class TestJob : public th::TExportJob {
public:
    using th::TExportJob::TExportJob;
    std::optional<std::uint64_t> freeBytes = std::uint64_t{1} << 40;
    std::uint64_t unit = 4096;
    bool sizeUnknown = false; // the file system reports no blocks
    std::optional<std::uint64_t> FreeCapacity() override {
        if (sizeUnknown) {
            errno = 0;
            return std::nullopt;
        }
        return freeBytes ? freeBytes : th::TExportJob::FreeCapacity();
    }
    std::uint64_t AllocationUnit() override { return unit; }
};

class ExportFixture : public ::testing::Test {
public:
    TempDir tmp;
    fs::path card = tmp / "card";
    fs::path pc = tmp / "pc";
    fs::path song = card / "SONG1";
    fs::path adl = song / "SONG1.ADL";
    std::unique_ptr<MappedDrive> cardDrive, pcDrive;
    FakeUi ui;
    th::Selection sel;
    TestJob job{ui, sel};

    void SetUp() override {
        fs::create_directories(song);
        fs::create_directories(pc);
        cardDrive = std::make_unique<MappedDrive>("E:", card);
        pcDrive = std::make_unique<MappedDrive>("P:", pc);
        sel.DriveRoot = "E:";
        sel.DestFolder = "P:";
        sel.Songs = {"SONG1"};
        sel.SongIndex = 0;
        WriteSong(44100, "00.00.00.00|0000", 2);
        PutTrack(1, MakeWav(kAudio1));
        PutTrack(3, WavWithList(kAudio3, 44100));
    }

    void WriteSong(int rate, const std::string& tc, int events) {
        sel.SampleRate = rate;
        WriteFile(adl,
                  Join(SongLines(rate, tc, events), SongLines(rate, tc, events).size(), "\r\n"));
    }
    void PutTrack(int n, const std::string& bytes) {
        WriteFile(pc / ("tr0" + std::to_string(n) + ".wav"), bytes);
        sel.ExportEnabled[n - 1] = true;
    }
    void RemoveTrack(int n) {
        fs::remove(pc / ("tr0" + std::to_string(n) + ".wav"));
        sel.ExportEnabled[n - 1] = false;
    }
    std::vector<std::string> SongFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(song))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

using ExportTest = ExportFixture;

// Tracks 1 and 3 present, track 2 present but unticked (and stereo, so it would be refused if
// it were looked at), two events in the list.
TEST_F(ExportTest, CopiesSelectedTracksAndAppendsNumberedEvents) {
    const std::vector<std::string> old = SongLines(44100, "00.00.00.00|0000", 2);
    // Line ends of any kind become CR LF; the lines themselves stay as they are.
    WriteFile(adl, Join(old, 3, "\n") + Join({old.begin() + 3, old.end()}, old.size() - 3, "\r"));
    PutTrack(2, MakeWav(Pattern(1000, 2), 44100, 2));
    sel.ExportTicked[1] = false;

    ASSERT_TRUE(job.RunExport());

    EXPECT_EQ(ReadFile(adl),
              Join(old, old.size() - 2, "\r\n") +
                  LineEvent(3, "ZT60001.WAV", 1, "00.00.00.00|0000", "00.00.01.00|0000") + "\r\n" +
                  LineEvent(4, "ZT60002.WAV", 3, "00.00.00.00|0000", "00.00.01.02|0005") +
                  "\r\n\t</EVENT_LIST>\r\n</ADL>\r\n");
    EXPECT_EQ(ReadFile(song / "zt60001.wav"), DeviceWav(kAudio1, 44100));
    EXPECT_EQ(ReadFile(song / "zt60002.wav"), DeviceWav(kAudio3, 44100));
    EXPECT_EQ(SongFiles(), (std::vector<std::string>{"SONG1.ADL", "zt60001.wav", "zt60002.wav"}));

    EXPECT_EQ(ui.questions,
              (std::vector<std::string>{"PC to ZT-6\r\n\r\n" + (pc / "tr(TrNo).wav").string(),
                                        "Overwrite SONG1? (Can't cancel.)"}));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.written,
              (std::vector<std::string>{"E:\\SONG1\\zt60001.wav", "E:\\SONG1\\zt60002.wav",
                                        "E:\\SONG1\\SONG1.ADL"}));
    EXPECT_EQ(ui.labels, (std::vector<std::string>{"Track1", "Track3"}));
    EXPECT_EQ(ui.max, fs::file_size(pc / "tr01.wav") + fs::file_size(pc / "tr03.wav"));
    EXPECT_EQ(ui.pos, kAudio1.size() + kAudio3.size());
    EXPECT_EQ(ui.showCount, 1);
    EXPECT_TRUE(sel.TransferEnabled);
    EXPECT_EQ(job.ExportRate, 44100);
    EXPECT_EQ(job.FrameRateText, "F25");
    EXPECT_EQ(job.NextEntryNo, 5);
}

TEST_F(ExportTest, FillsGapsInDeviceNumbersFirst) {
    WriteFile(song / "zt60001.wav", "one");
    WriteFile(song / "ZT60002.WAV", "two"); // taken whatever its letter case
    WriteFile(song / "zt60004.wav", "four");
    PutTrack(2, MakeWav(kAudio1));
    sel.ExportTicked[2] = false;

    ASSERT_TRUE(job.RunExport());

    EXPECT_EQ(SongFiles(), (std::vector<std::string>{"SONG1.ADL", "ZT60002.WAV", "zt60001.wav",
                                                     "zt60003.wav", "zt60004.wav", "zt60005.wav"}));
    EXPECT_EQ(ReadFile(song / "zt60001.wav"), "one");
    EXPECT_EQ(ReadFile(song / "zt60004.wav"), "four");
    const std::string list = ReadFile(adl);
    EXPECT_NE(list.find("\t0003\t(Cut)\tF\t\"ZT60003.WAV\"\t1\t1\t"), std::string::npos);
    EXPECT_NE(list.find("\t0004\t(Cut)\tF\t\"ZT60005.WAV\"\t1\t2\t"), std::string::npos);
}

TEST_F(ExportTest, DeviceNumbersGrowToFiveDigits) {
    for (int k = 1; k <= 9999; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "zt6%04d.wav", k);
        std::ofstream{song / name};
    }
    EXPECT_EQ(th::TExportJob::NextDeviceFile("E:\\SONG1"), "E:\\SONG1\\zt610000.wav");
}

// Device files of 88,246 and 95,312 bytes take 22 and 24 clusters of 4 KiB, the new list one.
constexpr std::uint64_t kRequired = (22 + 24 + 1) * 4096;

TEST_F(ExportTest, FreeCapacityEqualToRequiredPasses) {
    job.freeBytes = kRequired;
    EXPECT_TRUE(job.RunExport());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ExportTest, RequiredCapacityCountsWholeClustersOfEveryFileWritten) {
    job.freeBytes = 0; // stops at the check, with the job's paths set
    EXPECT_FALSE(job.RunExport());
    EXPECT_EQ(job.RequiredCapacity(), kRequired);
    job.unit = 1; // no rounding: the files' own sizes and the new list's
    const std::uint64_t required = job.RequiredCapacity();
    job.freeBytes = std::nullopt;
    ASSERT_TRUE(job.RunExport());
    EXPECT_EQ(required, 88246 + 95312 + ReadFile(adl).size());
}

// What a killed run left goes before the next one numbers its files; ".wav" files stay
// whether a list names them or not.
TEST_F(ExportTest, RemovesLeftoversOfAKilledRunButNoWaveFile) {
    WriteFile(song / "zt60001", "unfinished copy");
    WriteFile(song / "ZT60003", "unfinished copy");
    WriteFile(song / "SONG1.ADL.tmp", "unfinished list");
    WriteFile(song / "zt60002.wav", "kept by the recorder");
    WriteFile(song / "zt6", "not ours");
    WriteFile(song / "zt6x1", "not ours");

    ASSERT_TRUE(job.RunExport());

    EXPECT_EQ(SongFiles(), (std::vector<std::string>{"SONG1.ADL", "zt6", "zt60001.wav",
                                                     "zt60002.wav", "zt60003.wav", "zt6x1"}));
    EXPECT_EQ(ReadFile(song / "zt60002.wav"), "kept by the recorder");
    EXPECT_NE(ReadFile(adl).find("\"ZT60003.WAV\"\t1\t3\t"), std::string::npos);
}

// A run killed between the renames of its device files and the replacement of the list leaves
// its complete temporary list: the files it names and the song's list does not are that run's,
// and go before the list does. Files are named by the song's list ("list"), by the temporary
// one ("tmp"), by both or by neither.
struct StaleCase {
    const char* name;
    // The temporary list: "complete", "partial", "unreadable" or "none".
    std::string tmp;
    std::function<void(ExportFixture&)> setup;
    std::vector<std::string> left; // files of the song folder before the run that stay
};

class StaleListTest : public ExportFixture, public ::testing::WithParamInterface<StaleCase> {};

TEST_P(StaleListTest, RemovesOnlyTheKilledRunsFiles) {
    const StaleCase& c = GetParam();
    const std::string zero = "00.00.00.00|0000", second = "00.00.01.00|0000";
    std::vector<std::string> list = SongLines(44100, zero, 0);
    list.insert(list.end() - 2, {LineEvent(1, "ZT60001.WAV", 1, zero, second),
                                 LineEvent(2, "ZT60004.WAV", 2, zero, second)});
    WriteFile(adl, Join(list, list.size(), "\r\n"));
    // The killed run's list: the first event of the song's list, its own two, and a name in
    // other letters.
    std::vector<std::string> stale = SongLines(44100, zero, 0);
    stale.insert(stale.end() - 2, {LineEvent(1, "ZT60001.WAV", 1, zero, second),
                                   LineEvent(2, "ZT60002.WAV", 2, zero, second),
                                   LineEvent(3, "zt60006.wav", 3, zero, second),
                                   LineEvent(4, "TAKE.WAV", 4, zero, second)});
    const std::string staleText = Join(stale, stale.size(), "\r\n");
    if (c.tmp == "complete" || c.tmp == "unreadable")
        WriteFile(song / "SONG1.ADL.tmp", staleText);
    else if (c.tmp == "partial")
        WriteFile(song / "SONG1.ADL.tmp", staleText.substr(0, staleText.size() - 9));
    for (const char* name : {"zt60001.wav", "zt60002.wav", "zt60003.wav", "zt60004.wav",
                             "ZT60006.WAV", "TAKE.WAV", "zt60007"})
        WriteFile(song / name, name);
    if (c.setup)
        c.setup(*this);

    {
        // The temporary list does not open for reading (its later write is the second open).
        FaultPlan unreadable(platform::FileOp::Open, c.tmp == "unreadable" ? 1 : 0, EIO,
                             [](platform::FileOp, const std::string& path) {
                                 return path.find(".ADL.tmp") != std::string::npos;
                             });
        ASSERT_TRUE(job.RunExport()) << (ui.messages.empty() ? "" : ui.messages[0]);
        EXPECT_EQ(unreadable.Fired(), c.tmp == "unreadable");
    }

    // Left: the files expected, the list, and the two new takes, which take the lowest free
    // numbers.
    const std::string newList = ReadFile(adl);
    std::vector<std::string> expected = c.left;
    const auto upper = [](std::string text) {
        for (char& ch : text)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        return text;
    };
    std::set<std::string> stays;
    for (const std::string& name : c.left)
        stays.insert(upper(name));
    std::vector<std::string> free;
    for (int k = 1; free.size() < 2; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "zt6%04d.wav", k);
        if (!stays.count(upper(name)))
            free.push_back(name);
    }
    const std::string take1 = free[0], take3 = free[1];
    expected.insert(expected.end(), {"SONG1.ADL", take1, take3});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(SongFiles(), expected);
    EXPECT_NE(newList.find("\"" + upper(take1) + "\"\t1\t1"), std::string::npos) << newList;
    EXPECT_NE(newList.find("\"" + upper(take3) + "\"\t1\t3"), std::string::npos) << newList;
    EXPECT_EQ(ReadFile(song / "zt60001.wav"), "zt60001.wav");
}

const std::vector<std::string> kKeptAlways = {"zt60001.wav", "zt60003.wav", "zt60004.wav",
                                              "TAKE.WAV"};

std::vector<std::string> KeptAnd(std::vector<std::string> more) {
    more.insert(more.end(), kKeptAlways.begin(), kKeptAlways.end());
    return more;
}

const StaleCase kStaleCases[] = {
    // Named by the temporary list only: zt60002.wav and, in other letters, ZT60006.WAV go;
    // named by both (0001), by the song's list only (0004), by neither (0003) or not a device
    // file name (TAKE.WAV): they stay.
    {"CompleteListNamesTwoFilesOfItsRun", "complete", nullptr, KeptAnd({})},
    // Cut off before its closing lines: written before any rename, so no file took a name
    // it gives.
    {"PartialList", "partial", nullptr, KeptAnd({"ZT60006.WAV", "zt60002.wav"})},
    {"UnreadableList", "unreadable", nullptr, KeptAnd({"ZT60006.WAV", "zt60002.wav"})},
    {"NoList", "none", nullptr, KeptAnd({"ZT60006.WAV", "zt60002.wav"})},
    // A read-only file stays, whoever names it.
    {"ReadOnlyFileOfTheRun", "complete",
     [](ExportFixture& f) {
         fs::permissions(f.song / "zt60002.wav", fs::perms::owner_write, fs::perm_options::remove);
     },
     KeptAnd({"zt60002.wav"})},
    // The song's list was replaced after all (a rename that left both): it names every file.
    {"SongListIsTheNewOne", "complete",
     [](ExportFixture& f) {
         // Removed first: the Windows runtime's copy refuses an existing file even when told
         // to overwrite it.
         fs::remove(f.adl);
         fs::copy_file(f.song / "SONG1.ADL.tmp", f.adl);
     },
     KeptAnd({"ZT60006.WAV", "zt60002.wav"})},
};

INSTANTIATE_TEST_SUITE_P(States, StaleListTest, ::testing::ValuesIn(kStaleCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The temporary list's entry is on the card before the first device file takes its name, and
// the device files' names before the list is replaced.
TEST_F(ExportTest, RecordIsOnTheCardBeforeTheFirstRename) {
    std::vector<std::string> ops;
    platform::SetFaultHook([&](platform::FileOp op, const std::string& path) {
        const bool tmp = path.find(".ADL.tmp") != std::string::npos;
        if (op == platform::FileOp::Sync && path == "E:\\SONG1")
            ops.push_back("sync folder");
        else if (op == platform::FileOp::Sync && tmp)
            ops.push_back("sync list");
        else if (op == platform::FileOp::Rename)
            ops.push_back(path.find(".ADL") != std::string::npos ? "rename list" : "rename take");
        return 0;
    });
    const bool ok = job.RunExport();
    platform::SetFaultHook({});
    ASSERT_TRUE(ok);
    EXPECT_EQ(ops,
              (std::vector<std::string>{"sync list", "sync folder", "rename take", "rename take",
                                        "sync folder", "rename list", "sync folder"}));
}

// A file system that reports no blocks knows no free space: say so, not "File too large!".
TEST_F(ExportTest, DriveWithoutSizeIsNamedInsteadOfTooLarge) {
    job.sizeUnknown = true;
    const Snapshot before = Snap(card);
    EXPECT_FALSE(job.RunExport());
    EXPECT_EQ(ui.messages,
              (std::vector<std::string>{"Can't read the free space of the ZT-6 drive."}));
    ASSERT_EQ(ui.failures.size(), 1u);
    EXPECT_EQ(ui.failures[0].file, "E:");
    EXPECT_EQ(ui.failures[0].reason, "The file system reports no size and no free space");
    EXPECT_EQ(Snap(card), before);
}

// The list is replaced under the name it has on the card, so there is never a second one.
TEST_F(ExportTest, ReplacesListKeepingItsLetterCase) {
    // Written anew rather than renamed: a rename that changes only the letter case is a no-op
    // on some Windows file systems.
    const std::string list = ReadFile(adl);
    fs::remove(adl);
    WriteFile(song / "song1.adl", list);
    ASSERT_TRUE(job.RunExport());
    EXPECT_EQ(SongFiles(), (std::vector<std::string>{"song1.adl", "zt60001.wav", "zt60002.wav"}));
    EXPECT_NE(ReadFile(song / "song1.adl").find("ZT60002.WAV"), std::string::npos);
}

// Each frame rate and sampling frequency with the exact new event line.
struct LineCase {
    int rate;
    std::string sequenceTc;
    std::string zero;
    std::string length; // of one second and two frames
};

class EventLineTest : public ExportFixture, public ::testing::WithParamInterface<LineCase> {};

TEST_P(EventLineTest, WritesZeroTimecodesAndLength) {
    const LineCase& c = GetParam();
    WriteSong(c.rate, c.sequenceTc, 0);
    RemoveTrack(3);
    const int fps = c.length[2] == '=' ? 24 : c.length[2] == '.' ? 25 : 30;
    PutTrack(1, MakeWav(Pattern(2 * static_cast<std::size_t>(c.rate + 2 * c.rate / fps), 9),
                        static_cast<std::uint32_t>(c.rate)));

    ASSERT_TRUE(job.RunExport()) << (ui.messages.empty() ? "" : ui.messages[0]);
    const std::vector<std::string> old = SongLines(c.rate, c.sequenceTc, 0);
    EXPECT_EQ(ReadFile(adl), Join(old, old.size() - 2, "\r\n") +
                                 LineEvent(1, "ZT60001.WAV", 1, c.zero, c.length) +
                                 "\r\n\t</EVENT_LIST>\r\n</ADL>\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Rates, EventLineTest,
    ::testing::Values(LineCase{44100, "00.00.00.00|0000", "00.00.00.00|0000", "00.00.01.02|0000"},
                      LineCase{22050, "00.00.00.00L0000", "00.00.00.00L0000", "00.00.01.02L0000"},
                      LineCase{44100, "00=00=00.00|0000", "00=00=00.00|0000", "00=00=01.02|0000"},
                      LineCase{44100, "00|00|00.00|0000", "00|00|00.00|0000", "00|00|01.02|0000"},
                      LineCase{48000, "00.00.00.00/0000", "00.00.00.00/0000", "00.00.01.02/0000"}));

// Runs that stop: the message, and the card exactly as it was.
struct Refusal {
    const char* name;
    std::function<void(ExportFixture&)> setup;
    std::vector<std::string> messages;
    bool reachedRewrite = false; // the progress was shown and the import controls re-enabled
};

class RefusalTest : public ExportFixture, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusalTest, StopsWithMessageAndCardUnchanged) {
    const Refusal& r = GetParam();
    r.setup(*this);
    const Snapshot before = Snap(card);

    EXPECT_FALSE(job.RunExport());

    EXPECT_EQ(ui.messages, r.messages);
    EXPECT_EQ(Snap(card), before);
    EXPECT_EQ(ui.shown, r.reachedRewrite);
    EXPECT_EQ(sel.TransferEnabled, r.reachedRewrite);
}

const std::string kRate = "Sampling Frequency not matched!";
const std::string kBits = "Bit digit not matched!";
const std::string kStereo = "Stereo .wav file not acceptable!";

void ReadOnlyList(ExportFixture& f) {
    fs::permissions(f.adl,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

void EditList(ExportFixture& f, const std::string& from, const std::string& to) {
    std::string text = ReadFile(f.adl);
    text.replace(text.find(from), from.size(), to);
    WriteFile(f.adl, text);
}

const std::vector<Refusal> kRefusals = {
    {"FirstFileRateIsNotTheSongs",
     [](ExportFixture& f) {
         f.WriteSong(22050, "00.00.00.00L0000", 2);
         f.PutTrack(3, MakeWav(kAudio3, 44100, 2)); // never reached
     },
     {kRate}},
    {"SecondFileRateDiffers",
     [](ExportFixture& f) { f.PutTrack(3, MakeWav(kAudio3, 22050)); },
     {kRate}},
    {"FirstFileEightBit",
     [](ExportFixture& f) { f.PutTrack(1, MakeWav(kAudio1, 44100, 1, 8)); },
     {kBits}},
    {"SecondFileBitsDiffer",
     [](ExportFixture& f) { f.PutTrack(3, MakeWav(kAudio3, 44100, 1, 24)); },
     {kBits}},
    {"StereoAfterGoodFirstFile",
     [](ExportFixture& f) { f.PutTrack(3, MakeWav(kAudio3, 44100, 2)); },
     {kStereo}},
    {"StereoFirstFile",
     [](ExportFixture& f) { f.PutTrack(1, MakeWav(kAudio1, 44100, 2)); },
     {kStereo}},
    {"NothingTicked",
     [](ExportFixture& f) { f.sel.ExportTicked.fill(false); },
     {"Select a wave file!"}},
    {"NoTrackFiles",
     [](ExportFixture& f) { f.sel.ExportEnabled.fill(false); },
     {"Select a wave file!"}},
    {"ProtectedSong", ReadOnlyList, {"This song is Protected."}},
    {"ProtectedSongWithStereoFile",
     [](ExportFixture& f) {
         ReadOnlyList(f);
         f.PutTrack(3, MakeWav(kAudio3, 44100, 2));
     },
     {kStereo}},
    {"RequiredLargerThanFree",
     [](ExportFixture& f) { f.job.freeBytes = kRequired - 1; },
     {"File too large!\r\n\r\nZT-6:192511(available capacity inside ZT-6)\r\nWAVE:192512(Total "
      "file size to transfer)"}},
    // Room for the two source files (88,244 + 95,326 bytes) is not room for the clusters they
    // and the new list take.
    {"FreeEqualToSourceLengths",
     [](ExportFixture& f) { f.job.freeBytes = 183570; },
     {"File too large!\r\n\r\nZT-6:183570(available capacity inside ZT-6)\r\nWAVE:192512(Total "
      "file size to transfer)"}},
    {"ListMissing", [](ExportFixture& f) { fs::remove(f.adl); }, {"This drive isn't ZT-6."}},
    {"SongFolderMissing",
     [](ExportFixture& f) { f.sel.Songs = {"SONG2"}; },
     {"This drive isn't ZT-6."}},
    {"FirstQuestionCancelled", [](ExportFixture& f) { f.ui.answers = {false}; }, {}},
    {"OverwriteCancelled",
     [](ExportFixture& f) {
         f.ui.answers = {true, false};
     },
     {}},
    {"TrackFileNotRiff", [](ExportFixture& f) { f.PutTrack(3, "not a wave file"); }, {}},
    // A take whose "data" chunk claims more than the file holds: nothing is invented.
    {"TrackCutShort",
     [](ExportFixture& f) {
         const std::string wav = MakeWav(kAudio3);
         f.PutTrack(3, wav.substr(0, wav.size() - 1000));
     },
     {}},
    {"ListWouldHoldMoreEventsThanTheImportReads",
     [](ExportFixture& f) { f.WriteSong(44100, "00.00.00.00|0000", th::kMaxEvents - 1); },
     {"Error!"},
     true},
    {"ListClosedTwice",
     [](ExportFixture& f) {
         EditList(f, "\t<EVENT_LIST>\r\n", "\t<EVENT_LIST>\r\n\t</EVENT_LIST>\r\n");
     },
     {"Error!"},
     true},
    {"NoSequenceBlock",
     [](ExportFixture& f) { EditList(f, "\t<SEQUENCE>", "\t<SEQ>"); },
     {"Error!"},
     true},
    {"EventListNotClosed",
     [](ExportFixture& f) { EditList(f, "</ADL>", "</ADL2>"); },
     {"Error!"},
     true},
    {"FrameRate2997",
     [](ExportFixture& f) { f.WriteSong(44100, "00:00:00:00|0000", 2); },
     {"Error!"},
     true},
    {"RateWithoutTimecodes",
     [](ExportFixture& f) {
         f.WriteSong(32000, "00.00.00.00|0000", 2);
         f.PutTrack(1, MakeWav(kAudio1, 32000));
         f.PutTrack(3, MakeWav(kAudio3, 32000));
     },
     {"Error!"},
     true},
};

INSTANTIATE_TEST_SUITE_P(Cases, RefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// A refusal names the file and what is wrong with it, under the message.
TEST_F(ExportTest, RefusalsNameTheFileAndWhatIsWrong) {
    const struct {
        std::function<void(ExportFixture&)> setup;
        std::string message, file, reason;
    } cases[] = {
        {[](ExportFixture& f) { f.PutTrack(1, MakeWav(kAudio1, 48000)); }, kRate, "P:\\tr01.wav",
         "The file is at 48000 Hz, the song at 44100 Hz"},
        {[](ExportFixture& f) { f.PutTrack(3, MakeWav(kAudio3, 22050)); }, kRate, "P:\\tr03.wav",
         "The file is at 22050 Hz, the first file at 44100 Hz"},
        {[](ExportFixture& f) { f.PutTrack(1, MakeWav(kAudio1, 44100, 1, 8)); }, kBits,
         "P:\\tr01.wav", "8 bits, not 16"},
        {[](ExportFixture& f) { f.PutTrack(3, MakeWav(kAudio3, 44100, 2)); }, kStereo,
         "P:\\tr03.wav", "2 channels, not 1"},
        {ReadOnlyList, "This song is Protected.", "E:\\SONG1\\SONG1.ADL",
         "The edit list is read-only"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        PutTrack(1, MakeWav(kAudio1));
        PutTrack(3, WavWithList(kAudio3, 44100));
        fs::permissions(adl, fs::perms::owner_write, fs::perm_options::add);
        ui.messages.clear();
        ui.failures.clear();
        c.setup(*this);

        EXPECT_FALSE(job.RunExport());

        EXPECT_EQ(ui.messages, std::vector<std::string>{c.message});
        ASSERT_EQ(ui.failures.size(), 1u);
        EXPECT_EQ(ui.failures[0].file, c.file);
        EXPECT_EQ(ui.failures[0].reason, c.reason);
    }
}

// A failure between the copies and the replacement leaves the old list and no stray files.
TEST_F(ExportTest, FailedReplacementKeepsOldList) {
    const Snapshot before = Snap(card);
    bool sawBothLists = false;
    job.BeforeReplace = [&] {
        sawBothLists = ReadFile(adl) == before.at("SONG1/SONG1.ADL").first &&
                       fs::exists(song / "SONG1.ADL.tmp") && fs::exists(song / "zt60002");
        return false;
    };

    EXPECT_FALSE(job.RunExport());

    EXPECT_TRUE(sawBothLists);
    EXPECT_EQ(ui.messages, (std::vector<std::string>{"Copy failed!"}));
    EXPECT_EQ(Snap(card), before);
}

// "Complete!" means on the card: a sync that fails before the list is replaced leaves the card
// as it was; one after it leaves the new list but is no success either.
TEST_F(ExportTest, FailedSyncIsAFailedCopy) {
    const Snapshot before = Snap(card);
    // The new list, each device file, the folder with the new list's entry, the folder with
    // the files' names, the folder with the list's.
    for (unsigned nth = 1; nth <= 6; ++nth) {
        SCOPED_TRACE(nth);
        ui.messages.clear();
        {
            FaultPlan failing(platform::FileOp::Sync, nth, EIO);
            EXPECT_FALSE(job.RunExport());
            EXPECT_TRUE(failing.Fired());
        }
        EXPECT_EQ(ui.messages, (std::vector<std::string>{"Copy failed!"}));
        ASSERT_EQ(ui.failures.size(), 1u);
        if (nth < 6) {
            EXPECT_EQ(Snap(card), before);
            EXPECT_EQ(ui.failures[0].reason, "Input/output error");
        } else {
            EXPECT_EQ(SongFiles(),
                      (std::vector<std::string>{"SONG1.ADL", "zt60001.wav", "zt60002.wav"}));
            EXPECT_NE(ReadFile(adl).find("ZT60002.WAV"), std::string::npos);
            EXPECT_EQ(ui.failures[0].file, "E:\\SONG1");
            EXPECT_EQ(ui.failures[0].reason, "Input/output error. The new list and tracks 1, 3 "
                                             "are probably on the card");
        }
        ui.failures.clear();
    }
}

// A track that fails to copy is left out; the others are copied and listed.
struct CopyFailure {
    const char* name;
    std::function<void(ExportFixture&)> setup;
};

class CopyFailureTest : public ExportFixture, public ::testing::WithParamInterface<CopyFailure> {};

TEST_P(CopyFailureTest, ListsTheOtherTracksAndReportsFailure) {
    PutTrack(2, MakeWav(Pattern(3 * 65536 + 10, 2)));
    GetParam().setup(*this);
    const std::vector<std::string> old = SongLines(44100, "00.00.00.00|0000", 2);

    EXPECT_FALSE(job.RunExport());

    EXPECT_EQ(ui.messages, (std::vector<std::string>{"Copy failed!"}));
    // What reached the card, so that a second try does not add tracks 1 and 3 again.
    ASSERT_EQ(ui.failures.size(), 1u);
    const std::string& reason = ui.failures[0].reason;
    const std::string arrived = ". Added to the song: tracks 1, 3; not added: track 2";
    EXPECT_TRUE(reason.size() > arrived.size() &&
                reason.compare(reason.size() - arrived.size(), arrived.size(), arrived) == 0)
        << reason;
    EXPECT_EQ(SongFiles(), (std::vector<std::string>{"SONG1.ADL", "zt60001.wav", "zt60002.wav"}));
    EXPECT_EQ(ReadFile(song / "zt60002.wav"), DeviceWav(kAudio3, 44100));
    EXPECT_EQ(ReadFile(adl),
              Join(old, old.size() - 2, "\r\n") +
                  LineEvent(3, "ZT60001.WAV", 1, "00.00.00.00|0000", "00.00.01.00|0000") + "\r\n" +
                  LineEvent(4, "ZT60002.WAV", 3, "00.00.00.00|0000", "00.00.01.02|0005") +
                  "\r\n\t</EVENT_LIST>\r\n</ADL>\r\n");
    EXPECT_TRUE(sel.TransferEnabled);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, CopyFailureTest,
    ::testing::Values(
        CopyFailure{"CardFullInSecondBlock",
                    [](ExportFixture& f) {
                        int blocks = 0;
                        f.job.OnBlockCopied = [blocks](int track, std::uint32_t) mutable {
                            return track != 2 || ++blocks < 2;
                        };
                    }},
        CopyFailure{"SourceWithoutData",
                    [](ExportFixture& f) {
                        const std::string fmt =
                            U16(1) + U16(1) + U32(44100) + U32(88200) + U16(2) + U16(16);
                        const std::string body = "WAVE" + Chunk("fmt ", fmt);
                        f.PutTrack(2, "RIFF" + U32(static_cast<std::uint32_t>(body.size())) + body);
                    }},
        // The source is cut short while it is copied: the copy fails rather than pad it.
        CopyFailure{"SourceShrinksDuringCopy",
                    [](ExportFixture& f) {
                        f.job.OnBlockCopied = [&f](int track, std::uint32_t) {
                            if (track == 2)
                                fs::resize_file(f.pc / "tr02.wav", 46 + 65536);
                            return true;
                        };
                    }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExportTest, ButtonDisablesCancelForTheRun) {
    bool cancelDuringRun = true;
    job.OnBlockCopied = [&](int, std::uint32_t) {
        cancelDuringRun = cancelDuringRun && ui.cancelEnabled;
        return true;
    };
    ui.pos = 7;
    int completes = 0;

    EXPECT_TRUE(th::RunExportFromButton(job, ui, [&] { ++completes; }));
    EXPECT_FALSE(cancelDuringRun);
    EXPECT_EQ(completes, 1);
    EXPECT_TRUE(ui.cancelEnabled);
    EXPECT_FALSE(ui.shown);

    ui.answers = {false};
    EXPECT_FALSE(th::RunExportFromButton(job, ui, [&] { ++completes; }));
    EXPECT_EQ(completes, 1);
    EXPECT_EQ(ui.max, 0u);
    EXPECT_TRUE(ui.cancelEnabled);
}

// Interleaved stereo: a tone in the left channel, another in the right.
std::vector<double> StereoTones(std::uint32_t rate, std::size_t frames) {
    std::vector<double> samples;
    for (std::size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        samples.push_back(0.5 * std::sin(2 * 3.14159265358979 * 440 * t));
        samples.push_back(0.5 * std::sin(2 * 3.14159265358979 * 1000 * t));
    }
    return samples;
}

const std::string kConvertQuestion =
    "tr01.wav: 48000 Hz, 24-bit, 2 channels. Convert it to 44100 Hz, 16-bit mono for the song?";

// A 24-bit stereo 48 kHz mix on a 44.1 kHz song: the take is in the song's format, as long as
// the rounded frames at the song's rate, and its event covers exactly that; a 16-bit mono file
// at the song's rate (here in an extensible record) is copied byte for byte.
TEST_F(ExportTest, ConvertsOtherFormatsAndCopiesTheSongFormat) {
    const std::size_t frames = 48000 + 2 * 1920 + 7; // 1 s 2 frames and a little at 25 fps
    PutTrack(1, EncodeWav(StereoTones(48000, frames), 1, 24, 2, 48000));
    std::vector<double> mono;
    for (std::size_t i = 0; i < kAudio3.size() / 2; ++i)
        mono.push_back(
            static_cast<std::int16_t>(static_cast<unsigned char>(kAudio3[2 * i]) |
                                      (static_cast<unsigned char>(kAudio3[2 * i + 1]) << 8)) /
            32768.0);
    PutTrack(3, EncodeWav(mono, 1, 16, 1, 44100, /*extensible=*/true));
    job.Convert = th::TExportJob::ConvertMode::Always;

    ASSERT_TRUE(job.RunExport());

    const std::uint32_t samples = (frames * 44100 * 2 + 48000) / 96000;
    const std::string take = ReadFile(song / "zt60001.wav");
    EXPECT_TRUE(IsWholeWave(take));
    EXPECT_EQ(take.substr(0, 42), DeviceWav(std::string(2 * samples, '\0'), 44100).substr(0, 42));
    EXPECT_EQ(WaveAudio(take).size(), 2 * samples);
    EXPECT_EQ(ReadFile(song / "zt60002.wav"), DeviceWav(kAudio3, 44100));
    const std::string list = ReadFile(adl);
    EXPECT_NE(list.find(LineEvent(3, "ZT60001.WAV", 1, "00.00.00.00|0000",
                                  th::TTC2W().SamplesToTc(samples, 44100, 25, false))),
              std::string::npos)
        << list;
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.max, fs::file_size(pc / "tr01.wav") + fs::file_size(pc / "tr03.wav"));
}

// The capacity check counts the take as it will be written: the same as for a 16-bit mono file
// of the converted length.
TEST_F(ExportTest, CapacityCountsTheConvertedSize) {
    job.unit = 1;
    job.Convert = th::TExportJob::ConvertMode::Always;
    job.ComputerFolder = "P:";
    job.DeviceDrive = "E:";
    job.AdlPath = "E:\\SONG1\\SONG1.ADL";
    RemoveTrack(3);
    PutTrack(1, EncodeWav(StereoTones(96000, 96001), 3, 32, 2, 96000));
    ASSERT_TRUE(job.CheckTrackFiles());
    const std::uint64_t converted = job.RequiredCapacity();
    PutTrack(1, MakeWav(std::string(2 * 44100, '\1')));
    ASSERT_TRUE(job.CheckTrackFiles());
    EXPECT_EQ(converted, job.RequiredCapacity());

    PutTrack(1, EncodeWav(StereoTones(96000, 96001), 3, 32, 2, 96000));
    job.freeBytes = converted - 1;
    const Snapshot before = Snap(card);
    EXPECT_FALSE(job.RunExport());
    EXPECT_EQ(ui.messages, (std::vector<std::string>{
                               "File too large!\r\n\r\nZT-6:" + std::to_string(converted - 1) +
                               "(available capacity inside ZT-6)\r\nWAVE:" +
                               std::to_string(converted) + "(Total file size to transfer)"}));
    EXPECT_EQ(Snap(card), before);
}

// In the window each file of another format is asked about: Yes converts it, No refuses it
// with today's message, Cancel ends the run without one.
TEST_F(ExportTest, AsksBeforeConvertingEachFile) {
    using Answer = th::TransferUi::Answer;
    job.Convert = th::TExportJob::ConvertMode::Ask;
    PutTrack(1, EncodeWav(StereoTones(48000, 4800), 1, 24, 2, 48000));
    const Snapshot before = Snap(card);
    const struct {
        Answer answer;
        bool done;
        std::vector<std::string> messages;
    } cases[] = {
        {Answer::No, false, {kRate}}, {Answer::Cancel, false, {}}, {Answer::Yes, true, {}}};
    for (const auto& c : cases) {
        ui.questions.clear();
        ui.messages.clear();
        ui.choices = {c.answer};
        EXPECT_EQ(job.RunExport(), c.done);
        EXPECT_EQ(ui.messages, c.messages);
        EXPECT_EQ(ui.questions,
                  (std::vector<std::string>{"PC to ZT-6\r\n\r\n" + (pc / "tr(TrNo).wav").string(),
                                            "Overwrite SONG1? (Can't cancel.)", kConvertQuestion}));
        if (!c.done) {
            EXPECT_EQ(Snap(card), before);
        }
    }
    EXPECT_EQ(SongFiles(), (std::vector<std::string>{"SONG1.ADL", "zt60001.wav", "zt60002.wav"}));
}

// Headers that lie or that the converter can't read are refused before the card changes, with
// the file and the reason, as a file that is no WAV file is.
TEST_F(ExportTest, ConvertRefusesHostileHeadersWithNothingChanged) {
    const auto header = [](std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                           std::uint16_t align, std::uint16_t bits, const std::string& extra,
                           std::uint32_t dataSize) {
        const std::string fmt = U16(tag) + U16(channels) + U32(rate) + U32(rate * align) +
                                U16(align) + U16(bits) + extra;
        const std::string body =
            "WAVE" + Chunk("fmt ", fmt) + "data" + U32(dataSize) + std::string(4000, '\x11');
        return "RIFF" + U32(static_cast<std::uint32_t>(body.size())) + body;
    };
    const std::string unknownGuid = U16(22) + U16(24) + U32(3) + U16(0x55) +
                                    std::string("\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 14);
    const struct {
        const char* name;
        std::string file;
        std::string reason;
    } cases[] = {
        {"zero channels", header(1, 0, 48000, 0, 24, "", 4000), "The file has no channels"},
        {"block align", header(1, 2, 48000, 4, 24, "", 4000),
         "Block align 4 disagrees with 2 channels of 24 bits"},
        {"0 Hz", header(1, 2, 0, 6, 24, "", 4000),
         "The file is at 0 Hz, outside 8000 to 384000 Hz"},
        {"4 GB of data", header(1, 2, 48000, 6, 24, "", 0xFFFFFFF0u), th::kReasonShortFile},
        {"unknown sub-format", header(0xFFFE, 2, 48000, 6, 24, unknownGuid, 4000),
         "The extensible format's sub-format is neither PCM nor IEEE float"},
        {"no RIFF", std::string(100, 'x'), th::kReasonNotWave},
    };
    job.Convert = th::TExportJob::ConvertMode::Always;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PutTrack(1, c.file);
        ui.messages.clear();
        ui.failures.clear();
        const Snapshot before = Snap(card);

        EXPECT_FALSE(job.RunExport());

        EXPECT_TRUE(ui.messages.empty());
        ASSERT_EQ(ui.failures.size(), 1u);
        EXPECT_EQ(ui.failures[0].file, "P:\\tr01.wav");
        EXPECT_EQ(ui.failures[0].reason, c.reason);
        EXPECT_EQ(Snap(card), before);
    }
}

// Any file may stand in for a track, whatever its name; the folder's own file of that track is
// not read.
TEST_F(ExportTest, ExportsAnyFileAsTrackN) {
    WriteFile(pc / "Bass final.wav", MakeWav(kAudio1, 44100));
    PutTrack(2, "not a wave file");
    job.TrackSources[1] = "P:\\Bass final.wav";
    sel.ExportTicked[0] = false;
    sel.ExportTicked[2] = false;

    ASSERT_TRUE(job.RunExport());

    EXPECT_EQ(ReadFile(song / "zt60001.wav"), DeviceWav(kAudio1, 44100));
    EXPECT_NE(
        ReadFile(adl).find(LineEvent(3, "ZT60001.WAV", 2, "00.00.00.00|0000", "00.00.01.00|0000")),
        std::string::npos);
    EXPECT_EQ(ui.labels, std::vector<std::string>{"Track2"});
}

} // namespace
