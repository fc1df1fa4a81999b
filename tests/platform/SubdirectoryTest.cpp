#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace fs = std::filesystem;

namespace {

struct SubdirectoryCase {
    const char* name;
    std::function<void(const fs::path&)> make; // fills the folder "E:\\F"
    bool expected;
};

class HasSubdirectoryTest : public ::testing::TestWithParam<SubdirectoryCase> {};

TEST_P(HasSubdirectoryTest, FindsTheFirstSubfolder) {
    testsupport::TempDir dir;
    testsupport::MappedDrive drive("E:", dir.path());
    fs::create_directories(dir / "F");
    try {
        GetParam().make(dir / "F");
    } catch (const fs::filesystem_error& e) {
#ifdef _WIN32
        // Symbolic links need a right that Windows gives few users, and Wine has none.
        GTEST_SKIP() << e.what();
#else
        throw;
#endif
    }
    // The folder's name in another letter case is found as every other path is.
    EXPECT_EQ(platform::HasSubdirectory("E:\\f"), GetParam().expected);
}

void Files(const fs::path& folder, int count) {
    for (int i = 0; i < count; ++i)
        testsupport::WriteFile(folder / ("take" + std::to_string(i) + ".wav"), "x");
}

INSTANTIATE_TEST_SUITE_P(
    Folders, HasSubdirectoryTest,
    ::testing::Values(SubdirectoryCase{"Empty", [](const fs::path&) {}, false},
                      SubdirectoryCase{"OnlyFiles", [](const fs::path& f) { Files(f, 50); }, false},
                      SubdirectoryCase{"OneFolderAmongFiles",
                                       [](const fs::path& f) {
                                           Files(f, 50);
                                           fs::create_directories(f / "Sub");
                                       },
                                       true},
                      SubdirectoryCase{
                          "OnlyAHiddenFolder",
                          [](const fs::path& f) { fs::create_directories(f / ".hidden"); }, true},
                      SubdirectoryCase{"LinkToAFolder",
                                       [](const fs::path& f) {
                                           fs::create_directories(f.parent_path() / "elsewhere");
                                           fs::create_directory_symlink(
                                               f.parent_path() / "elsewhere", f / "link");
                                       },
                                       true},
                      SubdirectoryCase{"LinkToAFileOrNowhere",
                                       [](const fs::path& f) {
                                           Files(f, 1);
                                           fs::create_symlink(f / "take0.wav", f / "link");
                                           fs::create_symlink(f / "missing", f / "dangling");
                                       },
                                       false}),
    [](const ::testing::TestParamInfo<SubdirectoryCase>& info) { return info.param.name; });

TEST(HasSubdirectory, MissingFolderOrDriveHasNone) {
    testsupport::TempDir dir;
    testsupport::MappedDrive drive("E:", dir.path());
    EXPECT_FALSE(platform::HasSubdirectory("E:\\nowhere"));
    EXPECT_FALSE(platform::HasSubdirectory("Q:\\"));
}

TEST(Volumes, RescanKeepsTheSystemRootAndMappedDrives) {
    testsupport::TempDir dir;
    testsupport::MappedDrive drive("H:", dir.path());
    platform::RescanVolumes();
    const std::vector<std::string> roots = platform::LogicalDriveStrings();
    EXPECT_NE(std::find(roots.begin(), roots.end(), "C:\\"), roots.end());
    EXPECT_NE(std::find(roots.begin(), roots.end(), "H:\\"), roots.end());
    EXPECT_TRUE(platform::IsDeviceDrive("H:\\"));
}

} // namespace
