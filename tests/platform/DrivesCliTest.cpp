#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace {

struct CliRun {
    int status;
    std::string out;
};

CliRun RunCli(const std::string& arguments) {
    const std::string command = std::string(TRACKHAUL_CLI) + " " + arguments + " 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    CliRun run{-1, {}};
    if (!pipe)
        return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Which drives the machine has is not known here; every line must have the agreed form.
TEST(DrivesCommand, ListsDeviceDrivesAsDriveTabRoot) {
    const CliRun run = RunCli("drives");
    ASSERT_EQ(run.status, 0);
    std::size_t start = 0;
    while (start < run.out.size()) {
        const std::size_t end = run.out.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "last line without line end";
        const std::string line = run.out.substr(start, end - start);
        ASSERT_GE(line.size(), 4u) << line;
        EXPECT_TRUE(line[0] >= 'B' && line[0] <= 'Z' && line[0] != 'C') << line;
        EXPECT_EQ(line.substr(1, 2), ":\t") << line;
        EXPECT_EQ(line[3], '/') << line;
        start = end + 1;
    }
}

TEST(DrivesCommand, TakesNoArguments) {
    for (const char* args : {"drives E:", "drives --drive E:"})
        EXPECT_EQ(RunCli(args).status, 2) << args;
}

} // namespace
