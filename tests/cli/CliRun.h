#pragma once
// Runs the built trackhaul-cli and collects what it printed. The program is started directly
// with an argument list, never through a shell; stdin is the null device, so unanswered
// questions answer Cancel.
#include "support/Process.h"
#include "support/TestSupport.h"

#include <string>
#include <vector>

using CliResult = testsupport::ProcessResult;

// Each argument is passed as it is (UTF-8).
inline CliResult RunCliArgs(const std::vector<std::string>& args) {
    return testsupport::RunProgram(TRACKHAUL_CLI, args);
}

// `args` in shell syntax (words, '...' and "..." quoting; see SplitShellWords).
inline CliResult RunCliFull(const std::string& args) {
    return RunCliArgs(testsupport::SplitShellWords(args));
}
