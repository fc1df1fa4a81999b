// Drive and song selection: the drive and song combos of both tabs.
#include "app/Main.h"

#include "app/MainHelpers.h"
#include "platform/Platform.h"
#include "song/Errors.h"
#include "song/Tc2w.h"
#include "transfer/WaveFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <vector>

namespace th {

void TMAIN_FORM::SetTransferEnabled(bool flag) {
    Sel.TransferEnabled = flag;
    P2ZBtnConv->setEnabled(flag);
    Z2PBtnConv->setEnabled(flag);
    for (QCheckBox* c : Z2PTr)
        c->setEnabled(flag);
}

void TMAIN_FORM::AddDriveEntry(const QString& text, int imageIndex) {
    const QIcon icon =
        imageIndex >= 0 && imageIndex < TreeImage.size() ? TreeImage[imageIndex] : QIcon();
    Z2PComboDrive->addItem(icon, text);
    P2ZComboDrive->addItem(icon, text);
}

void TMAIN_FORM::PollDrives() {
    if (running_ != Transfer::None)
        return;
    platform::RescanVolumes();
    std::vector<std::string> roots;
    std::vector<std::string> devices;
    std::set<std::string> texts;
    {
        platform::ErrorModeGuard quiet;
        // A drive whose folder has gone (a card copy removed, a card pulled without being
        // unmounted) is gone too.
        for (const std::string& rootPath : platform::LogicalDriveStrings())
            if (platform::DirectoryExists(DriveText(rootPath)))
                roots.push_back(rootPath);
        for (const std::string& rootPath : roots) {
            const std::string text = DriveText(rootPath);
            texts.insert(text);
            if (platform::IsDeviceDrive(rootPath))
                devices.push_back(text);
        }
    }
    // The tree's drive level: drives that went leave, new ones come in.
    if (QTreeWidgetItem* root = TreeView->topLevelItem(0)) {
        std::set<std::string> shown;
        for (int i = root->childCount() - 1; i >= 0; --i) {
            const std::string name = RawName(root->child(i));
            if (texts.count(name))
                shown.insert(name);
            else
                delete root->takeChild(i);
        }
        bool added = false;
        for (const std::string& rootPath : roots) {
            const std::string text = DriveText(rootPath);
            if (!shown.count(text)) {
                AddDriveNode(root, rootPath);
                added = true;
            }
        }
        if (added)
            SortTree();
    }
    ShowDriveList(devices);
}

void TMAIN_FORM::ShowDriveList(const std::vector<std::string>& drives) {
    QStringList wanted;
    for (const std::string& d : drives)
        wanted << Q(d);
    QStringList shown;
    for (int i = 0; i < Z2PComboDrive->count(); ++i)
        shown << Z2PComboDrive->itemText(i);
    if (wanted == shown)
        return;
    AtExit told([this] { ShowNoCard(); });

    const QString chosen = Z2PComboDrive->currentText();
    Z2PComboDrive->clear();
    P2ZComboDrive->clear();
    QTreeWidgetItem* root = TreeView->topLevelItem(0);
    for (const QString& drive : wanted) {
        int image = -1;
        for (int i = 0; root && i < root->childCount(); ++i)
            if (root->child(i)->text(0) == drive)
                image = root->child(i)->data(0, kImageRole).toInt();
        AddDriveEntry(drive, image);
    }
    const int kept = chosen.isEmpty() ? -1 : Z2PComboDrive->findText(chosen);
    if (kept >= 0) {
        Z2PComboDrive->setCurrentIndex(kept);
        P2ZComboDrive->setCurrentIndex(kept);
        return;
    }
    Z2PComboDrive->setCurrentIndex(-1);
    P2ZComboDrive->setCurrentIndex(-1);
    Z2PComboName->clear();
    P2ZComboName->clear();
    if (!chosen.isEmpty()) {
        // The chosen card has gone: its songs go with it, as for a drive without songs.
        LoadSongList(S(chosen));
    } else if (Z2PComboDrive->count() > 0) {
        // The first card since the start: chosen as at the start.
        Z2PComboDrive->setCurrentIndex(0);
        P2ZComboDrive->setCurrentIndex(0);
        LoadSongList(S(Z2PComboDrive->itemText(0)));
    }
}

void TMAIN_FORM::ShowSongInfo() {
    FSinfo->setText(Q(Sel.FSinfo));
    FSinfo->adjustSize();
    BITinfo->setText(Q(Sel.BITinfo));
    BITinfo->adjustSize();
    SetTransferEnabled(Sel.TransferEnabled);
}

void TMAIN_FORM::ShowSongList() {
    QStringList songs;
    for (const std::string& name : Sel.Songs)
        songs << Q(name);
    for (QComboBox* c : {Z2PComboName, P2ZComboName}) {
        QStringList shown;
        for (int i = 0; i < c->count(); ++i)
            shown << c->itemText(i);
        if (shown != songs) {
            c->clear();
            c->addItems(songs);
        }
        c->setCurrentIndex(Sel.SongIndex < 0 && !songs.isEmpty() ? 0 : Sel.SongIndex);
    }
    ShowSongInfo();
}

void TMAIN_FORM::LoadSongList(const std::string& drive) {
    // The widgets follow the selection even when reading the first song fails.
    AtExit show([this] {
        ShowSongList();
        WatchPaths();
    });
    th::LoadSongList(Sel, drive);
}

void TMAIN_FORM::RefreshSongList() {
    const std::string drive = S(Z2PComboDrive->currentText());
    if (drive.empty() || drive == "0")
        return;
    std::vector<std::string> songs;
    {
        platform::ErrorModeGuard quiet;
        songs = ListSongs(drive);
    }
    if (songs == Sel.Songs)
        return;
    const std::string chosen = Sel.SongName();
    Z2PComboName->clear();
    P2ZComboName->clear();
    LoadSongList(drive);
    // The song chosen before stays chosen while its folder is there.
    const auto kept = std::find(Sel.Songs.begin(), Sel.Songs.end(), chosen);
    if (!chosen.empty() && kept != Sel.Songs.end() && kept != Sel.Songs.begin()) {
        Z2PComboName->setCurrentIndex(static_cast<int>(kept - Sel.Songs.begin()));
        Z2PComboNameSelect();
    }
}

void TMAIN_FORM::Z2PComboDriveSelect() {
    // The twin first, so the two tabs agree even when the song list can't be read.
    P2ZComboDrive->setCurrentIndex(Z2PComboDrive->currentIndex());
    P2ZComboName->clear();
    Z2PComboName->clear();
    LoadSongList(S(Z2PComboDrive->currentText()));
}

void TMAIN_FORM::P2ZComboDriveSelect() {
    Z2PComboDrive->setCurrentIndex(P2ZComboDrive->currentIndex());
    Z2PComboName->clear();
    P2ZComboName->clear();
    LoadSongList(S(P2ZComboDrive->currentText()));
}

void TMAIN_FORM::Z2PComboNameSelect() {
    P2ZComboName->setCurrentIndex(Z2PComboName->currentIndex());
    AtExit show([this] { ShowSongInfo(); });
    SelectSong(Sel, Z2PComboName->currentIndex());
}

void TMAIN_FORM::P2ZComboNameSelect() {
    Z2PComboName->setCurrentIndex(P2ZComboName->currentIndex());
    Z2PComboNameSelect();
}

} // namespace th
