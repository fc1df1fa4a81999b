#include "cli/Cli.h"

#include "platform/Platform.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

namespace cli {

std::string Options::Get(const std::string& name, const std::string& fallback) const {
    for (const auto& [k, v] : values)
        if (k == name)
            return v;
    return fallback;
}

bool Options::Has(const std::string& name) const {
    if (std::find(flags.begin(), flags.end(), name) != flags.end())
        return true;
    return std::any_of(values.begin(), values.end(),
                       [&](const auto& kv) { return kv.first == name; });
}

Options ParseOptions(const Args& args, const std::vector<std::string>& valueOptions,
                     const std::vector<std::string>& flagOptions) {
    Options o;
    auto contains = [](const std::vector<std::string>& v, const std::string& s) {
        return std::find(v.begin(), v.end(), s) != v.end();
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            if (contains(valueOptions, a)) {
                if (i + 1 >= args.size())
                    throw UsageError("option " + a + " needs a value");
                if (o.Has(a))
                    throw UsageError("option " + a + " given twice");
                o.values.emplace_back(a, args[++i]);
            } else if (contains(flagOptions, a)) {
                o.flags.push_back(a);
            } else {
                throw UsageError("unknown option " + a);
            }
        } else {
            o.positional.push_back(a);
        }
    }
    return o;
}

std::string DriveArgument(const std::string& arg) {
    if (arg.size() == 2 && std::isalpha(static_cast<unsigned char>(arg[0])) && arg[1] == ':') {
        std::string d = arg;
        d[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(d[0])));
        return d;
    }
    std::error_code ec;
    const std::filesystem::path folder = platform::PathFromUtf8(arg);
    if (!std::filesystem::is_directory(folder, ec))
        throw UsageError("'" + arg + "' is neither a drive (E:) nor a folder");
    // A folder stands in for a card: give it a free letter from E: on.
    for (char letter = 'E'; letter <= 'Z'; ++letter) {
        std::string d{letter, ':'};
        if (platform::DriveNativeRoot(d).empty()) {
            platform::MapDrive(
                d, platform::Utf8FromPath(std::filesystem::absolute(folder).lexically_normal()));
            return d;
        }
    }
    throw std::runtime_error("no free drive letter for '" + arg + "'");
}

std::string FolderArgument(const std::string& arg) {
    std::error_code ec;
    const std::filesystem::path path = platform::PathFromUtf8(arg);
    if (!std::filesystem::is_directory(path, ec))
        throw UsageError("'" + arg + "' is not a folder");
    std::string native =
        platform::Utf8FromPath(std::filesystem::absolute(path, ec).lexically_normal());
    // Trailing separators go, but a root keeps its own ("/", "C:\\").
    while (native.size() > 1 && (native.back() == '/' || native.back() == '\\') &&
           !(native.size() == 3 && native[1] == ':'))
        native.pop_back();
    std::string folder = platform::ToDrivePath(native);
    while (folder.size() > 2 && folder.back() == '\\')
        folder.pop_back();
    if (folder.empty())
        throw UsageError("'" + arg + "' lies on no drive");
    return folder;
}

th::Selection SelectSongByName(const std::string& drive, const std::string& song) {
    // What choosing the drive and then the song does in the window, except that the first
    // song's list, which the window reads for its labels, is not read.
    th::Selection sel;
    sel.DriveRoot = drive;
    sel.Songs = th::ListSongs(drive);
    const auto it = std::find(sel.Songs.begin(), sel.Songs.end(), song);
    if (it == sel.Songs.end())
        throw UsageError("no song '" + song + "' on drive " + platform::DisplayPath(drive));
    sel.BITinfo = "16";
    sel.TransferEnabled = true;
    th::SelectSong(sel, static_cast<int>(it - sel.Songs.begin()));
    return sel;
}

void PrintWarnings(const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings)
        std::cerr << w << "\n";
    std::cerr << std::flush;
}

Verbosity VerbosityOption(const Options& options) {
    const bool quiet = options.Has("--quiet");
    const bool verbose = options.Has("--verbose");
    if (quiet && verbose)
        throw UsageError("--quiet and --verbose exclude each other");
    return quiet ? Verbosity::Quiet : verbose ? Verbosity::Verbose : Verbosity::Normal;
}

std::vector<bool> ParseTrackList(const std::string& text) {
    std::vector<bool> tracks(8, text.empty());
    if (text.empty())
        return tracks;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item.size() != 1 || item[0] < '1' || item[0] > '8')
            throw UsageError("track list '" + text +
                             "': tracks are numbers 1 to 8, separated by commas");
        tracks[static_cast<std::size_t>(item[0] - '1')] = true;
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return tracks;
}

} // namespace cli
