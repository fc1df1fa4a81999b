// The folder the window starts in at a first launch: the user's music or home folder, never
// the program's own (a system folder) while one of those is there.
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
            std::string music, home, expected;
        } cases[] = {
            {"music folder", music, home, drive(music)},
            {"trailing slash", music + "/", home, drive(music)},
            {"no music folder", missing, home, drive(home)},
            {"music folder unknown", "", home, drive(home)},
            {"nothing else", missing, "", program},
        };
        for (const auto& c : cases) {
            const std::string chosen = th::ChooseStartFolder(program, c.music, c.home);
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
