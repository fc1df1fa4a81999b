#include "app/Application.h"
#include "app/Main.h"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    th::TApplication app(argc, argv);
    th::MessageBoxes messages;
    app.Messages = &messages;
    try {
        std::vector<std::string> args;
        const QStringList arguments = QCoreApplication::arguments();
        for (qsizetype i = 1; i < arguments.size(); ++i)
            args.push_back(arguments[i].toStdString());
        try {
            const th::StartOptions options = th::ParseStartOptions(args);
            if (options.help) {
                std::cout << th::kStartUsage;
                return 0;
            }
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
