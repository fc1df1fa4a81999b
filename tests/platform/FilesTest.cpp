#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

namespace fs = std::filesystem;
using platform::AttrArchive;
using platform::AttrDirectory;
using platform::AttrHidden;
using platform::AttrReadOnly;

namespace {

// A name that starts with a dot is hidden on POSIX; on Windows the attribute is set.
void MarkHidden(const fs::path& path) {
#ifdef _WIN32
    ::SetFileAttributesW(path.c_str(), ::GetFileAttributesW(path.c_str()) | FILE_ATTRIBUTE_HIDDEN);
#else
    (void)path;
#endif
}

class DriveFiles : public ::testing::Test {
protected:
    DriveFiles() : drive_("E:", dir_.path()) {}
    void MakeReadOnly(const std::string& relative) {
        fs::permissions(dir_ / relative,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    std::map<std::string, std::uint32_t> Listing(const std::string& pattern) {
        std::map<std::string, std::uint32_t> byName;
        for (const auto& e : platform::ListDirectory(pattern))
            byName[e.name] = e.attributes;
        return byName;
    }

    testsupport::TempDir dir_;
    testsupport::MappedDrive drive_;
};

TEST_F(DriveFiles, ListingGivesEveryEntryWithItsAttributes) {
    fs::create_directories(dir_ / "Song");
    fs::create_directories(dir_ / ".trash");
    testsupport::WriteFile(dir_ / "take.wav", "x");
    testsupport::WriteFile(dir_ / ".hidden", "x");
    MarkHidden(dir_ / ".hidden");
    MarkHidden(dir_ / ".trash");
    testsupport::WriteFile(dir_ / "locked.adl", "x");
    MakeReadOnly("locked.adl");

    const auto entries = platform::ListDirectory("E:\\*.*");
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_EQ(entries[0].name, ".");
    EXPECT_EQ(entries[1].name, "..");

    const std::map<std::string, std::uint32_t> expected = {
        {".", AttrDirectory},
        {"..", AttrDirectory},
        {"Song", AttrDirectory},
        {".trash", AttrDirectory | AttrHidden},
        {"take.wav", AttrArchive},
        {".hidden", AttrArchive | AttrHidden},
        {"locked.adl", AttrArchive | AttrReadOnly},
    };
    EXPECT_EQ(Listing("E:\\*.*"), expected);
    // A nested folder through another letter case, and "/" as separator.
    EXPECT_EQ(Listing("E:/SONG/*.*").size(), 2u);
}

TEST_F(DriveFiles, ListingOfAMissingFolderOrDriveIsEmpty) {
    EXPECT_TRUE(platform::ListDirectory("E:\\Nope\\*.*").empty());
    EXPECT_TRUE(platform::ListDirectory("Y:\\*.*").empty());
    testsupport::WriteFile(dir_ / "file", "x");
    EXPECT_TRUE(platform::ListDirectory("E:\\file\\*.*").empty());
}

TEST_F(DriveFiles, ListingFollowsTheNamePattern) {
    for (const char* name : {"a.WAV", "b.wav", "c.wave", "d.adl"})
        testsupport::WriteFile(dir_ / name, "x");
    std::map<std::string, std::uint32_t> wavs = Listing("E:\\*.wav");
    EXPECT_EQ(wavs.size(), 2u);
    EXPECT_TRUE(wavs.count("a.WAV") && wavs.count("b.wav"));
    EXPECT_EQ(Listing("E:\\?.ADL").size(), 1u);
}

TEST_F(DriveFiles, AttributesOfSinglePaths) {
    fs::create_directories(dir_ / "Song");
    testsupport::WriteFile(dir_ / "Song" / ".meta", "x");
    MarkHidden(dir_ / "Song" / ".meta");
    EXPECT_EQ(platform::GetFileAttributes("E:"), std::optional<std::uint32_t>(AttrDirectory));
    EXPECT_EQ(platform::GetFileAttributes("E:\\song"), std::optional<std::uint32_t>(AttrDirectory));
    EXPECT_EQ(platform::GetFileAttributes("E:\\Song\\.META"),
              std::optional<std::uint32_t>(AttrArchive | AttrHidden));
    EXPECT_EQ(platform::GetFileAttributes("E:\\Song\\none"), std::nullopt);
}

// The tests may run as root, which may write anything: the read-only test must look at the
// owner's write bit.
TEST_F(DriveFiles, ReadOnlyIsTheOwnersWriteBit) {
    testsupport::WriteFile(dir_ / "Song.ADL", "x");
    EXPECT_FALSE(platform::IsReadOnly("E:\\song.adl"));
    MakeReadOnly("Song.ADL");
    EXPECT_TRUE(platform::IsReadOnly("E:\\song.adl"));
    EXPECT_EQ(*platform::GetFileAttributes("E:\\Song.ADL") & AttrReadOnly, AttrReadOnly);

    EXPECT_TRUE(platform::SetFileAttributesNormal("E:\\SONG.ADL"));
    EXPECT_FALSE(platform::IsReadOnly("E:\\Song.ADL"));
    EXPECT_NE(fs::status(dir_ / "Song.ADL").permissions() & fs::perms::owner_write,
              fs::perms::none);
    EXPECT_FALSE(platform::IsReadOnly("E:\\missing"));
    EXPECT_FALSE(platform::SetFileAttributesNormal("E:\\missing"));
}

TEST_F(DriveFiles, DeleteTakesFilesButNotReadOnlyOnesOrFolders) {
    testsupport::WriteFile(dir_ / "tr01.wav", "x");
    testsupport::WriteFile(dir_ / "tr02.wav", "x");
    fs::create_directories(dir_ / "Song");
    MakeReadOnly("tr02.wav");

    EXPECT_TRUE(platform::DeleteFile("E:\\TR01.WAV"));
    EXPECT_FALSE(fs::exists(dir_ / "tr01.wav"));
    EXPECT_FALSE(platform::DeleteFile("E:\\tr01.wav"));
    EXPECT_FALSE(platform::DeleteFile("E:\\tr02.wav"));
    EXPECT_TRUE(fs::exists(dir_ / "tr02.wav"));
    ASSERT_TRUE(platform::SetFileAttributesNormal("E:\\tr02.wav"));
    EXPECT_TRUE(platform::DeleteFile("E:\\tr02.wav"));
    EXPECT_FALSE(platform::DeleteFile("E:\\Song"));
    EXPECT_TRUE(fs::is_directory(dir_ / "Song"));
}

TEST_F(DriveFiles, RenameReplacesAnExistingTarget) {
    const struct {
        const char* label;
        const char* existing; // name of the old target on disk, "" for none
        const char* to;       // the name asked for
        bool readOnlyTarget;
        bool renamed;
    } cases[] = {
        {"NoTarget", "", "tr01.wav", false, true},
        {"SameCase", "tr01.wav", "tr01.wav", false, true},
        {"OtherCase", "tr01.wav", "TR01.WAV", false, true},
        {"ReadOnlyTarget", "tr01.wav", "tr01.wav", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        testsupport::TempDir dir;
        testsupport::MappedDrive drive("E:", dir.path());
        testsupport::WriteFile(dir / "tr01", "new");
        if (*c.existing) {
            testsupport::WriteFile(dir / c.existing, "old");
            if (c.readOnlyTarget)
                fs::permissions(dir / c.existing,
                                fs::perms::owner_write | fs::perms::group_write |
                                    fs::perms::others_write,
                                fs::perm_options::remove);
        }
        EXPECT_EQ(platform::RenameFile("E:\\TR01", std::string("E:\\") + c.to), c.renamed);

        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(dir.path()))
            files[e.path().filename().string()] = testsupport::ReadFile(e.path());
        const std::map<std::string, std::string> expected =
            c.renamed ? std::map<std::string, std::string>{{c.to, "new"}}
                      : std::map<std::string, std::string>{{"tr01", "new"}, {c.existing, "old"}};
        EXPECT_EQ(files, expected);
    }
}

TEST_F(DriveFiles, RenameChangesOnlyTheLetterCase) {
    testsupport::WriteFile(dir_ / "song.adl", "list");
    EXPECT_TRUE(platform::RenameFile("E:\\song.adl", "E:\\SONG.ADL"));
    EXPECT_EQ(testsupport::ReadFile(dir_ / "SONG.ADL"), "list");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.path()))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"SONG.ADL"});
    EXPECT_FALSE(platform::RenameFile("E:\\missing", "E:\\other"));
}

TEST_F(DriveFiles, OpensAndReadsOnlyFiles) {
    const std::string bytes = testsupport::Pattern(200000, 7) + std::string(3, '\0');
    testsupport::WriteFile(dir_ / "zt60001.wav", bytes);
    EXPECT_EQ(platform::ReadWholeFile("E:\\ZT60001.WAV"), bytes);
    EXPECT_EQ(platform::ReadWholeFile("E:\\zt60002.wav"), std::nullopt);

    fs::create_directories(dir_ / "Song");
    EXPECT_EQ(platform::OpenFile("E:\\Song", "rb"), nullptr);
    EXPECT_EQ(platform::OpenFile("Y:\\x.wav", "wb"), nullptr);
    EXPECT_EQ(platform::OpenFile("E:\\NoFolder\\x.wav", "wb"), nullptr);
}

// Reads at offsets in two files, in the order a renderer asks for them: pieces inside the
// file, reaching past its end and wholly past it; each must bring exactly the file's bytes and
// tell how many came.
TEST_F(DriveFiles, ReadsAtOffsetsBringEachPieceAndStopAtTheEnd) {
    const std::string a = testsupport::Pattern(300000, 3);
    const std::string b = testsupport::Pattern(5000, 4);
    testsupport::WriteFile(dir_ / "a.wav", a);
    testsupport::WriteFile(dir_ / "b.wav", b);
    std::FILE* fa = platform::OpenFile("E:\\a.wav", "rb");
    std::FILE* fb = platform::OpenFile("E:\\b.wav", "rb");
    ASSERT_TRUE(fa && fb);
    std::mt19937 rng(5);
    for (const std::size_t longest :
         {std::size_t{2}, std::size_t{100}, std::size_t{9000}, std::size_t{70000}}) {
        for (int i = 0; i < 40; ++i) {
            const bool inA = rng() % 3 != 0;
            const std::string& file = inA ? a : b;
            std::string into(1 + rng() % longest, '?');
            const std::size_t at = rng() % (file.size() + 200); // some start past the end
            const std::size_t done =
                platform::ReadFileAt(inA ? fa : fb, at, into.data(), into.size());
            const std::string want = file.substr(std::min(at, file.size()), into.size());
            ASSERT_EQ(done, want.size()) << longest << " " << i;
            EXPECT_EQ(into.substr(0, want.size()), want) << longest << " " << i;
            EXPECT_EQ(into.substr(want.size()), std::string(into.size() - want.size(), '?'));
        }
    }
    std::fclose(fa);
    std::fclose(fb);
}

TEST_F(DriveFiles, FreeBytesAreThoseOfTheMappedFolder) {
    const std::uint64_t expected = fs::space(dir_.path()).available;
    fs::create_directories(dir_ / "Song");
    for (const char* path : {"E:", "E:\\", "E:\\song"}) {
        auto free = platform::FreeBytesAvailable(path);
        ASSERT_TRUE(free.has_value()) << path;
        // Other processes write to the same disk meanwhile: allow a little drift.
        const std::uint64_t drift = *free > expected ? *free - expected : expected - *free;
        EXPECT_LT(drift, std::uint64_t(64) << 20) << path;
    }
    EXPECT_EQ(platform::FreeBytesAvailable("Y:"), std::nullopt);
    EXPECT_EQ(platform::FreeBytesAvailable("E:\\Missing"), std::nullopt);
}

// Names outside ASCII pass every call whole, as UTF-8 both ways: a Latin-1 name and one
// outside Latin-1.
TEST_F(DriveFiles, NamesOutsideAsciiWorkInEveryCall) {
    for (const std::string name : {"Kärte", "ソング"}) {
        SCOPED_TRACE(name);
        const std::string folder = "E:\\" + name;
        const std::string file = folder + "\\" + name + ".wav";
        ASSERT_TRUE(platform::CreateDirectory(folder));
        EXPECT_TRUE(fs::is_directory(dir_.path() / platform::PathFromUtf8(name)));
        EXPECT_TRUE(platform::DirectoryExists(folder));
        EXPECT_EQ(Listing("E:\\*.*").count(name), 1u);

        std::FILE* f = platform::OpenFile(file, "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("take", f);
        std::fclose(f);
        EXPECT_TRUE(platform::FileExists(file));
        EXPECT_EQ(Listing(folder + "\\*.wav").count(name + ".wav"), 1u);
        ASSERT_TRUE(platform::RenameFile(file, folder + "\\" + name + ".adl"));
        EXPECT_EQ(platform::LoadLines(folder + "\\" + name + ".adl"),
                  std::vector<std::string>{"take"});
        EXPECT_TRUE(platform::DeleteFile(folder + "\\" + name + ".adl"));
        EXPECT_EQ(platform::ToDrivePath(
                      platform::Utf8FromPath(dir_.path() / platform::PathFromUtf8(name))),
                  folder);
    }
}

// Edit lists that the recorder wrote name files in the system's ANSI code page, not in UTF-8.
TEST_F(DriveFiles, NamesInTheAnsiCodePageAreFound) {
#ifdef _WIN32
    if (::GetACP() != 1252)
        GTEST_SKIP() << "the case below is written in code page 1252";
    const fs::path folder = dir_.path() / platform::PathFromUtf8("Kärte");
    fs::create_directories(folder);
    testsupport::WriteFile(folder / "take.wav", "x");
    EXPECT_TRUE(platform::DirectoryExists("E:\\K\xE4rte"));
    EXPECT_EQ(platform::ReadWholeFile("E:\\K\xE4rte\\TAKE.WAV"), "x");
#else
    GTEST_SKIP() << "names on POSIX are bytes, taken as they are";
#endif
}

} // namespace
