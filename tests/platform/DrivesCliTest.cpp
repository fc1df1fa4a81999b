#include "cli/CliRun.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Which drives the machine has is not known here; every line must have the agreed form.
TEST(DrivesCommand, ListsDeviceDrivesAsDriveTabRoot) {
    const CliResult run = RunCliArgs({"drives"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::size_t start = 0;
    while (start < run.out.size()) {
        const std::size_t end = run.out.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "last line without line end";
        const std::string line = run.out.substr(start, end - start);
        ASSERT_GE(line.size(), 4u) << line;
        EXPECT_TRUE(line[0] >= 'B' && line[0] <= 'Z' && line[0] != 'C') << line;
        EXPECT_EQ(line.substr(1, 2), ":\t") << line;
        EXPECT_TRUE(platform::PathFromUtf8(line.substr(3)).is_absolute()) << line;
        start = end + 1;
    }
}

TEST(DrivesCommand, TakesNoArguments) {
    for (const char* args : {"drives E:", "drives --drive E:"})
        EXPECT_EQ(RunCliFull(args).status, 2) << args;
}

} // namespace
