#include "app/Application.h"

#include "platform/Platform.h"
#include "transfer/DemoCard.h"

#include "Version.h"

#include <cctype>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <stdexcept>

namespace th {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // Lets the desktop match the window to its menu entry and icon.
    setDesktopFileName(QStringLiteral("org.trackhaul.Trackhaul"));
    setApplicationVersion(QString::fromLatin1(kVersion));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("");
    }
    return false;
}

void TApplication::ShowException(const std::string& text) {
    if (Messages)
        Messages->Message(text);
    else
        std::cerr << text << "\n";
}

StartOptions ParseStartOptions(const std::vector<std::string>& args) {
    StartOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--demo") {
            o.demo = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--drive" || a.rfind("--drive=", 0) == 0) {
            std::string value;
            if (a == "--drive") {
                if (i + 1 >= args.size())
                    throw std::invalid_argument("--drive needs E:=FOLDER");
                value = args[++i];
            } else {
                value = a.substr(8);
            }
            if (value.size() < 4 || !std::isalpha(static_cast<unsigned char>(value[0])) ||
                value[1] != ':' || value[2] != '=')
                throw std::invalid_argument("--drive needs E:=FOLDER, not '" + value + "'");
            std::string letter{
                static_cast<char>(std::toupper(static_cast<unsigned char>(value[0]))), ':'};
            if (letter == "A:" || letter == "C:")
                throw std::invalid_argument("--drive can't use " + letter);
            o.drives.emplace_back(letter, value.substr(3));
        } else {
            throw std::invalid_argument("unknown argument '" + a + "'");
        }
    }
    return o;
}

std::string DemoCardFolder() {
    namespace fs = std::filesystem;
    fs::path base;
#ifdef _WIN32
    // The user's local application data, read as wide text so that any user name works.
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local)
        base = fs::path(local);
    else
        base = fs::temp_directory_path();
#else
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache)
        base = cache;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = fs::path(home) / ".cache";
    else
        base = fs::temp_directory_path();
#endif
    return platform::Utf8FromPath(base / "trackhaul" / "demo-card");
}

std::string FreeDriveLetter() {
    for (char letter = 'E'; letter <= 'Z'; ++letter) {
        const std::string drive{letter, ':'};
        if (platform::DriveNativeRoot(drive).empty())
            return drive;
    }
    return {};
}

void ApplyStartOptions(const StartOptions& options) {
    namespace fs = std::filesystem;
    for (const auto& [drive, folder] : options.drives) {
        // The folder is UTF-8 text, as every path inside the program: read as such also on
        // Windows, where a plain narrow text would be taken in the ANSI code page.
        const fs::path path = platform::PathFromUtf8(folder);
        std::error_code ec;
        if (!fs::is_directory(path, ec))
            throw std::invalid_argument("'" + folder + "' is not a folder");
        platform::MapDrive(drive, platform::Utf8FromPath(fs::absolute(path).lexically_normal()));
    }
    if (options.demo) {
        const std::string folder = DemoCardFolder();
        WriteDemoCard(folder);
        const std::string drive = FreeDriveLetter();
        if (drive.empty())
            throw std::runtime_error("no free drive letter for the demo card");
        platform::MapDrive(drive, folder);
    }
}

} // namespace th
