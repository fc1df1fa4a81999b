#include "app/Application.h"
#include "app/Main.h"

#include "Version.h"
#include "platform/Platform.h"

#include <QtPlugin>

#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef TRACKHAUL_STATIC_QT
// A static Qt finds its plug-ins only when the program registers them.
Q_IMPORT_PLUGIN(QWindowsIntegrationPlugin)
#ifdef TRACKHAUL_STATIC_QT_VISTA_STYLE
Q_IMPORT_PLUGIN(QWindowsVistaStylePlugin)
#endif
#endif

namespace {

// Answers --help and --version; false when the options ask for neither.
bool PrintInformation(const th::StartOptions& options) {
    if (options.help)
        std::cout << th::kStartUsage;
    else if (options.version)
        std::cout << "trackhaul " << th::kVersion << "\n";
    return options.help || options.version;
}

} // namespace

int main(int argc, char** argv) {
    platform::KeepFreedMemory();
    // Alone on the command line, --help and --version answer before the window system is
    // reached, so they work in a terminal without a display.
    if (argc == 2) {
        try {
            if (PrintInformation(th::ParseStartOptions({argv[1]})))
                return 0;
        } catch (const std::invalid_argument&) {
        }
    }
    th::TApplication app(argc, argv);
    app.setWindowIcon(th::ProgramIcon());
    th::MessageBoxes messages;
    app.Messages = &messages;
    try {
        std::vector<std::string> args;
        const QStringList arguments = QCoreApplication::arguments();
        for (qsizetype i = 1; i < arguments.size(); ++i)
            args.push_back(arguments[i].toStdString());
        try {
            const th::StartOptions options = th::ParseStartOptions(args);
            if (PrintInformation(options))
                return 0;
            // Drives are mapped before the window lists them.
            th::ApplyStartOptions(options);
        } catch (const std::invalid_argument& e) {
            std::cerr << "trackhaul: " << e.what() << "\n\n" << th::kStartUsage;
            return 2;
        }

        th::TMAIN_FORM MAIN_FORM(messages);
        MAIN_FORM.CreateWaveForm();
        MAIN_FORM.show();
        app.exec();
    } catch (const std::exception& e) {
        app.ShowException(e.what());
    } catch (...) {
        app.ShowException("");
    }
    return 0;
}
