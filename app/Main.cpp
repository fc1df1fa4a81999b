// The main window: widgets, start, paint, tabs, the transfer buttons and the check page.
#include "app/Main.h"

#include "app/ExportAsTrack.h"
#include "app/MainHelpers.h"
#include "app/SongMapWindow.h"
#include "app/StartFolder.h"
#include "platform/Platform.h"
#include "song/Errors.h"
#include "song/Tc2w.h"
#include "transfer/WaveFile.h"

#include "Version.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#ifdef TRACKHAUL_SVG_ICON
#include <QSvgRenderer>
#endif
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace th {

namespace {

// The window's size as designed; it may grow from here, never shrink.
constexpr int kWidth = 607;
constexpr int kHeight = 383;

// Where the window keeps what it brings back at the next launch.
QSettings Settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Trackhaul"),
                     QStringLiteral("trackhaul"));
}

QString Ticks(const std::array<QCheckBox*, 8>& boxes) {
    QString ticks;
    for (const QCheckBox* c : boxes)
        ticks += c->isChecked() ? QLatin1Char('1') : QLatin1Char('0');
    return ticks;
}

void SetTicks(const std::array<QCheckBox*, 8>& boxes, const QString& ticks) {
    if (ticks.size() != 8)
        return;
    for (std::size_t i = 0; i < 8; ++i)
        boxes[i]->setChecked(ticks[static_cast<qsizetype>(i)] == QLatin1Char('1'));
}

} // namespace

QIcon ProgramIcon() {
#ifndef TRACKHAUL_SVG_ICON
    // Without Qt SVG: the pictures rendered from the drawing, scaled for the other sizes.
    QIcon icon;
    for (const char* size : {"48", "256"})
        icon.addFile(
            QStringLiteral(":/icons/org.trackhaul.Trackhaul-%1.png").arg(QLatin1String(size)));
    return icon;
#else
    // Rendered here rather than left to an icon plug-in, so the icon shows wherever Qt runs.
    QSvgRenderer svg(QStringLiteral(":/icons/org.trackhaul.Trackhaul.svg"));
    QIcon icon;
    if (!svg.isValid())
        return icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        svg.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
#endif
}

bool TTreeNode::operator<(const QTreeWidgetItem& other) const {
    const QString a = text(0);
    const QString b = other.text(0);
    const int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

TMAIN_FORM::TMAIN_FORM(UserMessages& messages, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      messages_(messages) {
    BuildWidgets();
    InstallSongMap(*this);
    InstallExportAsTrack(*this);

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
    // Nothing shows the check page: its tab is hidden and disabled, so Ctrl+Tab, the arrow
    // keys and the mouse wheel pass it by. Its own widgets stay enabled.
    const int checkPage = PageControl1->indexOf(TabSheet3);
    PageControl1->setTabVisible(checkPage, false);
    PageControl1->setTabEnabled(checkPage, false);
    TabSheet3->setEnabled(true);

    Watcher = new QFileSystemWatcher(this);
    WatchTimer = new QTimer(this);
    WatchTimer->setObjectName("WatchTimer");
    WatchTimer->setSingleShot(true);
    WatchTimer->setInterval(kWatchDelay);
    connect(Watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString& path) {
        changedPaths_.insert(path);
        WatchTimer->start();
    });
    connect(WatchTimer, &QTimer::timeout, this, [this] { Guarded([this] { FollowChanges(); }); });

    Guarded([this] { FormCreate(); });

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    Guarded([this] { RestoreSettings(); });
    ShowNoCard();
    WatchPaths();

    DriveTimer = new QTimer(this);
    DriveTimer->setObjectName("DriveTimer");
    DriveTimer->setInterval(1000);
    connect(DriveTimer, &QTimer::timeout, this, [this] { Guarded([this] { PollDrives(); }); });
    DriveTimer->start();
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
        // A file in another format than the song's is converted when the user says Yes.
        ExportJob->Convert = TExportJob::ConvertMode::Ask;
    }
    return WAVE_FORM;
}

void TMAIN_FORM::BuildWidgets() {
    setObjectName("MAIN_FORM");
    setWindowTitle(QStringLiteral("Trackhaul -Version %1-").arg(QLatin1String(kVersion)));
    setWindowIcon(ProgramIcon());
    resize(kWidth, kHeight);
    setMinimumSize(kWidth, kHeight);
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
        auto* g = new QGroupBox(QStringLiteral("Select &Track"), parent);
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
    Z2PBtnConv = button(TabSheet1, "Z2PBtnConv", "&Import", 240, 288, 81, 33);
    Z2PDrive = label(TabSheet1, "Z2PDrive", "ZT-6 &Drive", 64, 48);
    Z2PComboDrive = combo(TabSheet1, "Z2PComboDrive", 160, 48);
    Z2PDrive->setBuddy(Z2PComboDrive);
    Z2PName = label(TabSheet1, "Z2PName", "&Song name", 64, 82);
    Z2PComboName = combo(TabSheet1, "Z2PComboName", 160, 80);
    Z2PName->setBuddy(Z2PComboName);
    Z2PInfo = label(TabSheet1, "Z2PInfo", "Song Info", 64, 122);
    FSLabel = label(TabSheet1, "FSLabel", "Sampling Freq", 160, 120);
    FSinfo = label(TabSheet1, "FSinfo", "FS Info", 280, 120);
    BITLabel = label(TabSheet1, "BITLabel", "BIT", 160, 144);
    BITinfo = label(TabSheet1, "BITinfo", "BIT Info", 280, 144);
    Z2PGrpTrack = trackGroup(TabSheet1, "Z2PGrpTrack", "Z2PTr", Z2PTr);
    NoCardLabel = new QLabel(
        QStringLiteral("No recorder card found. Insert the card, or start with --drive."),
        TabSheet1);
    NoCardLabel->setObjectName("NoCardLabel");
    NoCardLabel->setWordWrap(true);
    NoCardLabel->setGeometry(8, 8, 345, 34);
    NoCardLabel->hide();
    // The form from top to bottom: drive, song, tracks, then the button.
    auto chain = [this](std::vector<QWidget*> order) {
        for (std::size_t i = 1; i < order.size(); ++i)
            setTabOrder(order[i - 1], order[i]);
    };
    // The group stands before its boxes, so that its Alt letter gives the first one the focus.
    chain({Z2PComboDrive, Z2PComboName, Z2PGrpTrack, Z2PTr[0], Z2PTr[1], Z2PTr[2], Z2PTr[3],
           Z2PTr[4], Z2PTr[5], Z2PTr[6], Z2PTr[7], Z2PBtnConv});

    // "PC To ZT-6"
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName("TabSheet2");
    PageControl1->addTab(TabSheet2, QStringLiteral("PC To ZT-6"));
    P2ZBtnConv = button(TabSheet2, "P2ZBtnConv", "&Export", 240, 288, 81, 33);
    P2ZDrive = label(TabSheet2, "P2ZDrive", "ZT-6 &Drive", 200, 184);
    P2ZComboDrive = combo(TabSheet2, "P2ZComboDrive", 200, 200);
    P2ZDrive->setBuddy(P2ZComboDrive);
    P2ZName = label(TabSheet2, "P2ZName", "&Song name", 200, 232);
    P2ZComboName = combo(TabSheet2, "P2ZComboName", 200, 248);
    P2ZName->setBuddy(P2ZComboName);
    P2ZGrpTrack = trackGroup(TabSheet2, "P2ZGrpTrack", "P2ZTr", P2ZTr);
    for (QCheckBox* c : P2ZTr)
        c->setEnabled(false);
    ListView = new QTreeWidget(TabSheet2);
    ListView->setObjectName("ListView");
    ListView->setGeometry(0, 0, 361, 161);
    ListView->setRootIsDecorated(false);
    ListView->setColumnCount(6);
    ListView->setHeaderLabels({"Name", "FS", "BIT", "CH", "SIZE", "FORMAT"});
    ListView->header()->setMinimumSectionSize(10);
    ListView->header()->setMaximumSectionSize(200);
    ListView->header()->setStretchLastSection(false);
    const int widths[6] = {130, 60, 40, 50, 70, 60};
    for (int i = 0; i < 6; ++i) {
        ListView->setColumnWidth(i, widths[i]);
        ListView->headerItem()->setTextAlignment(i, (i == 0 ? Qt::AlignLeft : Qt::AlignRight) |
                                                        Qt::AlignVCenter);
    }
    // The rows are kept sorted by name (TreeViewChange); the header only names the columns.
    ListView->header()->setSectionsClickable(false);
    ListView->header()->setSortIndicatorShown(false);
    // The list first, as the tree comes first in the window; then the form from the top.
    chain({ListView, P2ZComboDrive, P2ZComboName, P2ZGrpTrack, P2ZTr[0], P2ZTr[1], P2ZTr[2],
           P2ZTr[3], P2ZTr[4], P2ZTr[5], P2ZTr[6], P2ZTr[7], P2ZBtnConv});
    for (QWidget* w : std::initializer_list<QWidget*>{P2ZGrpTrack, P2ZDrive, P2ZComboDrive, P2ZName,
                                                      P2ZComboName, P2ZBtnConv})
        belowList_.emplace_back(w, w->geometry());

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
    TreeView->installEventFilter(this);
    ShowTreeFocus(false);

    const struct {
        QKeySequence keys;
        int step;
    } tabKeys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
        {QKeySequence(Qt::CTRL | Qt::Key_Backtab), -1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1},
    };
    for (const auto& k : tabKeys) {
        auto* shortcut = new QShortcut(k.keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        const int step = k.step;
        connect(shortcut, &QShortcut::activated, this, [this, step] { StepTab(step); });
    }

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
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int index) {
        // Should anything still reach the check page, the tab shown before comes back.
        if (PageControl1->widget(index) == TabSheet3) {
            PageControl1->setCurrentIndex(shownTab_);
            return;
        }
        shownTab_ = index;
        Guarded([this] { PageControl1Change(); });
    });
    connect(TreeView, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
                if (current)
                    Guarded([this, current] { TreeViewChange(current); });
                WatchPaths();
            });
    connect(TreeView, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* node) {
        Guarded([this, node] { TreeViewExpanding(node); });
        WatchPaths();
    });
    connect(TreeView, &QTreeWidget::itemCollapsed, this, [this] { WatchPaths(); });
}

void TMAIN_FORM::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOut();
}

void TMAIN_FORM::LayOut() {
    const int wider = std::max(0, width() - kWidth);
    extraHeight_ = std::max(0, height() - kHeight);
    const int treeWider = wider / 2;
    TreeView->setGeometry(0, 0, 225 + treeWider, kHeight + extraHeight_);
    PageControl1->setGeometry(232 + treeWider, 8, 369 + wider - treeWider, 369 + extraHeight_);
}

void TMAIN_FORM::StepTab(int step) {
    if (!PageControl1->isEnabled())
        return;
    // Only the tabs the user sees; the check page is never reached.
    std::vector<int> shown;
    for (int i = 0; i < PageControl1->count(); ++i)
        if (PageControl1->isTabVisible(i) && PageControl1->isTabEnabled(i))
            shown.push_back(i);
    if (shown.size() < 2)
        return;
    const auto at = std::find(shown.begin(), shown.end(), PageControl1->currentIndex());
    const int n = static_cast<int>(shown.size());
    const int from = at == shown.end() ? 0 : static_cast<int>(at - shown.begin());
    PageControl1->setCurrentIndex(shown[static_cast<std::size_t>(((from + step) % n + n) % n)]);
}

void TMAIN_FORM::ShowTreeFocus(bool focused) {
    // Unfocused, the current folder is drawn in a quiet colour, as the system's own lists do,
    // so that the strong highlight shows where the keys go.
    const QPalette base = palette();
    QPalette p = TreeView->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Highlight,
                   focused ? base.color(QPalette::Active, QPalette::Highlight)
                           : base.color(QPalette::Active, QPalette::Mid));
        p.setColor(group, QPalette::HighlightedText,
                   focused ? base.color(QPalette::Active, QPalette::HighlightedText)
                           : base.color(QPalette::Active, QPalette::WindowText));
    }
    TreeView->setPalette(p);
}

void TMAIN_FORM::ShowNoCard() {
    NoCardLabel->setVisible(Z2PComboDrive->count() == 0);
}

bool TMAIN_FORM::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    switch (event->type()) {
    case QEvent::Show:
        if (QWindow* window = windowHandle())
            window->installEventFilter(this); // its expose events
        break;
    case QEvent::WindowStateChange:
        if ((static_cast<QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowMinimized) &&
            !(windowState() & Qt::WindowMinimized))
            Guarded([this] { FormPaint(); });
        break;
    default:
        break;
    }
    return handled;
}

bool TMAIN_FORM::eventFilter(QObject* watched, QEvent* event) {
    // The window comes back on screen (uncovered, restored, back on its desktop).
    if (watched == windowHandle() && event->type() == QEvent::Expose) {
        const bool exposed = windowHandle()->isExposed();
        if (exposed && !wasExposed_)
            Guarded([this] { FormPaint(); });
        wasExposed_ = exposed;
    }
    if (watched == TreeView &&
        (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        ShowTreeFocus(event->type() == QEvent::FocusIn);
    // The list view is aligned to the top of its page and takes the height the window gained;
    // the widgets under it keep their distance to the bottom. The memo is aligned to the
    // bottom of its own page.
    if (event->type() == QEvent::Resize) {
        if (watched == TabSheet2) {
            ListView->setGeometry(0, 0, TabSheet2->width(), 161 + extraHeight_);
            for (const auto& [w, place] : belowList_)
                w->move(place.x(), place.y() + extraHeight_);
        } else if (watched == TabSheet3)
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
    Sel.DestFolder = StartFolder();
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

void TMAIN_FORM::FormPaint() {
    // Runs when the window itself is shown again (restored, uncovered, activated), never on
    // the repaint of a control: that would take the focus from the control being used.
    if (!TransferStarted)
        return;
    if (PageControl1->currentWidget() == TabSheet1)
        Z2PComboName->setFocus();
    else if (PageControl1->currentWidget() == TabSheet2)
        P2ZComboName->setFocus();
}

void TMAIN_FORM::closeEvent(QCloseEvent* event) {
    if (running_ == Transfer::None) {
        SaveSettings();
        QWidget::closeEvent(event);
        return;
    }
    // The window closes once the transfer is over. An import stops as at its Cancel button
    // and asks and says nothing more; an export, which can't be cancelled, runs to its end.
    closeRequested_ = true;
    if (running_ == Transfer::Import && WAVE_FORM) {
        WAVE_FORM->BTN_CancelClick();
        WAVE_FORM->Quiet = true;
    }
    event->ignore();
}

void TMAIN_FORM::PageControl1Change() {
    if (QTreeWidgetItem* node = TreeView->currentItem())
        TreeViewChange(node);
}

bool TMAIN_FORM::PrepareTransfer(QComboBox* driveCombo) {
    CreateWaveForm();
    TransferStarted = true;
    // Without a folder the import would write into the file system's root.
    const std::string folder = NodePath(TreeView->currentItem());
    if (folder.empty()) {
        messages_.Message("Select a folder!");
        return false;
    }
    Sel.DriveRoot = S(driveCombo->currentText());
    Sel.DestFolder = folder;
    WAVE_FORM->SetMin(0);
    WAVE_FORM->SetPosition(WAVE_FORM->Min());
    WAVE_FORM->SetMax(WAVE_FORM->Min());
    // Nothing of the run before shows when the dialog comes up.
    WAVE_FORM->SetLabel(std::string());
    for (std::size_t i = 0; i < 8; ++i) {
        Sel.ImportTicked[i] = Z2PTr[i]->isChecked();
        Sel.ExportTicked[i] = P2ZTr[i]->isChecked();
    }
    return true;
}

void TMAIN_FORM::LockForTransfer(bool locked) {
    TreeView->setEnabled(!locked);
    PageControl1->setEnabled(!locked);
}

void TMAIN_FORM::RunTransfer(Transfer kind, const std::function<void()>& work) {
    running_ = kind;
    closeRequested_ = false;
    WAVE_FORM->Quiet = false;
    DriveTimer->stop();
    // Locking moves the focus away; it comes back to the control that had it, so keys typed
    // after the last message go where they went before.
    const QPointer<QWidget> focus = focusWidget();
    LockForTransfer(true);
    {
        AtExit over([this, focus] {
            LockForTransfer(false);
            running_ = Transfer::None;
            DriveTimer->start();
            if (focus && focus->isEnabled() && focus->isVisible()) {
                // The progress dialog had the keys; they come back to this window.
                if (isVisible())
                    activateWindow();
                focus->setFocus(Qt::OtherFocusReason);
            }
        });
        work();
    }
    if (closeRequested_) {
        close();
        return;
    }
    if (changesWaited_) {
        changesWaited_ = false;
        WatchTimer->start();
    }
}

void TMAIN_FORM::Z2PBtnConvClick() {
    if (!PrepareTransfer(Z2PComboDrive))
        return;
    RunTransfer(Transfer::Import, [this] {
        bool done = false;
        WAVE_FORM->SetCancelEnabled(true);
        try {
            done = ImportJob->RunImport();
        } catch (...) {
            WAVE_FORM->SetCancelEnabled(false);
            WAVE_FORM->CloseProgress();
            throw;
        }
        // The run is over: nothing is left to cancel while its last message shows.
        WAVE_FORM->SetCancelEnabled(false);
        if (done && !closeRequested_)
            messages_.MessageWithNotes("Complete!", ImportJob->Warnings);
        WAVE_FORM->CloseProgress();
    });
}

void TMAIN_FORM::P2ZBtnConvClick() {
    if (!PrepareTransfer(P2ZComboDrive))
        return;
    RunTransfer(Transfer::Export, [this] {
        // The run re-enables the import controls through the selection: show them whatever
        // happens.
        AtExit show([this] { SetTransferEnabled(Sel.TransferEnabled); });
        // Cancel stays disabled for the whole run: an export can't be cancelled.
        RunExportFromButton(*ExportJob, *WAVE_FORM, [this] {
            // Input since the dialog's last paint reaches the still locked window now: clicks go
            // nowhere, a close of the window is taken note of.
            QCoreApplication::processEvents();
            if (!closeRequested_)
                messages_.Message("Complete!");
        });
        WAVE_FORM->SetCancelEnabled(false);
    });
}

// --- Settings ------------------------------------------------------------------------------

void TMAIN_FORM::SaveSettings() const {
    QSettings settings = Settings();
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    const std::string drive = S(Z2PComboDrive->currentText());
    settings.setValue(QStringLiteral("card/drive"), Q(drive));
    // Letters are handed out afresh at every launch; the folder behind one is what stays.
    settings.setValue(QStringLiteral("card/folder"),
                      drive.empty() ? QString() : Q(platform::DriveNativeRoot(drive)));
    settings.setValue(QStringLiteral("card/song"), Z2PComboName->currentText());
    settings.setValue(QStringLiteral("import/tracks"), Ticks(Z2PTr));
    settings.setValue(QStringLiteral("export/tracks"), Ticks(P2ZTr));
    const std::string folder = NodePath(TreeView->currentItem());
    settings.setValue(QStringLiteral("folder/last"),
                      folder.empty() ? QString() : Q(platform::NativePath(folder)));
}

bool TMAIN_FORM::RestoreSettings() {
    QSettings settings = Settings();
    if (!settings.contains(QStringLiteral("window/geometry")))
        return false;
    restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray());
    SetTicks(Z2PTr, settings.value(QStringLiteral("import/tracks")).toString());
    SetTicks(P2ZTr, settings.value(QStringLiteral("export/tracks")).toString());

    // The card by its folder, else by its letter.
    const QString folder = settings.value(QStringLiteral("card/folder")).toString();
    const QString letter = settings.value(QStringLiteral("card/drive")).toString();
    int drive = -1;
    for (int i = 0; i < Z2PComboDrive->count() && drive < 0; ++i)
        if (!folder.isEmpty() &&
            Q(platform::DriveNativeRoot(S(Z2PComboDrive->itemText(i)))) == folder)
            drive = i;
    if (drive < 0)
        drive = letter.isEmpty() ? -1 : Z2PComboDrive->findText(letter);
    if (drive >= 0 && drive != Z2PComboDrive->currentIndex()) {
        Z2PComboDrive->setCurrentIndex(drive);
        Z2PComboDriveSelect();
    }
    const int song = Z2PComboName->findText(settings.value(QStringLiteral("card/song")).toString());
    if (drive >= 0 && song >= 0 && song != Z2PComboName->currentIndex()) {
        Z2PComboName->setCurrentIndex(song);
        Z2PComboNameSelect();
    }

    // The folder, where it still is, as the start folder is chosen: only with a card.
    const QString last = settings.value(QStringLiteral("folder/last")).toString();
    const std::string lastFolder = last.isEmpty() ? std::string() : platform::ToDrivePath(S(last));
    if (Sel.DriveRoot != "0" && !lastFolder.empty() && platform::DirectoryExists(lastFolder)) {
        Sel.DestFolder = lastFolder;
        SelectFolder(lastFolder);
    }
    return true;
}

void TMAIN_FORM::z2pClick() {
    const SampleCount samples = TTC2W().TcToSamples(S(z2p_in->text()));
    p2z_in->setText(QString::number(static_cast<std::int32_t>(SamplesToBytes(samples))));
}

void TMAIN_FORM::p2zClick() {
    const int position = StrToInt(S(p2z_in->text()));
    z2p_in->setText(Q(TTC2W().SamplesToTc(static_cast<SampleCount>(position), 44100, 25, false)));
}

} // namespace th
