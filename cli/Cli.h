#pragma once
// trackhaul-cli: the engines of the window, for scripting.
// Exit status: 0 success, 1 the run returned false, 2 usage error, 3 an error left the run.
#include "cli/ConsoleUi.h"
#include "transfer/Selection.h"

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
int CmdShow(const Args& args);
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

// A native folder argument in the drive form the engines use ("C:\\home\\me\\takes"), no
// trailing backslash. Throws UsageError when it is no folder.
std::string FolderArgument(const std::string& arg);

// Picks `song` on `drive` as the window does: the drive's song list, then the song's entry.
// An error reading the drive's first song does not stop a pick of another song, as in the
// window. Throws UsageError when the drive has no such song.
th::Selection SelectSongByName(const std::string& drive, const std::string& song);

// import --all: every song of the card (options already parsed by CmdImport).
int CmdImportAll(const Options& options);

// Warnings of a run about the list it read, on stderr after its final message, one a line
// (--quiet included: they tell of takes that may not sound as meant).
void PrintWarnings(const std::vector<std::string>& warnings);

// --quiet or --verbose (both: a usage error).
Verbosity VerbosityOption(const Options& options);

// "1,3,8" -> eight flags; empty text -> all eight. Throws UsageError on anything else.
std::vector<bool> ParseTrackList(const std::string& text);

} // namespace cli
