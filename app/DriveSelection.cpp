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
    AtExit show([this] { ShowSongList(); });
    th::LoadSongList(Sel, drive);
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
