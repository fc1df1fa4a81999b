#include "app/Main.h"

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

namespace {

constexpr int kImageRole = Qt::UserRole;
constexpr int kSelectedImageRole = Qt::UserRole + 1;

// Runs `fn` when the scope ends, also when an error leaves it.
template <typename F> class AtExit {
public:
    explicit AtExit(F fn) : fn_(std::move(fn)) {}
    ~AtExit() { fn_(); }
    AtExit(const AtExit&) = delete;
    AtExit& operator=(const AtExit&) = delete;

private:
    F fn_;
};

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}
std::string S(const QString& text) {
    return text.toStdString();
}

int Level(const QTreeWidgetItem* node) {
    int level = 0;
    for (const QTreeWidgetItem* p = node->parent(); p; p = p->parent())
        ++level;
    return level;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

bool IsDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

// The node after `node` in tree order: its first child, else its next sibling, else the
// next sibling of the nearest ancestor that has one.
QTreeWidgetItem* NextInTree(QTreeWidgetItem* node) {
    if (node->childCount() > 0)
        return node->child(0);
    for (QTreeWidgetItem* n = node; n; n = n->parent()) {
        QTreeWidgetItem* parent = n->parent();
        if (!parent)
            return nullptr;
        const int i = parent->indexOfChild(n);
        if (i + 1 < parent->childCount())
            return parent->child(i + 1);
    }
    return nullptr;
}

QFileIconProvider& IconProvider() {
    static QFileIconProvider provider;
    return provider;
}

} // namespace

bool TTreeNode::operator<(const QTreeWidgetItem& other) const {
    const QString a = text(0);
    const QString b = other.text(0);
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

TMAIN_FORM::TMAIN_FORM(UserMessages& messages, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      messages_(messages) {
    BuildWidgets();

    Sel.DestFolder.clear();
    Sel.DriveRoot.clear();
    Sel.AdlPath.clear();
    if (QLocale::system().language() == QLocale::Japanese) {
        QFont font = TreeView->font();
        font.setFamily(QString::fromUtf8("\xEF\xBC\xAD\xEF\xBC\xB3 P\xE3\x82\xB4\xE3\x82\xB7"
                                         "\xE3\x83\x83\xE3\x82\xAF")); // "ＭＳ Pゴシック"
        TreeView->setFont(font);
        ListView->setFont(font);
    }
    TransferStarted = false;
    PageControl1->setTabVisible(PageControl1->indexOf(TabSheet3), false);

    Guarded([this] { FormCreate(); });
}

TMAIN_FORM::~TMAIN_FORM() {
    // The jobs refer to the dialog's renderer: let them go before the dialog does.
    ImportJob.reset();
    ExportJob.reset();
}

TWAVE_FORM* TMAIN_FORM::CreateWaveForm() {
    if (!WAVE_FORM) {
        WAVE_FORM = new TWAVE_FORM(messages_, Sel, SongEventTable, this);
        ImportJob =
            std::make_unique<TImportJob>(*WAVE_FORM, Sel, SongEventTable, WAVE_FORM->Renderer);
        ExportJob = std::make_unique<TExportJob>(*WAVE_FORM, Sel);
    }
    return WAVE_FORM;
}

void TMAIN_FORM::BuildWidgets() {
    setObjectName("MAIN_FORM");
    setWindowTitle(QStringLiteral("Trackhaul -Version 1.00-"));
    setFixedSize(607, 383);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    setFont(font);
    QFont comboFont(QStringLiteral("Arial"));
    comboFont.setPixelSize(11);

    auto label = [](QWidget* parent, const char* name, const char* text, int x, int y) {
        auto* l = new QLabel(QString::fromUtf8(text), parent);
        l->setObjectName(name);
        l->move(x, y);
        l->adjustSize();
        return l;
    };
    auto combo = [&](QWidget* parent, const char* name, int x, int y) {
        auto* c = new QComboBox(parent);
        c->setObjectName(name);
        c->setGeometry(x, y, 145, 23);
        c->setEditable(false);
        c->setFont(comboFont);
        c->setMaxVisibleItems(8);
        return c;
    };
    auto button = [](QWidget* parent, const char* name, const char* text, int x, int y, int w,
                     int h) {
        auto* b = new QPushButton(QString::fromUtf8(text), parent);
        b->setObjectName(name);
        b->setGeometry(x, y, w, h);
        return b;
    };
    auto trackGroup = [](QWidget* parent, const char* name, const char* prefix,
                         std::array<QCheckBox*, 8>& boxes) {
        auto* g = new QGroupBox(QStringLiteral("Select Track"), parent);
        g->setObjectName(name);
        g->setGeometry(16, 176, 161, 153);
        for (int i = 0; i < 8; ++i) {
            auto* c = new QCheckBox(QStringLiteral("TR%1").arg(i + 1), g);
            c->setObjectName(QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(i + 1));
            c->setGeometry(i < 4 ? 24 : 88, 24 + 32 * (i % 4), 49, 17);
            c->setChecked(true);
            boxes[static_cast<std::size_t>(i)] = c;
        }
        return g;
    };

    TreeView = new QTreeWidget(this);
    TreeView->setObjectName("TreeView");
    TreeView->setGeometry(0, 0, 225, 383);
    TreeView->setHeaderHidden(true);
    TreeView->setColumnCount(1);
    TreeView->setIndentation(19);
    TreeView->setIconSize(QSize(16, 16));

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setGeometry(232, 8, 369, 369);

    // "ZT-6 To PC"
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName("TabSheet1");
    PageControl1->addTab(TabSheet1, QStringLiteral("ZT-6 To PC"));
    Z2PBtnConv = button(TabSheet1, "Z2PBtnConv", "Import", 240, 288, 81, 33);
    Z2PDrive = label(TabSheet1, "Z2PDrive", "ZT-6 Drive", 64, 48);
    Z2PComboDrive = combo(TabSheet1, "Z2PComboDrive", 160, 48);
    Z2PName = label(TabSheet1, "Z2PName", "Song name", 64, 82);
    Z2PComboName = combo(TabSheet1, "Z2PComboName", 160, 80);
    Z2PInfo = label(TabSheet1, "Z2PInfo", "Song Info", 64, 122);
    FSLabel = label(TabSheet1, "FSLabel", "Sampling Freq", 160, 120);
    FSinfo = label(TabSheet1, "FSinfo", "FS Info", 280, 120);
    BITLabel = label(TabSheet1, "BITLabel", "BIT", 160, 144);
    BITinfo = label(TabSheet1, "BITinfo", "BIT Info", 280, 144);
    Z2PGrpTrack = trackGroup(TabSheet1, "Z2PGrpTrack", "Z2PTr", Z2PTr);
    setTabOrder(Z2PBtnConv, Z2PComboDrive);
    setTabOrder(Z2PComboDrive, Z2PComboName);
    setTabOrder(Z2PComboName, Z2PTr[0]);

    // "PC To ZT-6"
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName("TabSheet2");
    PageControl1->addTab(TabSheet2, QStringLiteral("PC To ZT-6"));
    P2ZBtnConv = button(TabSheet2, "P2ZBtnConv", "Export", 240, 288, 81, 33);
    P2ZDrive = label(TabSheet2, "P2ZDrive", "ZT-6 Drive", 200, 184);
    P2ZComboDrive = combo(TabSheet2, "P2ZComboDrive", 200, 200);
    P2ZName = label(TabSheet2, "P2ZName", "Song name", 200, 232);
    P2ZComboName = combo(TabSheet2, "P2ZComboName", 200, 248);
    P2ZGrpTrack = trackGroup(TabSheet2, "P2ZGrpTrack", "P2ZTr", P2ZTr);
    for (QCheckBox* c : P2ZTr)
        c->setEnabled(false);
    ListView = new QTreeWidget(TabSheet2);
    ListView->setObjectName("ListView");
    ListView->setGeometry(0, 0, 361, 161);
    ListView->setRootIsDecorated(false);
    ListView->setColumnCount(5);
    ListView->setHeaderLabels({"Name", "FS", "BIT", "CH", "SIZE"});
    ListView->header()->setMinimumSectionSize(10);
    ListView->header()->setMaximumSectionSize(200);
    ListView->header()->setStretchLastSection(false);
    const int widths[5] = {130, 60, 40, 50, 70};
    for (int i = 0; i < 5; ++i) {
        ListView->setColumnWidth(i, widths[i]);
        ListView->headerItem()->setTextAlignment(i, (i == 0 ? Qt::AlignLeft : Qt::AlignRight) |
                                                        Qt::AlignVCenter);
    }
    ListView->setSortingEnabled(true);
    ListView->sortByColumn(0, Qt::AscendingOrder);
    setTabOrder(P2ZBtnConv, P2ZComboDrive);
    setTabOrder(P2ZComboDrive, P2ZComboName);
    setTabOrder(P2ZComboName, P2ZTr[0]);
    setTabOrder(P2ZTr[7], ListView);

    // "test": a check page whose tab is hidden.
    TabSheet3 = new QWidget;
    TabSheet3->setObjectName("TabSheet3");
    PageControl1->addTab(TabSheet3, QStringLiteral("test"));
    GroupBox1 = new QGroupBox(QStringLiteral("Check"), TabSheet3);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(8, 8, 281, 113);
    z2p_in = new QLineEdit(QStringLiteral("00:00:00.00/0000"), GroupBox1);
    z2p_in->setObjectName("z2p_in");
    z2p_in->setGeometry(16, 26, 145, 23);
    p2z_in = new QLineEdit(GroupBox1);
    p2z_in->setObjectName("p2z_in");
    p2z_in->setGeometry(16, 66, 145, 23);
    z2p = button(GroupBox1, "z2p", "z2p", 190, 24, 75, 25);
    p2z = button(GroupBox1, "p2z", "p2z", 190, 64, 75, 25);
    Label1 = label(TabSheet3, "Label1", "LOG", 16, 128);
    Memo1 = new QPlainTextEdit(TabSheet3);
    Memo1->setObjectName("Memo1");
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setFont(
        QFont(QString::fromUtf8("\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE3\x82\xB4"
                                "\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF"))); // "ＭＳ Ｐゴシック"
    Memo1->setGeometry(0, 0, 361, 195);
    TabSheet2->installEventFilter(this);
    TabSheet3->installEventFilter(this);

    setTabOrder(TreeView, PageControl1);
    PageControl1->setCurrentIndex(0);

    // A choice of the user fires a select handler; an index set from code does not.
    connect(Z2PComboDrive, &QComboBox::activated, this,
            [this](int) { Guarded([this] { Z2PComboDriveSelect(); }); });
    connect(P2ZComboDrive, &QComboBox::activated, this,
            [this](int) { Guarded([this] { P2ZComboDriveSelect(); }); });
    connect(Z2PComboName, &QComboBox::activated, this,
            [this](int) { Guarded([this] { Z2PComboNameSelect(); }); });
    connect(P2ZComboName, &QComboBox::activated, this,
            [this](int) { Guarded([this] { P2ZComboNameSelect(); }); });
    connect(Z2PBtnConv, &QPushButton::clicked, this,
            [this] { Guarded([this] { Z2PBtnConvClick(); }); });
    connect(P2ZBtnConv, &QPushButton::clicked, this,
            [this] { Guarded([this] { P2ZBtnConvClick(); }); });
    connect(z2p, &QPushButton::clicked, this, [this] { Guarded([this] { z2pClick(); }); });
    connect(p2z, &QPushButton::clicked, this, [this] { Guarded([this] { p2zClick(); }); });
    connect(PageControl1, &QTabWidget::currentChanged, this,
            [this](int) { Guarded([this] { PageControl1Change(); }); });
    connect(TreeView, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
                if (current)
                    Guarded([this, current] { TreeViewChange(current); });
            });
    connect(TreeView, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* node) { Guarded([this, node] { TreeViewExpanding(node); }); });
}

bool TMAIN_FORM::eventFilter(QObject* watched, QEvent* event) {
    // The list view is aligned to the top of its page, the memo to the bottom of its own.
    if (event->type() == QEvent::Resize) {
        if (watched == TabSheet2)
            ListView->setGeometry(0, 0, TabSheet2->width(), 161);
        else if (watched == TabSheet3)
            Memo1->setGeometry(0, TabSheet3->height() - 195, TabSheet3->width(), 195);
    }
    return QWidget::eventFilter(watched, event);
}

void TMAIN_FORM::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("");
    }
}

void TMAIN_FORM::ShowException(const std::string& text) {
    messages_.Message(text);
}

// --- Start, paint, tabs, buttons -------------------------------------------------------------

void TMAIN_FORM::FormCreate() {
    Sel.DestFolder = platform::ProgramFolder();
    Sel.DriveRoot = FindDeviceDrive();
    if (Sel.DriveRoot == "0") {
        FSinfo->setText(QString());
        BITinfo->setText(QString());
        SetTransferEnabled(false);
    } else {
        SetTransferEnabled(true);
    }
    ListImage.append(IconProvider().icon(QFileInfo(QStringLiteral("track.wav"))));
    const QIcon folder = IconProvider().icon(QFileIconProvider::Folder);
    HasFolderIcon = !folder.isNull();
    if (HasFolderIcon)
        TreeImage.append(folder);
    BuildFolderTree();
    if (Sel.DriveRoot != "0" && Z2PComboDrive->count() > 0) {
        SelectFolder(Sel.DestFolder);
        Z2PComboDrive->setCurrentIndex(0);
        P2ZComboDrive->setCurrentIndex(0);
        LoadSongList(S(Z2PComboDrive->itemText(0)));
    }
}

void TMAIN_FORM::paintEvent(QPaintEvent*) {
    Guarded([this] { FormPaint(); });
}

void TMAIN_FORM::FormPaint() {
    if (!TransferStarted)
        return;
    if (PageControl1->currentWidget() == TabSheet1)
        Z2PComboName->setFocus();
    else if (PageControl1->currentWidget() == TabSheet2)
        P2ZComboName->setFocus();
}

void TMAIN_FORM::PageControl1Change() {
    if (QTreeWidgetItem* node = TreeView->currentItem())
        TreeViewChange(node);
}

void TMAIN_FORM::PrepareTransfer(QComboBox* driveCombo) {
    CreateWaveForm();
    TransferStarted = true;
    Sel.DriveRoot = S(driveCombo->currentText());
    Sel.DestFolder = NodePath(TreeView->currentItem());
    WAVE_FORM->SetMin(0);
    WAVE_FORM->SetPosition(WAVE_FORM->Min());
    WAVE_FORM->SetMax(WAVE_FORM->Min());
    for (std::size_t i = 0; i < 8; ++i) {
        Sel.ImportTicked[i] = Z2PTr[i]->isChecked();
        Sel.ExportTicked[i] = P2ZTr[i]->isChecked();
    }
}

void TMAIN_FORM::LockForTransfer(bool locked) {
    TreeView->setEnabled(!locked);
    PageControl1->setEnabled(!locked);
}

void TMAIN_FORM::Z2PBtnConvClick() {
    PrepareTransfer(Z2PComboDrive);
    bool done = false;
    try {
        LockForTransfer(true);
        AtExit unlock([this] { LockForTransfer(false); });
        done = ImportJob->RunImport();
    } catch (...) {
        WAVE_FORM->CloseProgress();
        throw;
    }
    if (done)
        messages_.Message("Complete!");
    WAVE_FORM->CloseProgress();
}

void TMAIN_FORM::P2ZBtnConvClick() {
    PrepareTransfer(P2ZComboDrive);
    LockForTransfer(true);
    // The run re-enables the import controls through the selection: show them whatever happens.
    AtExit unlock([this] {
        LockForTransfer(false);
        SetTransferEnabled(Sel.TransferEnabled);
    });
    // Cancel stays disabled for the whole run: an export can't be cancelled.
    RunExportFromButton(*ExportJob, *WAVE_FORM, [this] { messages_.Message("Complete!"); });
}

void TMAIN_FORM::z2pClick() {
    const SampleCount samples = TTC2W().TcToSamples(S(z2p_in->text()));
    p2z_in->setText(QString::number(static_cast<std::int32_t>(SamplesToBytes(samples))));
}

void TMAIN_FORM::p2zClick() {
    const int position = StrToInt(S(p2z_in->text()));
    z2p_in->setText(Q(TTC2W().SamplesToTc(static_cast<SampleCount>(position), 44100, 25, false)));
}

// --- Drive and song selection ----------------------------------------------------------------

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

// --- Folder tree and WAV list ----------------------------------------------------------------

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

int TMAIN_FORM::AddShellIcon(const std::string&, bool drive) {
    TreeImage.append(
        IconProvider().icon(drive ? QFileIconProvider::Drive : QFileIconProvider::Folder));
    return static_cast<int>(TreeImage.size()) - 1;
}

void TMAIN_FORM::AddDriveNodes(QTreeWidgetItem* root) {
    {
        platform::ErrorModeGuard quiet;
        for (const std::string& rootPath : platform::LogicalDriveStrings()) {
            std::string text;
            for (char c : rootPath)
                if (c != '\\')
                    text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            auto* node = new TTreeNode(root, QStringList{Q(text)});
            const int image = AddShellIcon(rootPath, true);
            node->setData(0, kImageRole, image);
            node->setData(0, kSelectedImageRole, image);
            RefreshNodeIcon(node);
            node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
            if (platform::IsDeviceDrive(rootPath))
                AddDriveEntry(Q(text), image);
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
    const std::string text = S(node->text(0));
    if (text.empty() || text == "MyComputers")
        return {};
    std::vector<std::string> parts;
    if (Level(node) > 1) {
        for (const QTreeWidgetItem* p = node->parent(); p && p->parent(); p = p->parent())
            parts.push_back(S(p->text(0)) + "\\");
    }
    std::string path;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it)
        path += *it;
    return path + text;
}

bool TMAIN_FORM::AddFolderNodes(QTreeWidgetItem* node, const std::string& path) {
    bool added = false;
    for (const platform::DirEntry& e : platform::ListDirectory(path + "\\*.*")) {
        if (IsDotEntry(e.name) || !(e.attributes & platform::AttrDirectory) ||
            (e.attributes & platform::AttrHidden))
            continue;
        auto* child = new TTreeNode(node, QStringList{Q(e.name)});
        const int image = AddShellIcon(path + "\\" + e.name + "\\");
        child->setData(0, kImageRole, image);
        child->setData(0, kSelectedImageRole, image);
        RefreshNodeIcon(child);
        child->setChildIndicatorPolicy(HasSubfolder(path + "\\" + e.name)
                                           ? QTreeWidgetItem::ShowIndicator
                                           : QTreeWidgetItem::DontShowIndicator);
        added = true;
    }
    if (!added)
        node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    SortTree();
    return true;
}

bool TMAIN_FORM::HasSubfolder(const std::string& path) {
    for (const platform::DirEntry& e : platform::ListDirectory(path + "\\*.*"))
        if (!IsDotEntry(e.name) && (e.attributes & platform::AttrDirectory))
            return true;
    return false;
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
        if (!platform::DirectoryExists(path + "\\" + S(node->child(i)->text(0))))
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
    while (current) {
        const std::size_t slash = rest.find('\\');
        const std::string component = rest.substr(0, slash);
        rest.erase(0, slash + 1);

        QTreeWidgetItem* parent = current->parent();
        QTreeWidgetItem* found = nullptr;
        for (int i = parent->indexOfChild(current); i < parent->childCount(); ++i) {
            if (SameIgnoringCase(S(parent->child(i)->text(0)), component)) {
                found = parent->child(i);
                break;
            }
        }
        if (!found)
            return;
        if (!component.empty()) {
            found->setExpanded(true);
            if (!rest.empty())
                current = NextInTree(found);
        }
        if (rest.empty()) {
            TreeView->setCurrentItem(found);
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
            for (int i = 0; i < 5; ++i) {
                row->setText(i, Q(texts[static_cast<std::size_t>(i)]));
                if (i > 0)
                    row->setTextAlignment(i, Qt::AlignRight | Qt::AlignVCenter);
            }
            row->setIcon(0, icon);
            ListView->addTopLevelItem(row);
        }
    }
    UpdateExportTracks(Sel, path);
    for (std::size_t i = 0; i < 8; ++i)
        P2ZTr[i]->setEnabled(Sel.ExportEnabled[i]);
}

} // namespace th
