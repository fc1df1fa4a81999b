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

std::vector<std::string> Options::GetAll(const std::string& name) const {
    std::vector<std::string> all;
    for (const auto& [k, v] : values)
        if (k == name)
            all.push_back(v);
    return all;
}

Options ParseOptions(const Args& args, const std::vector<std::string>& valueOptions,
                     const std::vector<std::string>& flagOptions,
                     const std::vector<std::string>& repeatable) {
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
                if (o.Has(a) && !contains(repeatable, a))
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

namespace {

// The lower-case form of a letter of the Latin, Greek and Cyrillic alphabets (the letters a
// card's song names are written in); anything else unchanged.
char32_t LowerLetter(char32_t c) {
    if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return c + 32;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return c | 1; // pairs: capital at the even code
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1) ? c + 1 : c; // pairs: capital at the odd code
    if (c == 0x178)
        return 0xFF;
    if ((c >= 0x391 && c <= 0x3A9 && c != 0x3A2) || (c >= 0x410 && c <= 0x42F))
        return c + 32;
    if (c == 0x3C2) // final sigma
        return 0x3C3;
    if (c == 0x386)
        return 0x3AC;
    if (c >= 0x388 && c <= 0x38A)
        return c + 37;
    if (c == 0x38C)
        return 0x3CC;
    if (c == 0x38E || c == 0x38F)
        return c + 63;
    if (c >= 0x400 && c <= 0x40F)
        return c + 80;
    return c;
}

// A UTF-8 text with its letters in lower case, as code points; a byte that starts no valid
// sequence stands for itself.
std::u32string FoldCase(const std::string& text) {
    std::u32string folded;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const std::size_t length = b < 0x80         ? 1
                                   : (b >> 5) == 6  ? 2
                                   : (b >> 4) == 14 ? 3
                                   : (b >> 3) == 30 ? 4
                                                    : 0;
        char32_t c = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid) {
            folded += static_cast<char32_t>(0xDC00 + b); // kept apart from every letter
            ++i;
            continue;
        }
        folded += LowerLetter(c);
        i += length;
    }
    return folded;
}

} // namespace

th::Selection SelectSongByName(const std::string& drive, const std::string& song) {
    // What choosing the drive and then the song does in the window, except that the first
    // song's list, which the window reads for its labels, is not read.
    th::Selection sel;
    sel.DriveRoot = drive;
    sel.Songs = th::ListSongs(drive);
    // The card's file system ignores letter case, so the name may be typed in any case; a
    // folder spelt exactly so wins (a copy of a card on a disk that tells case apart).
    auto it = std::find(sel.Songs.begin(), sel.Songs.end(), song);
    if (it == sel.Songs.end()) {
        const std::u32string wanted = FoldCase(song);
        it = std::find_if(sel.Songs.begin(), sel.Songs.end(),
                          [&](const std::string& name) { return FoldCase(name) == wanted; });
    }
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

std::string FileArgument(const std::string& arg) {
    std::error_code ec;
    const std::filesystem::path path = platform::PathFromUtf8(arg);
    if (!std::filesystem::is_regular_file(path, ec))
        throw UsageError("'" + arg + "' is not a file");
    const std::filesystem::path whole = std::filesystem::absolute(path, ec).lexically_normal();
    std::string folder = platform::ToDrivePath(platform::Utf8FromPath(whole.parent_path()));
    while (folder.size() > 2 && folder.back() == '\\')
        folder.pop_back();
    if (folder.empty())
        throw UsageError("'" + arg + "' lies on no drive");
    return folder + "\\" + platform::Utf8FromPath(whole.filename());
}

std::pair<int, std::string> ParseTrackFile(const std::string& text) {
    if (text.size() < 3 || text[0] < '1' || text[0] > '8' || text[1] != '=')
        throw UsageError("--file '" + text + "': give a track 1 to 8, '=' and a file (3=bass.wav)");
    return {text[0] - '0', FileArgument(text.substr(2))};
}

} // namespace cli
