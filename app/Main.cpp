// The main window: widgets, start, paint, tabs, the transfer buttons and the check page.
#include "app/Main.h"

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
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
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
                          Qt::WindowCloseButtonHint),
      messages_(messages) {
    BuildWidgets();
    InstallSongMap(*this);

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

    Guarded([this] { FormCreate(); });

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

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
    }
    return WAVE_FORM;
}

void TMAIN_FORM::BuildWidgets() {
    setObjectName("MAIN_FORM");
    setWindowTitle(QStringLiteral("Trackhaul -Version %1-").arg(QLatin1String(kVersion)));
    setWindowIcon(ProgramIcon());
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
    // The rows are kept sorted by name (TreeViewChange); the header only names the columns.
    ListView->header()->setSectionsClickable(false);
    ListView->header()->setSortIndicatorShown(false);
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
            });
    connect(TreeView, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* node) { Guarded([this, node] { TreeViewExpanding(node); }); });
}

bool TMAIN_FORM::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    switch (event->type()) {
    case QEvent::Show:
        if (QWindow* window = windowHandle())
            window->installEventFilter(this); // its expose events
        break;
    case QEvent::WindowActivate:
        Guarded([this] { FormPaint(); });
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
    LockForTransfer(true);
    {
        AtExit over([this] {
            LockForTransfer(false);
            running_ = Transfer::None;
            DriveTimer->start();
        });
        work();
    }
    if (closeRequested_)
        close();
}

void TMAIN_FORM::Z2PBtnConvClick() {
    if (!PrepareTransfer(Z2PComboDrive))
        return;
    RunTransfer(Transfer::Import, [this] {
        bool done = false;
        try {
            done = ImportJob->RunImport();
        } catch (...) {
            WAVE_FORM->CloseProgress();
            throw;
        }
        if (done && !closeRequested_)
            messages_.Message("Complete!");
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
            // Input held back during the copy reaches the still locked window now: clicks go
            // nowhere, a close of the window is taken note of.
            QCoreApplication::processEvents();
            if (!closeRequested_)
                messages_.Message("Complete!");
        });
    });
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
