#pragma once
// Runs the built trackhaul-cli and collects what it printed.
#include "support/TestSupport.h"

#include <cstdio>
#include <string>
#include <sys/wait.h>

struct CliResult {
    std::string out;
    std::string err;
    int status = -1;
};

// `args` in shell syntax; stdin is not a terminal, so unanswered questions answer Cancel.
inline CliResult RunCliFull(const std::string& args) {
    testsupport::TempDir tmp;
    const std::string errFile = (tmp / "stderr").string();
    const std::string command =
        std::string("'") + TRACKHAUL_CLI + "' " + args + " 2>'" + errFile + "' </dev/null";
    CliResult r;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return r;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        r.out.append(buffer, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = testsupport::ReadFile(errFile);
    return r;
}
