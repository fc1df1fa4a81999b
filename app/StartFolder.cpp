#include "app/StartFolder.h"

#include "platform/Platform.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace th {

std::string ChooseStartFolder(const std::string& programFolder, bool programFolderWritable,
                              const std::string& musicFolder, const std::string& homeFolder) {
    if (programFolderWritable)
        return programFolder;
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
    const std::string program = platform::ProgramFolder();
    // On POSIX this asks the system (access), so read-only mounts count as well.
    const bool writable =
        QFileInfo(QString::fromStdString(platform::NativePath(program))).isWritable();
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    return ChooseStartFolder(program, writable, music.toStdString(),
                             QDir::homePath().toStdString());
}

} // namespace th
