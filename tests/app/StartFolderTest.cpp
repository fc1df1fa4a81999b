// The folder the window starts in: the program's own folder in a portable copy, the user's
// music or home folder for an installed program.
#include "app/StartFolder.h"
#include "support/TestSupport.h"

#include "platform/Platform.h"

#include <QTest>

#include <filesystem>

namespace fs = std::filesystem;

class StartFolderTest : public QObject {
    Q_OBJECT

private slots:
    void choosesAWritableFolderThatExists() {
        testsupport::TempDir tmp;
        fs::create_directories(tmp / "home" / "Music");
        const std::string program = "C:\\usr\\bin";
        const std::string home = (tmp / "home").string();
        const std::string music = (tmp / "home" / "Music").string();
        const std::string missing = (tmp / "home" / "Gone").string();
        const auto drive = [](const std::string& native) { return platform::ToDrivePath(native); };
        const struct {
            const char* name;
            bool writable;
            std::string music, home, expected;
        } cases[] = {
            {"portable copy", true, music, home, program},
            {"installed", false, music, home, drive(music)},
            {"trailing slash", false, music + "/", home, drive(music)},
            {"no music folder", false, missing, home, drive(home)},
            {"music folder unknown", false, "", home, drive(home)},
            {"nothing else", false, missing, "", program},
        };
        for (const auto& c : cases) {
            const std::string chosen = th::ChooseStartFolder(program, c.writable, c.music, c.home);
            QVERIFY2(chosen == c.expected, c.name);
            QVERIFY2(chosen.back() != '\\', c.name);
        }
    }
};

int RunStartFolderTests(int argc, char** argv) {
    StartFolderTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "StartFolderTest.moc"
