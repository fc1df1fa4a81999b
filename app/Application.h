#pragma once
// The application object with the standard exception display: an error that leaves an event
// handler is shown in a message box with its text, and the program goes on.
#include "app/Wave.h"

#include <QApplication>

#include <string>
#include <utility>
#include <vector>

namespace th {

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Where errors are shown; nullptr writes them to stderr.
    UserMessages* Messages = nullptr;
    void ShowException(const std::string& text);
};

// Options of the window program.
struct StartOptions {
    std::vector<std::pair<std::string, std::string>> drives; // "E:" -> native folder
    bool demo = false;
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program name; throws std::invalid_argument with the reason.
StartOptions ParseStartOptions(const std::vector<std::string>& args);
// Maps the folders as removable drives and writes and maps the demo card.
void ApplyStartOptions(const StartOptions& options);
// The demo card's folder: $XDG_CACHE_HOME (or ~/.cache) + "/trackhaul/demo-card", on Windows
// %LOCALAPPDATA%\trackhaul\demo-card.
std::string DemoCardFolder();
// The first letter from E: that no drive uses, or empty.
std::string FreeDriveLetter();

inline constexpr const char* kStartUsage =
    "usage: trackhaul [--drive E:=FOLDER]... [--demo]\n"
    "  --drive E:=FOLDER  present FOLDER as the removable recorder drive E: (repeatable)\n"
    "  --demo             write a demo card and present it as a recorder drive\n"
    "  --help             show this text\n"
    "  --version          show the program's version\n";

} // namespace th
