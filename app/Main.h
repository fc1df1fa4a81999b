#pragma once
// The main window: the computer's folder tree on the left, the import and export tabs on the
// right. Its selection state (th::Selection) is what the transfers read when they start.
#include "app/Wave.h"
#include "song/SongEvent.h"
#include "transfer/P2z.h"
#include "transfer/Selection.h"
#include "transfer/Z2p.h"

#include <QIcon>
#include <QList>
#include <QSet>
#include <QTreeWidgetItem>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFileSystemWatcher;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class QTreeWidget;

namespace th {

// The program's own icon, drawn from the SVG in the program's resources.
QIcon ProgramIcon();

// A tree or list item that sorts by its text ignoring case, then by the exact text.
class TTreeNode : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override;
};

class TMAIN_FORM : public QWidget {
    Q_OBJECT
public:
    explicit TMAIN_FORM(UserMessages& messages, QWidget* parent = nullptr);
    ~TMAIN_FORM() override;

    // Creates the progress dialog (after the window, as its child) and the two transfer jobs
    // that run on it.
    TWAVE_FORM* CreateWaveForm();

    // --- State ---------------------------------------------------------------------------
    Selection Sel; // DestFolder, DriveRoot, AdlPath, SampleRate, songs, track boxes
    th::SongEventTable SongEventTable;
    std::unique_ptr<TImportJob> ImportJob;
    std::unique_ptr<TExportJob> ExportJob;
    TWAVE_FORM* WAVE_FORM = nullptr;
    bool HasFolderIcon = false;
    bool TransferStarted = false;
    QList<QIcon> TreeImage;
    QList<QIcon> ListImage;

    // --- Widgets -------------------------------------------------------------------------
    QTreeWidget* TreeView;
    QTabWidget* PageControl1;

    QWidget* TabSheet1;
    QLabel* NoCardLabel; // "No recorder card found. ..." while no drive is offered
    QLabel* Z2PDrive;
    QComboBox* Z2PComboDrive;
    QLabel* Z2PName;
    QComboBox* Z2PComboName;
    QLabel* Z2PInfo;
    QLabel* FSLabel;
    QLabel* FSinfo;
    QLabel* BITLabel;
    QLabel* BITinfo;
    QGroupBox* Z2PGrpTrack;
    std::array<QCheckBox*, 8> Z2PTr;
    QPushButton* Z2PBtnConv;

    QWidget* TabSheet2;
    QTreeWidget* ListView;
    QGroupBox* P2ZGrpTrack;
    std::array<QCheckBox*, 8> P2ZTr;
    QLabel* P2ZDrive;
    QComboBox* P2ZComboDrive;
    QLabel* P2ZName;
    QComboBox* P2ZComboName;
    QPushButton* P2ZBtnConv;

    QWidget* TabSheet3;
    QGroupBox* GroupBox1;
    QLineEdit* z2p_in;
    QLineEdit* p2z_in;
    QPushButton* z2p;
    QPushButton* p2z;
    QLabel* Label1;
    QPlainTextEdit* Memo1;

    // --- Handlers ------------------------------------------------------------------------
    void FormCreate();
    void FormPaint();
    void PageControl1Change();
    void Z2PBtnConvClick();
    void P2ZBtnConvClick();
    void z2pClick();
    void p2zClick();
    void Z2PComboDriveSelect();
    void P2ZComboDriveSelect();
    void Z2PComboNameSelect();
    void P2ZComboNameSelect();
    void TreeViewChange(QTreeWidgetItem* node);
    void TreeViewExpanding(QTreeWidgetItem* node);

    // --- Drive and song selection --------------------------------------------------------
    // Re-reads the system's volumes and brings both drive combos and the tree's drive level up
    // to date: a card plugged in appears, a card removed leaves. Runs every second from
    // DriveTimer, never while a transfer runs.
    void PollDrives();
    QTimer* DriveTimer = nullptr;
    void LoadSongList(const std::string& drive);
    void SetTransferEnabled(bool flag);
    void AddDriveEntry(const QString& text, int imageIndex);

    // --- Following the disk ----------------------------------------------------------------
    // The chosen card's root, the expanded folders and the selected one are watched; a change
    // reloads the song list (keeping the chosen song) or the folder's children, within
    // kWatchDelay milliseconds. Changes during a transfer wait until it is over.
    QFileSystemWatcher* Watcher = nullptr;
    QTimer* WatchTimer = nullptr;
    static constexpr int kWatchDelay = 200;
    void WatchPaths();
    void FollowChanges();
    // The song list of the chosen drive read again, keeping the chosen song when it is still
    // there.
    void RefreshSongList();
    // A folder node's children brought in line with the disk without rebuilding those that
    // stay (their own children and expansion are kept).
    void SyncFolderNodes(QTreeWidgetItem* node);

    // --- Settings kept between launches (QSettings) ----------------------------------------
    // Geometry, the drive (by its folder, then its letter), song, ticked tracks and the last
    // folder. Saved when the window closes.
    void SaveSettings() const;
    // Brings back what SaveSettings kept; false when there was nothing (a first launch).
    bool RestoreSettings();

    // --- Folder tree and WAV list --------------------------------------------------------
    bool BuildFolderTree();
    int LoadComputerIcon();
    void AddDriveNodes(QTreeWidgetItem* root);
    int AddShellIcon(const std::string& path, bool drive = false);
    static std::string NodePath(const QTreeWidgetItem* node);
    bool AddFolderNodes(QTreeWidgetItem* node, const std::string& path);
    // One child node for the subfolder `name` of `path`, with its icon and expand marker.
    void AddFolderNode(QTreeWidgetItem* node, const std::string& path, const std::string& name);
    static bool HasSubfolder(const std::string& path);
    static int CountFolders(const std::string& path);
    static bool ChildFoldersExist(const std::string& path, const QTreeWidgetItem* node);
    void RefreshFolderNodes(QTreeWidgetItem* node);
    void SelectFolder(const std::string& path);
    void SortTree();
    // The cell texts of one WAV list row: Name, FS, BIT, CH, SIZE.
    static std::array<std::string, 5> WaveRowTexts(const std::string& name,
                                                   std::uint32_t samplesPerSec, std::uint16_t bits,
                                                   std::uint16_t channels, std::uint32_t riffSize);

    // The standard exception display: the error's text in a message box; the program goes on.
    void ShowException(const std::string& text);

    enum class Transfer { None, Import, Export };
    Transfer Running() const { return running_; }

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildWidgets();
    // Places the widgets for the window's size: at 607 x 383 exactly as designed; beyond it
    // the folder tree and the WAV list take the room.
    void LayOut();
    // The export tab's widgets under the WAV list, with their places at the default size.
    std::vector<std::pair<QWidget*, QRect>> belowList_;
    int extraHeight_ = 0; // of the window over its default size
    // Ctrl+Tab and Ctrl+PgDn (and back) walk the visible tabs from anywhere in the window.
    void StepTab(int step);
    // The tree's selection is drawn strongly only while the tree has the focus.
    void ShowTreeFocus(bool focused);
    void ShowNoCard();
    // Runs a handler; an error that leaves it is shown and the window goes on.
    void Guarded(const std::function<void()>& handler);
    // Song combos, labels and transfer controls from Sel.
    void ShowSongList();
    void ShowSongInfo();
    // Steps 1 to 4 of both transfer buttons: drive, folder, bar at 0, the ticked tracks.
    // False, after saying so, when no folder is selected.
    bool PrepareTransfer(QComboBox* driveCombo);
    // Runs a transfer button's work with the window locked; a close of the window asked for
    // meanwhile is carried out when it is over.
    void RunTransfer(Transfer kind, const std::function<void()>& work);
    // Locks the window's controls while a transfer runs (the progress dialog stays live).
    void LockForTransfer(bool locked);
    void RefreshNodeIcon(QTreeWidgetItem* node);
    QTreeWidgetItem* AddDriveNode(QTreeWidgetItem* root, const std::string& rootPath);
    // Both drive combos from the device drives in `drives` ("E:"), keeping the chosen one.
    void ShowDriveList(const std::vector<std::string>& drives);

    UserMessages& messages_;
    Transfer running_ = Transfer::None;
    bool closeRequested_ = false;
    bool changesWaited_ = false; // the disk changed during a transfer
    QSet<QString> changedPaths_; // native folders changed since FollowChanges last ran
    bool wasExposed_ = false;
    int shownTab_ = 0;
};

} // namespace th
