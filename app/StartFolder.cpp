#include "app/StartFolder.h"

#include "platform/Platform.h"

#include <QDir>
#include <QStandardPaths>

namespace th {

std::string ChooseStartFolder(const std::string& programFolder, const std::string& musicFolder,
                              const std::string& homeFolder) {
    for (const std::string& native : {musicFolder, homeFolder}) {
        if (native.empty())
            continue;
        std::string folder = platform::ToDrivePath(native);
        while (folder.size() > 2 && folder.back() == '\\')
            folder.pop_back();
        if (!folder.empty() && platform::DirectoryExists(folder))
            return folder;
    }
    return programFolder;
}

std::string StartFolder() {
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return ChooseStartFolder(platform::ProgramFolder(), music.toStdString(),
                             QDir::homePath().toStdString());
}

} // namespace th
