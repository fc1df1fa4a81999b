#include "platform/Platform.h"
#include "support/FaultInjection.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace fs = std::filesystem;
using platform::FileOp;

namespace {

// One attempt at each operation on E:\\out.bin: open, write, flush, sync, close, rename.
// Returns the first that failed, with errno, or "" when all ran.
std::string WriteSyncRename(int& error) {
    errno = 0;
    std::FILE* f = platform::OpenFile("E:\\out.bin", "wb");
    if (!f)
        return (error = errno), "open";
    const std::string data = "payload";
    std::string failed;
    if (platform::WriteFile(f, data.data(), data.size()) != data.size())
        failed = "write";
    else if (!platform::SyncFile(f))
        failed = "sync";
    error = errno;
    if (!platform::CloseFile(f) && failed.empty())
        failed = "close", error = errno;
    if (failed.empty() && !platform::SyncDirectory("E:"))
        failed = "syncdir", error = errno;
    if (failed.empty() && !platform::RenameFile("E:\\out.bin", "E:\\final.bin"))
        failed = "rename", error = errno;
    return failed;
}

struct SeamCase {
    FileOp op;
    unsigned nth;
    const char* failedStep;
};

class FaultSeam : public ::testing::TestWithParam<SeamCase> {
protected:
    FaultSeam() : drive_("E:", dir_.path()) {}
    testsupport::TempDir dir_;
    testsupport::MappedDrive drive_;
};

TEST_F(FaultSeam, CountsEveryOperationWithoutChangingIt) {
    testsupport::FaultPlan counting;
    int error = 0;
    EXPECT_EQ(WriteSyncRename(error), "");
    EXPECT_EQ(testsupport::ReadFile(dir_ / "final.bin"), "payload");
    EXPECT_EQ(counting.Count(FileOp::Open), 1u);
    EXPECT_EQ(counting.Count(FileOp::Write), 2u); // the write and the flush before the sync
    EXPECT_EQ(counting.Count(FileOp::Sync), 2u);  // the file and the folder
    EXPECT_EQ(counting.Count(FileOp::Close), 1u);
    EXPECT_EQ(counting.Count(FileOp::Rename), 1u);
    EXPECT_FALSE(counting.Fired());
}

TEST_P(FaultSeam, FailsTheChosenOperationWithItsReason) {
    const SeamCase c = GetParam();
    testsupport::FaultPlan plan(c.op, c.nth, ENOSPC);
    int error = 0;
    EXPECT_EQ(WriteSyncRename(error), c.failedStep);
    EXPECT_EQ(error, ENOSPC);
    EXPECT_TRUE(plan.Fired());
    // Streams are named by the path they were opened with, folders and renames by theirs.
    EXPECT_EQ(plan.FailedPath(), c.op == FileOp::Rename               ? "E:\\final.bin"
                                 : c.nth == 2 && c.op == FileOp::Sync ? "E:"
                                                                      : "E:\\out.bin");
    EXPECT_FALSE(fs::exists(dir_ / "final.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    EachOperation, FaultSeam,
    ::testing::Values(SeamCase{FileOp::Open, 1, "open"}, SeamCase{FileOp::Write, 1, "write"},
                      SeamCase{FileOp::Write, 2, "sync"}, SeamCase{FileOp::Sync, 1, "sync"},
                      SeamCase{FileOp::Close, 1, "close"}, SeamCase{FileOp::Sync, 2, "syncdir"},
                      SeamCase{FileOp::Rename, 1, "rename"}));

TEST(FaultSeamHook, RemovedHookLetsEverythingRun) {
    { testsupport::FaultPlan plan(FileOp::Write, 1, EIO); }
    testsupport::TempDir dir;
    std::FILE* f = platform::OpenFile((dir / "x").string(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(platform::WriteFile(f, "ab", 2), 2u);
    EXPECT_TRUE(platform::CloseFile(f));
}

} // namespace
