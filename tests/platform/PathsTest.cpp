#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace fs = std::filesystem;

namespace {

// Whether two native paths are the same text, letter case aside where the system ignores it.
bool SameNativePath(const std::string& a, const std::string& b) {
#ifdef _WIN32
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
#else
    return a == b;
#endif
}

// A card copy: E:\Song\zt60001.wav, E:\Song\Sub\Deep.ADL, E:\Other\File.Txt.
class CardPaths : public ::testing::Test {
protected:
    CardPaths() : drive_("E:", dir_.path()) {
        fs::create_directories(dir_ / "Song" / "Sub");
        fs::create_directories(dir_ / "Other");
        testsupport::WriteFile(dir_ / "Song" / "zt60001.wav", "wave");
        testsupport::WriteFile(dir_ / "Song" / "Sub" / "Deep.ADL", "adl");
        testsupport::WriteFile(dir_ / "Other" / "File.Txt", "text");
    }
    std::string Native(const std::string& relative) const {
        return (dir_.path() / fs::path(relative).make_preferred()).string();
    }
    std::vector<std::string> Names(const std::string& folder) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_ / folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    testsupport::TempDir dir_;
    testsupport::MappedDrive drive_;
};

TEST_F(CardPaths, ResolvesEveryComponentIgnoringCase) {
    const struct {
        const char* asked;
        const char* native; // relative to the mapped folder; "" for the folder itself
    } cases[] = {
        {"E:\\Song\\zt60001.wav", "Song/zt60001.wav"},
        {"E:\\Song\\ZT60001.WAV", "Song/zt60001.wav"},
        {"E:\\SONG\\sub\\deep.adl", "Song/Sub/Deep.ADL"},
        {"E:/song/SUB/Deep.adl", "Song/Sub/Deep.ADL"},
        {"e:\\other\\FILE.TXT", "Other/File.Txt"},
        {"E:\\Song\\..\\OTHER\\.\\file.txt", "Other/File.Txt"},
        {"E:\\Song\\New.WAV", "Song/New.WAV"},                    // kept as written
        {"E:\\song\\Missing\\Take.WAV", "Song/Missing/Take.WAV"}, // below a missing folder
        {"E:\\SONG\\", "Song"},
        {"E:\\..\\..", ""}, // never above the drive's root
    };
    for (const auto& c : cases) {
        std::string expected = c.native[0] ? Native(c.native) : dir_.path().string();
        EXPECT_PRED2(SameNativePath, platform::NativePath(c.asked), expected) << c.asked;
    }
    EXPECT_EQ(platform::NativePath("E:"), dir_.path().string());
    EXPECT_EQ(platform::NativePath("E:\\"), dir_.path().string());
}

// Messages show native paths; a path on no known drive is shown as it is.
TEST_F(CardPaths, DisplayPathIsNative) {
    EXPECT_PRED2(SameNativePath, platform::DisplayPath("E:\\SONG\\tr(TrNo).wav"),
                 Native("Song/tr(TrNo).wav"));
    EXPECT_EQ(platform::DisplayPath("E:"), dir_.path().string());
    EXPECT_EQ(platform::DisplayPath("Q:\\Song"), "Q:\\Song");
}

TEST_F(CardPaths, ExactNameWinsOverOtherCase) {
#ifdef _WIN32
    GTEST_SKIP() << "a Windows folder can't hold two names that differ in case only";
#endif
    testsupport::WriteFile(dir_ / "Song" / "ZT60001.WAV", "upper");
    EXPECT_EQ(platform::NativePath("E:\\Song\\ZT60001.WAV"), Native("Song/ZT60001.WAV"));
    EXPECT_EQ(platform::NativePath("E:\\Song\\zt60001.wav"), Native("Song/zt60001.wav"));
    const std::string either = platform::NativePath("E:\\Song\\Zt60001.Wav");
    EXPECT_TRUE(either == Native("Song/ZT60001.WAV") || either == Native("Song/zt60001.wav"))
        << either;
}

TEST_F(CardPaths, CreatedFilesAndFoldersKeepTheAskedName) {
    std::FILE* f = platform::OpenFile("E:\\song\\Take.WAV", "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    ASSERT_TRUE(platform::CreateDirectory("E:\\SONG\\NewDir"));
    EXPECT_EQ(Names("Song"),
              (std::vector<std::string>{"NewDir", "Sub", "Take.WAV", "zt60001.wav"}));

    // Writing to an existing name in another case writes that file; no twin appears.
    f = platform::OpenFile("E:\\Song\\TAKE.wav", "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("new", f);
    std::fclose(f);
    EXPECT_EQ(testsupport::ReadFile(dir_ / "Song" / "Take.WAV"), "new");
    // A folder that exists in another case is not created a second time.
    EXPECT_FALSE(platform::CreateDirectory("E:\\song"));
    EXPECT_EQ(Names("").size(), 2u);
}

TEST_F(CardPaths, ExistenceTests) {
    const struct {
        const char* path;
        bool file;
        bool folder;
    } cases[] = {
        {"E:\\Song\\ZT60001.wav", true, false},
        {"E:\\song", false, true},
        {"E:", false, true},
        {"E:\\Song\\Nope.wav", false, false},
        {"E:\\Nope\\zt60001.wav", false, false},
        {"Y:\\Song", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::FileExists(c.path), c.file) << c.path;
        EXPECT_EQ(platform::DirectoryExists(c.path), c.folder) << c.path;
    }
}

TEST(Volumes, SystemRootIsFixedDriveC) {
#ifdef _WIN32
    EXPECT_EQ(platform::DriveNativeRoot("C:"), "C:\\");
    EXPECT_EQ(platform::NativePath("C:"), "C:\\");
    EXPECT_EQ(platform::NativePath("c:\\Windows\\"), "C:\\Windows");
#else
    EXPECT_EQ(platform::DriveNativeRoot("C:"), "/");
    EXPECT_EQ(platform::NativePath("C:\\usr\\BIN"), platform::NativePath("C:\\usr") + "/bin");
#endif
    EXPECT_EQ(platform::GetDriveType("C:\\"), platform::DriveType::Fixed);
    EXPECT_FALSE(platform::IsDeviceDrive("C:\\"));
}

TEST(Volumes, MappedFoldersAreRemovableDrives) {
    testsupport::TempDir dir;
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    {
        testsupport::MappedDrive b("B:", dir / "b");
        testsupport::MappedDrive a("A:", dir / "a");
        testsupport::MappedDrive x("X:", dir.path());
        const auto roots = platform::LogicalDriveStrings();
        EXPECT_TRUE(std::is_sorted(roots.begin(), roots.end()));
        for (const char* root : {"A:\\", "B:\\", "C:\\", "X:\\"})
            EXPECT_EQ(std::count(roots.begin(), roots.end(), root), 1) << root;
        EXPECT_EQ(platform::GetDriveType("A:\\"), platform::DriveType::Removable);
        // The device drive test: removable, and not the first floppy letter.
        EXPECT_FALSE(platform::IsDeviceDrive("A:\\"));
        EXPECT_TRUE(platform::IsDeviceDrive("B:\\"));
        EXPECT_TRUE(platform::IsDeviceDrive("X:\\"));
        EXPECT_PRED2(SameNativePath, platform::DriveNativeRoot("x:\\"), dir.path().string());

        // A second mapping of a letter replaces the first; a trailing slash is dropped.
        platform::MapDrive("X:", (dir / "b").string() + "/");
        EXPECT_PRED2(SameNativePath, platform::DriveNativeRoot("X:"), (dir / "b").string());
    }
    EXPECT_EQ(platform::DriveNativeRoot("X:"), "");
    EXPECT_EQ(platform::GetDriveType("X:\\"), platform::DriveType::NoRootDir);
    EXPECT_FALSE(platform::IsDeviceDrive("X:\\"));
    EXPECT_EQ(platform::NativePath("X:\\Song"), "");
}

TEST(Volumes, ToDrivePathTakesTheLongestMatchingRoot) {
    testsupport::TempDir dir;
    fs::create_directories(dir / "card" / "Song");
    testsupport::MappedDrive e("E:", dir.path());
    testsupport::MappedDrive f("F:", dir / "card");
    const std::string base = dir.path().string();
    const struct {
        std::string native;
        const char* drive;
    } cases[] = {
        {base, "E:"},
        {base + "/", "E:"},
        {base + "/x/y.wav", "E:\\x\\y.wav"},
        {base + "/card", "F:"},
        {base + "/card/Song", "F:\\Song"},
        {base + "/cardigan", "E:\\cardigan"},
        {base + "/card/../x", "E:\\x"},
#ifdef _WIN32
        {"C:\\", "C:"},
        {"c:\\Windows\\System32", "C:\\Windows\\System32"},
#else
        {"/", "C:"},
        {"/usr/lib", "C:\\usr\\lib"},
#endif
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::ToDrivePath(c.native), c.drive) << c.native;
    const std::string song = (dir / "card" / "Song").string();
    EXPECT_PRED2(SameNativePath, platform::NativePath(platform::ToDrivePath(song)), song);
}

TEST(Volumes, ProgramFolderIsTheExecutablesFolder) {
    const std::string folder = platform::ProgramFolder();
    ASSERT_GE(folder.size(), 2u);
    EXPECT_EQ(folder[1], ':') << folder;
    EXPECT_NE(folder.back(), '\\');
    EXPECT_EQ(folder.find('/'), std::string::npos);
    EXPECT_TRUE(platform::DirectoryExists(folder));
#ifdef _WIN32
    EXPECT_TRUE(platform::FileExists(folder + "\\test_platform.exe")) << folder;
#else
    EXPECT_EQ(folder.substr(0, 2), "C:");
    EXPECT_EQ(platform::NativePath(folder), fs::read_symlink("/proc/self/exe").parent_path());
#endif
}

} // namespace
