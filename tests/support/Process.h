#pragma once
// Starts a program directly, with its arguments as a list (no shell between), and collects
// what it printed.
#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    std::string out;
    std::string err;
    int status = -1; // exit status; -1 when the program could not run or did not exit
};

// Runs `program` with `args` (UTF-8, each passed on as it is). Standard input is the null
// device, so the program sees no terminal there.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args);

// Splits a command text into words as a POSIX shell would for plain words: blanks separate,
// '...' keeps its text as it is, "..." keeps it except for \" and \\, and a backslash
// outside quotes takes the next character literally. No expansions of any kind.
std::vector<std::string> SplitShellWords(const std::string& text);

} // namespace testsupport
