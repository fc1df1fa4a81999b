#pragma once
// trackhaul-cli: the engines of the window, for scripting.
// Exit status: 0 success, 1 the run returned false, 2 usage error, 3 an error left the run.
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

using Args = std::vector<std::string>;

// Thrown for a usage error; main prints the message and the usage text and exits 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

int CmdTc(const Args& args);
int CmdDrives(const Args& args);
int CmdSongs(const Args& args);
int CmdImport(const Args& args);
int CmdExport(const Args& args);
int CmdDemoCard(const Args& args);

// "--name value" options and flags. Unknown options and missing values are usage errors.
struct Options {
    std::vector<std::string> positional;
    // Returns the value of --name, or `fallback` when absent.
    std::string Get(const std::string& name, const std::string& fallback = "") const;
    bool Has(const std::string& name) const;
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<std::string> flags;
};
// valueOptions: names taking a value ("--drive"); flagOptions: names without ("--yes").
Options ParseOptions(const Args& args, const std::vector<std::string>& valueOptions,
                     const std::vector<std::string>& flagOptions);

// A DRIVE argument: a drive text ("E:") is used as it is; a folder is mapped as a removable
// drive for the run and its letter returned.
std::string DriveArgument(const std::string& arg);

// "1,3,8" -> eight flags; empty text -> all eight. Throws UsageError on anything else.
std::vector<bool> ParseTrackList(const std::string& text);

} // namespace cli
