// The folder tree of the computer and the WAV list of the selected folder.
#include "app/Main.h"

#include "app/ExportAsTrack.h"
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
#include <QFileSystemWatcher>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPersistentModelIndex>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <set>
#include <vector>

namespace th {

void TMAIN_FORM::RefreshNodeIcon(QTreeWidgetItem* node) {
    const int image = node->data(0, kImageRole).toInt();
    const int selected = node->data(0, kSelectedImageRole).toInt();
    auto at = [this](int i) { return i >= 0 && i < TreeImage.size() ? TreeImage[i] : QIcon(); };
    QIcon icon;
    for (const QSize& size : at(image).availableSizes())
        icon.addPixmap(at(image).pixmap(size), QIcon::Normal);
    for (const QSize& size : at(selected).availableSizes())
        icon.addPixmap(at(selected).pixmap(size), QIcon::Selected);
    if (icon.isNull())
        icon = at(image);
    node->setIcon(0, icon);
}

bool TMAIN_FORM::BuildFolderTree() {
    auto* root = new TTreeNode(TreeView, QStringList{QStringLiteral("MyComputers")});
    SetRawName(root, "MyComputers");
    const int image = LoadComputerIcon();
    root->setData(0, kImageRole, image);
    root->setData(0, kSelectedImageRole, image);
    RefreshNodeIcon(root);
    AddDriveNodes(root);
    root->setExpanded(true);
    TreeView->setCurrentItem(root);
    return true;
}

int TMAIN_FORM::LoadComputerIcon() {
    const QIcon icon = IconProvider().icon(QFileIconProvider::Computer);
    if (icon.isNull())
        return 0;
    TreeImage.append(icon);
    return static_cast<int>(TreeImage.size()) - 1;
}

int TMAIN_FORM::AddShellIcon([[maybe_unused]] const std::string& path, bool drive) {
#ifdef _WIN32
    // The shell's own small icon of the drive or folder. A folder presented as a drive has no
    // drive icon of its own: it shows as a drive (its subfolders are real and ask the shell).
    const bool mappedDrive = drive && platform::DriveNativeRoot(path) != DriveText(path) + "\\";
    if (!mappedDrive) {
        const std::string native = platform::NativePath(path);
        const QIcon icon = native.empty() ? QIcon() : IconProvider().icon(QFileInfo(Q(native)));
        if (!icon.isNull()) {
            TreeImage.append(icon);
            return static_cast<int>(TreeImage.size()) - 1;
        }
    }
#endif
    TreeImage.append(
        IconProvider().icon(drive ? QFileIconProvider::Drive : QFileIconProvider::Folder));
    return static_cast<int>(TreeImage.size()) - 1;
}

QTreeWidgetItem* TMAIN_FORM::AddDriveNode(QTreeWidgetItem* root, const std::string& rootPath) {
    const std::string text = DriveText(rootPath);
    auto* node = new TTreeNode(root, QStringList{Q(text)});
    SetRawName(node, text);
    const int image = AddShellIcon(rootPath, true);
    node->setData(0, kImageRole, image);
    node->setData(0, kSelectedImageRole, image);
    RefreshNodeIcon(node);
    node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return node;
}

void TMAIN_FORM::AddDriveNodes(QTreeWidgetItem* root) {
    {
        platform::ErrorModeGuard quiet;
        for (const std::string& rootPath : platform::LogicalDriveStrings()) {
            QTreeWidgetItem* node = AddDriveNode(root, rootPath);
            if (platform::IsDeviceDrive(rootPath))
                AddDriveEntry(node->text(0), node->data(0, kImageRole).toInt());
        }
    }
    SortTree();
}

void TMAIN_FORM::SortTree() {
    TreeView->sortItems(0, Qt::AscendingOrder);
}

std::string TMAIN_FORM::NodePath(const QTreeWidgetItem* node) {
    if (!node)
        return {};
    const std::string text = RawName(node);
    if (text.empty() || text == "MyComputers")
        return {};
    std::vector<std::string> parts;
    if (Level(node) > 1) {
        for (const QTreeWidgetItem* p = node->parent(); p && p->parent(); p = p->parent())
            parts.push_back(RawName(p) + "\\");
    }
    std::string path;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it)
        path += *it;
    return path + text;
}

namespace {

bool IsVisibleFolder(const platform::DirEntry& e) {
    return !IsDotEntry(e.name) && (e.attributes & platform::AttrDirectory) &&
           !(e.attributes & platform::AttrHidden);
}

} // namespace

void TMAIN_FORM::AddFolderNode(QTreeWidgetItem* node, const std::string& path,
                               const std::string& name) {
    auto* child = new TTreeNode(node, QStringList{Q(name)});
    SetRawName(child, name);
    // A name too long for the tree's width shows in full when pointed at.
    child->setToolTip(0, Q(name));
    const int image = AddShellIcon(path + "\\" + name + "\\");
    child->setData(0, kImageRole, image);
    child->setData(0, kSelectedImageRole, image);
    RefreshNodeIcon(child);
    child->setChildIndicatorPolicy(HasSubfolder(path + "\\" + name)
                                       ? QTreeWidgetItem::ShowIndicator
                                       : QTreeWidgetItem::DontShowIndicator);
}

bool TMAIN_FORM::AddFolderNodes(QTreeWidgetItem* node, const std::string& path) {
    bool added = false;
    for (const platform::DirEntry& e : platform::ListDirectory(path + "\\*.*")) {
        if (!IsVisibleFolder(e))
            continue;
        AddFolderNode(node, path, e.name);
        added = true;
    }
    if (!added)
        node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    SortTree();
    return true;
}

bool TMAIN_FORM::HasSubfolder(const std::string& path) {
    // Stops at the first subfolder; a folder of many files costs no look-up per file.
    return platform::HasSubdirectory(path);
}

int TMAIN_FORM::CountFolders(const std::string& path) {
    int count = 0;
    for (const platform::DirEntry& e : platform::ListDirectory(path + "\\*.*"))
        if (!IsDotEntry(e.name) && (e.attributes & platform::AttrDirectory) &&
            !(e.attributes & platform::AttrHidden))
            ++count;
    return count;
}

bool TMAIN_FORM::ChildFoldersExist(const std::string& path, const QTreeWidgetItem* node) {
    for (int i = 0; i < node->childCount(); ++i)
        if (!platform::DirectoryExists(path + "\\" + RawName(node->child(i))))
            return false;
    return true;
}

void TMAIN_FORM::RefreshFolderNodes(QTreeWidgetItem* node) {
    const std::string path = NodePath(node);
    if (CountFolders(path) != node->childCount() || !ChildFoldersExist(path, node)) {
        qDeleteAll(node->takeChildren());
        AddFolderNodes(node, path);
        node->setExpanded(true);
    }
}

void TMAIN_FORM::SyncFolderNodes(QTreeWidgetItem* node) {
    const std::string path = NodePath(node);
    std::set<std::string> onDisk;
    for (const platform::DirEntry& e : platform::ListDirectory(path + "\\*.*"))
        if (IsVisibleFolder(e))
            onDisk.insert(e.name);
    bool changed = false;
    for (int i = node->childCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* child = node->child(i);
        if (onDisk.erase(RawName(child)))
            continue;
        // A folder that went: a selection in it moves up to this folder.
        for (QTreeWidgetItem* c = TreeView->currentItem(); c; c = c->parent())
            if (c == child) {
                TreeView->setCurrentItem(node);
                break;
            }
        delete node->takeChild(i);
        changed = true;
    }
    for (const std::string& name : onDisk) {
        AddFolderNode(node, path, name);
        changed = true;
    }
    if (!changed)
        return;
    node->setChildIndicatorPolicy(node->childCount() > 0 ? QTreeWidgetItem::ShowIndicator
                                                         : QTreeWidgetItem::DontShowIndicator);
    SortTree();
}

namespace {

// The native folder of a node, empty for the root and for paths the system doesn't know.
QString NativeFolder(const std::string& path) {
    return path.empty() ? QString() : Q(platform::NativePath(path));
}

// Every node that is expanded, the root left out, parents before their children.
void ForEachExpanded(QTreeWidgetItem* node, const std::function<void(QTreeWidgetItem*)>& fn) {
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        if (!child->isExpanded())
            continue;
        fn(child);
        ForEachExpanded(child, fn);
    }
}

} // namespace

void TMAIN_FORM::WatchPaths() {
    if (!Watcher)
        return;
    QStringList wanted;
    const std::string drive = S(Z2PComboDrive->currentText());
    if (!drive.empty())
        wanted << NativeFolder(drive);
    if (QTreeWidgetItem* root = TreeView->topLevelItem(0))
        ForEachExpanded(root, [&](QTreeWidgetItem* n) { wanted << NativeFolder(NodePath(n)); });
    if (QTreeWidgetItem* current = TreeView->currentItem())
        wanted << NativeFolder(NodePath(current));
    wanted.removeAll(QString());
    wanted.removeDuplicates();
    const QStringList watched = Watcher->directories();
    QStringList gone, added;
    for (const QString& w : watched)
        if (!wanted.contains(w))
            gone << w;
    for (const QString& w : wanted)
        if (!watched.contains(w) && QFileInfo(w).isDir())
            added << w;
    if (!gone.isEmpty())
        Watcher->removePaths(gone);
    if (!added.isEmpty())
        Watcher->addPaths(added);
}

void TMAIN_FORM::FollowChanges() {
    if (running_ != Transfer::None) {
        // The transfer's own files come and go; the lists follow once it is over.
        changesWaited_ = true;
        return;
    }
    const QSet<QString> changed = std::exchange(changedPaths_, {});
    AtExit rewatch([this] { WatchPaths(); });
    const std::string drive = S(Z2PComboDrive->currentText());
    if (!drive.empty() && changed.contains(NativeFolder(drive)))
        RefreshSongList();
    if (QTreeWidgetItem* root = TreeView->topLevelItem(0)) {
        std::vector<QPersistentModelIndex> nodes;
        ForEachExpanded(root, [&](QTreeWidgetItem* n) {
            if (changed.contains(NativeFolder(NodePath(n))))
                nodes.emplace_back(TreeView->indexFromItem(n));
        });
        // A folder synced may take a later one with it: those are skipped.
        for (const QPersistentModelIndex& index : nodes)
            if (index.isValid())
                SyncFolderNodes(TreeView->itemFromIndex(index));
    }
    if (QTreeWidgetItem* current = TreeView->currentItem())
        if (changed.contains(NativeFolder(NodePath(current))))
            TreeViewChange(current);
}

void TMAIN_FORM::TreeViewExpanding(QTreeWidgetItem* node) {
    TreeView->setCurrentItem(node);
    if (!node->parent())
        return; // the root is never reloaded
    if (node->childCount() == 0)
        AddFolderNodes(node, NodePath(node));
    else
        RefreshFolderNodes(node);
}

void TMAIN_FORM::SelectFolder(const std::string& folder) {
    std::string rest = folder + "\\";
    QTreeWidgetItem* root = TreeView->topLevelItem(0);
    if (!root || root->childCount() == 0)
        return;
    QTreeWidgetItem* current = root->child(0);
    // A walk that stops early ends on the node that was selected before it (the expansions
    // on the way select the nodes they expand, and may rebuild the node selected before).
    const QPersistentModelIndex before = TreeView->currentIndex();
    bool reached = false;
    AtExit restore([&] {
        if (!reached && before.isValid())
            TreeView->setCurrentIndex(before);
    });
    while (current) {
        const std::size_t slash = rest.find('\\');
        const std::string component = rest.substr(0, slash);
        rest.erase(0, slash + 1);

        QTreeWidgetItem* parent = current->parent();
        QTreeWidgetItem* found = nullptr;
        for (int i = parent->indexOfChild(current); i < parent->childCount(); ++i) {
            if (SameIgnoringCase(RawName(parent->child(i)), component)) {
                found = parent->child(i);
                break;
            }
        }
        if (!found)
            return;
        if (!component.empty()) {
            found->setExpanded(true);
            if (!rest.empty()) {
                // The next component is looked for among the found folder's own subfolders
                // only: a folder without any ends the walk.
                if (found->childCount() == 0)
                    return;
                current = found->child(0);
            }
        }
        if (rest.empty()) {
            TreeView->setCurrentItem(found);
            TreeView->scrollToItem(found);
            reached = true;
            return;
        }
    }
}

std::array<std::string, 5> TMAIN_FORM::WaveRowTexts(const std::string& name,
                                                    std::uint32_t samplesPerSec, std::uint16_t bits,
                                                    std::uint16_t channels,
                                                    std::uint32_t riffSize) {
    char khz[40];
    std::snprintf(khz, sizeof khz, "%.15g", samplesPerSec * 0.001);
    const std::uint64_t kb = (static_cast<std::uint64_t>(riffSize) + 8) / 1024 + 1;
    return {name, std::string(khz) + "kHz", std::to_string(bits) + "bit",
            channels == 1   ? "MON"
            : channels == 2 ? "ST"
                            : "?",
            std::to_string(kb) + "KB"};
}

void TMAIN_FORM::TreeViewChange(QTreeWidgetItem* node) {
    ListView->clear();
    node->setData(0, kSelectedImageRole,
                  HasFolderIcon && Level(node) > 1 ? 0 : node->data(0, kImageRole).toInt());
    RefreshNodeIcon(node);
    for (QCheckBox* c : P2ZTr)
        c->setEnabled(false);
    const std::string path = NodePath(node);
    platform::ErrorModeGuard quiet;
    if (!path.empty() && path != "A:") {
        const QIcon icon = ListImage.isEmpty() ? QIcon() : ListImage[0];
        for (const platform::DirEntry& e : platform::ListDirectory(path + "\\*.*")) {
            if (IsDotEntry(e.name))
                continue;
            const std::size_t dot = e.name.rfind('.');
            std::string ext = dot == std::string::npos ? std::string() : e.name.substr(dot);
            std::transform(ext.begin(), ext.end(), ext.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (ext != ".wav")
                continue;
            const std::optional<WaveFormatInfo> info = ReadWaveFormat(path + "\\" + e.name);
            if (!info)
                continue;
            const auto texts =
                WaveRowTexts(e.name, info->format.samplesPerSec, info->format.bitsPerSample,
                             info->format.channels, info->riffSize);
            auto* row = new TTreeNode;
            row->setToolTip(0, Q(e.name));
            for (int i = 0; i < 5; ++i) {
                row->setText(i, Q(texts[static_cast<std::size_t>(i)]));
                if (i > 0)
                    row->setTextAlignment(i, Qt::AlignRight | Qt::AlignVCenter);
            }
            row->setText(5, Q(FormatColumnText(path + "\\" + e.name)));
            row->setTextAlignment(5, Qt::AlignRight | Qt::AlignVCenter);
            row->setIcon(0, icon);
            ListView->addTopLevelItem(row);
        }
        ListView->sortItems(0, Qt::AscendingOrder);
    }
    UpdateExportTracks(Sel, path);
    // A file sent as track N from the list is that track's file while its folder is shown.
    if (ExportJob)
        for (std::size_t i = 0; i < 8; ++i) {
            std::string& chosen = ExportJob->TrackSources[i];
            if (!chosen.empty() && chosen.rfind(path + "\\", 0) != 0)
                chosen.clear();
            if (!chosen.empty())
                Sel.ExportEnabled[i] = true;
        }
    for (std::size_t i = 0; i < 8; ++i)
        P2ZTr[i]->setEnabled(Sel.ExportEnabled[i]);
}

} // namespace th
