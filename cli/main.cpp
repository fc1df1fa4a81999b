#include "cli/Cli.h"

#include "Version.h"
#include "platform/Console.h"
#include "platform/Platform.h"

#include <cstdio>
#include <exception>
#include <iostream>
#include <map>

namespace {

const char* kUsage =
    "usage: trackhaul-cli COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  tc TIMECODE                              timecode text -> sample position\n"
    "  tc --samples N --rate HZ --fps CODE [--drop]\n"
    "                                           sample position -> timecode text\n"
    "                                           (CODE 24, 25, 29 or 30)\n"
    "  drives                                   list recorder drives (drive TAB root)\n"
    "  songs --drive DRIVE                      list songs (name TAB sampling frequency)\n"
    "  import --drive DRIVE --song NAME --to FOLDER [--tracks LIST] [--yes]\n"
    "         [--quiet | --verbose]             render tracks to FOLDER/tr0N.wav\n"
    "  import --drive DRIVE --all --to FOLDER [--tracks LIST] [--yes]\n"
    "         [--quiet | --verbose]             every song to FOLDER/SONG/tr0N.wav\n"
    "  show --drive DRIVE --song NAME [--json [--peaks N]] [--svg FILE]\n"
    "                                           what plays where on each track\n"
    "  export --from FOLDER --drive DRIVE --song NAME [--tracks LIST] [--yes]\n"
    "         [--file N=PATH]... [--convert]\n"
    "         [--quiet | --verbose]             copy FOLDER/tr0N.wav into the song\n"
    "  demo-card FOLDER                         write a demo card into FOLDER\n"
    "\n"
    "DRIVE is a drive text (E:) or a folder holding a copy of a card.\n"
    "LIST is comma-separated track numbers 1-8 (default: all).\n"
    "--file N=PATH exports PATH as track N (repeatable; --from then optional).\n"
    "--convert converts files of another rate, bit depth or channel count into\n"
    "the song's format (its rate, 16-bit mono); without it they are refused.\n"
    "--quiet prints only errors; --verbose also each file as it is written.\n"
    "A failure's message is followed by a line naming the file and the reason.\n"
    "Exit status: 0 done, 1 stopped or refused, 2 usage error, 3 error.\n"
    "trackhaul-cli --help shows this text, trackhaul-cli --version the version.\n";

} // namespace

int main(int argc, char** argv) {
    platform::KeepFreedMemory();
    const std::map<std::string, int (*)(const cli::Args&)> commands = {
        {"tc", cli::CmdTc},         {"drives", cli::CmdDrives}, {"songs", cli::CmdSongs},
        {"import", cli::CmdImport}, {"export", cli::CmdExport}, {"demo-card", cli::CmdDemoCard},
        {"show", cli::CmdShow},
    };
    // Arguments, and so every name inside the program, are UTF-8.
    const cli::Args args = platform::ProgramArguments(argc, argv);
    platform::UseBinaryStandardStreams();
    platform::PrepareConsole(platform::StdStream::Out);
    if (args.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (command == "--version") {
        std::cout << "trackhaul-cli " << th::kVersion << "\n";
        return 0;
    }
    auto it = commands.find(command);
    if (it == commands.end()) {
        std::cerr << "trackhaul-cli: unknown command '" << command << "'\n\n" << kUsage;
        return 2;
    }
    try {
        return it->second(cli::Args(args.begin() + 1, args.end()));
    } catch (const cli::UsageError& e) {
        std::cerr << "trackhaul-cli: " << e.what() << "\n\n" << kUsage;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 3;
    } catch (...) {
        std::cerr << "unknown error\n";
        return 3;
    }
}
