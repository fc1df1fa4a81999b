// The window on the real widgets, without a screen: selection, folder tree, WAV list,
// transfers from the buttons, the progress dialog and the check page.
#include "app/Application.h"
#include "app/Main.h"
#include "support/TestSupport.h"

#include "platform/Platform.h"
#include "transfer/DemoCard.h"
#include "transfer/P2z.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWheelEvent>

#ifdef TRACKHAUL_HAVE_XCB
#include <QGuiApplication>
#include <xcb/xcb.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <tuple>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// Answers questions from a queue (OK when empty) and records every text.
class FakeMessages : public th::UserMessages {
public:
    std::vector<std::string> questions;
    std::vector<std::string> messages;
    std::vector<std::string> details; // the file and reason shown under a failure's message
    std::deque<bool> answers;
    std::deque<th::TransferUi::Answer> choices; // Yes/No/Cancel questions; No when empty
    std::function<void(const std::string&)> onAsk;

    bool Ask(const std::string& text) override {
        questions.push_back(text);
        if (onAsk)
            onAsk(text);
        if (answers.empty())
            return true;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    th::TransferUi::Answer AskYesNoCancel(const std::string& text) override {
        questions.push_back(text);
        if (choices.empty())
            return th::TransferUi::Answer::No;
        const th::TransferUi::Answer a = choices.front();
        choices.pop_front();
        return a;
    }
    void Message(const std::string& text) override { messages.push_back(text); }
    void Report(const std::string& text, const th::Failure& why) override {
        if (!text.empty())
            messages.push_back(text);
        details.push_back(th::FailureText(why));
    }
};

std::map<std::string, std::string> Snap(const fs::path& root) {
    std::map<std::string, std::string> s;
    for (const auto& e : fs::recursive_directory_iterator(root))
        s[fs::relative(e.path(), root).string()] =
            e.is_regular_file() ? ReadFile(e.path()) : std::string("<dir>");
    return s;
}

const std::string kTc25 = "00.00.00.00|0000";

std::string Drive(const fs::path& p) {
    return platform::ToDrivePath(p.string());
}

// The tests' own home (set up in main): its music folder is where a first launch starts.
fs::path MusicFolder() {
    return fs::path(qgetenv("HOME").toStdString()) / "Music";
}

void ForgetSettings() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Trackhaul"),
              QStringLiteral("trackhaul"))
        .clear();
}

// Geometry of every widget of the window, by name.
std::map<QString, QRect> Places(QWidget* window) {
    std::map<QString, QRect> places;
    for (QWidget* w : window->findChildren<QWidget*>())
        if (!w->objectName().isEmpty())
            places[w->objectName()] = w->geometry();
    return places;
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The share of pixels that two pictures of the same size have in common.
double SameShare(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 0;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    qint64 same = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col)
            same += x.pixel(col, row) == y.pixel(col, row);
    return double(same) / (double(x.width()) * x.height());
}

void SavePicture(QWidget* w, const char* name) {
    QDir().mkpath(TRACKHAUL_PICTURES);
    QVERIFY(w->grab().save(QStringLiteral(TRACKHAUL_PICTURES "/%1.png").arg(name)));
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> cardE, cardF, cardG, pc;
    std::unique_ptr<MappedDrive> driveE, driveF, driveG;
    FakeMessages msgs;
    std::unique_ptr<th::TMAIN_FORM> form;
    th::TWAVE_FORM* wave = nullptr;

    // A user's choice in a combo: open the list and click the entry.
    void Choose(QComboBox* combo, const QString& text) {
        const int index = combo->findText(text);
        QVERIFY2(index >= 0, qPrintable(text));
        combo->showPopup();
        QAbstractItemView* view = combo->view();
        const QModelIndex item = view->model()->index(index, 0);
        view->scrollTo(item);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(item).center());
        QTRY_VERIFY(!view->isVisible());
        QCOMPARE(combo->currentIndex(), index);
    }

    QTreeWidgetItem* Current() { return form->TreeView->currentItem(); }
    QStringList ChildTexts(QTreeWidgetItem* node) {
        QStringList texts;
        for (int i = 0; i < node->childCount(); ++i)
            texts << node->child(i)->text(0);
        return texts;
    }
    QList<bool> ExportEnabled() {
        QList<bool> e;
        for (QCheckBox* c : form->P2ZTr)
            e << c->isEnabled();
        return e;
    }
    void Activate() {
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    // Presses Tab until `target` has the focus; false when it never gets it.
    bool TabTo(QWidget* target) {
        for (int i = 0; i < 40 && QApplication::focusWidget() != target; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        return QApplication::focusWidget() == target;
    }
    QStringList ListNames() {
        QStringList names;
        for (int i = 0; i < form->ListView->topLevelItemCount(); ++i)
            names << form->ListView->topLevelItem(i)->text(0);
        return names;
    }
    static bool OnScreen() { return QGuiApplication::platformName() == QLatin1String("xcb"); }
    void ShowTab(int index) {
        QTabBar* bar = form->PageControl1->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
        QCOMPARE(form->PageControl1->currentIndex(), index);
    }

    // Each cause of a failed transfer: the message as it always was, then the file and the
    // reason, and the card and the folder as they were.
    struct Cause {
        const char* name;
        bool exporting;
        std::function<void()> setup;
        std::function<std::unique_ptr<FailOn>()> during;
        std::vector<std::string> messages;
        fs::path file; // named under the message, with the reason
        std::string reason;
    };

    static constexpr int kCauseCount = 11;
    std::vector<Cause> Causes() {
        using platform::FileOp;
        const fs::path song = cardE->path() / "SONGA";
        const fs::path out = pc->path() / "tr01.wav";
        auto fail = [](FileOp op, const char* part, int error) {
            return [=] { return std::make_unique<FailOn>(op, part, error); };
        };
        return {
            {"import, disk full",
             false,
             nullptr,
             fail(FileOp::Write, "tr01", ENOSPC),
             {"Copy failed!"},
             out,
             "No space left on device"},
            {"import, read-only folder",
             false,
             nullptr,
             fail(FileOp::Open, "tr01", EACCES),
             {"Copy failed!"},
             out,
             "Permission denied"},
            {"import, missing source",
             false,
             [=] { fs::remove(song / "zt60001.wav"); },
             nullptr,
             {"Copy failed!"},
             song / "ZT60001.WAV",
             "No such file or directory"},
            {"import, overwrite declined",
             false,
             [=, this] {
                 WriteFile(out, "old take");
                 msgs.answers = {true, false};
             },
             nullptr,
             {"Copy failed!"},
             out,
             "Not replaced: the overwrite was declined"},
            {"import, Cancel",
             false,
             [this] {
                 wave->OnProcessMessages = [this] {
                     QTest::mouseClick(wave->BTN_Cancel, Qt::LeftButton);
                 };
             },
             nullptr,
             {"Copy failed!"},
             out,
             "Cancelled"},
            {"import, damaged list line",
             false,
             [=] {
                 WriteFile(song / "SONGA.ADL", AdlText(44100, kTc25,
                                                       {EventLine(1, 1, "ZT60001.WAV", kTc25, kTc25,
                                                                  "00.00.03.00|0000"),
                                                        ""}));
             },
             nullptr,
             {"SONGA.ADL, line 14: '' is not a valid integer value"},
             {},
             ""},
            {"export, disk full",
             true,
             nullptr,
             fail(FileOp::Write, "SONGA", ENOSPC),
             {"Copy failed!"},
             song / "zt60002.wav",
             "No space left on device"},
            {"export, read-only folder",
             true,
             nullptr,
             fail(FileOp::Open, "\\zt6", EACCES),
             {"Copy failed!"},
             song / "zt60002.wav",
             "Permission denied"},
            {"export, missing source",
             true,
             nullptr,
             fail(FileOp::Open, "tr01.wav", ENOENT),
             {},
             out,
             "No such file or directory"},
            {"export, short source",
             true,
             [=] {
                 const std::string wav = ReadFile(out);
                 WriteFile(out, wav.substr(0, wav.size() - 100));
             },
             nullptr,
             {},
             out,
             "The file ends before its audio does"},
            {"export, damaged list",
             true,
             [=] {
                 std::string adl = ReadFile(song / "SONGA.ADL");
                 adl.replace(adl.find("</EVENT_LIST>"), 13, "</EVENT_LIS");
                 WriteFile(song / "SONGA.ADL", adl);
             },
             nullptr,
             {"Error!"},
             song / "SONGA.ADL",
             "The edit list does not end with </EVENT_LIST> and </ADL>"},
        };
    }

private slots:
    void initTestCase() {
        // Closing the main window in a test must not end the test program.
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void init() {
        msgs = FakeMessages();
        cardE = std::make_unique<TempDir>();
        cardF = std::make_unique<TempDir>();
        cardG = std::make_unique<TempDir>();
        pc = std::make_unique<TempDir>();
        // E: three songs: one at 44,100 Hz, one without an edit list, one at 22,050 Hz whose
        // list has a lower-case extension; and a file that is no song.
        const fs::path& e = cardE->path();
        fs::create_directories(e / "SONGA");
        fs::create_directories(e / "SONGB");
        fs::create_directories(e / "SONGC");
        WriteFile(e / "SONGA" / "zt60001.wav", MakeWav(Pattern(20000, 1)));
        WriteFile(e / "SONGA" / "SONGA.ADL",
                  AdlText(44100, kTc25,
                          {EventLine(1, 1, "ZT60001.WAV", kTc25, kTc25, "00.00.03.00|0000"),
                           EventLine(2, 2, "ZT60001.WAV", kTc25, "00.00.00.10|0000",
                                     "00.00.01.00|0000")}));
        WriteFile(e / "SONGB" / "readme.txt", "no edit list here");
        WriteFile(e / "SONGC" / "songc.adl", AdlText(22050, "00.00.00.00L0000", {}));
        WriteFile(e / "notes.txt", "not a song");
        // F: one song without an edit list. G: one song whose rate is no number.
        fs::create_directories(cardF->path() / "LONELY");
        fs::create_directories(cardG->path() / "BAD");
        std::string bad = AdlText(44100, kTc25, {});
        bad.replace(bad.find("S44100"), 6, "S44x00");
        WriteFile(cardG->path() / "BAD" / "BAD.ADL", bad);
        driveE = std::make_unique<MappedDrive>("E:", e);
        driveF = std::make_unique<MappedDrive>("F:", cardF->path());
        driveG = std::make_unique<MappedDrive>("G:", cardG->path());

        ForgetSettings();
        form = std::make_unique<th::TMAIN_FORM>(msgs);
        wave = form->CreateWaveForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        // Start: the first recorder drive with its first song.
        QCOMPARE(form->Z2PComboDrive->currentText(), QStringLiteral("E:"));
        QVERIFY(msgs.messages.empty());
        Choose(form->Z2PComboName, "SONGA");
    }

    void cleanup() {
        form.reset();
        wave = nullptr;
        driveE.reset();
        driveF.reset();
        driveG.reset();
        cardE.reset();
        cardF.reset();
        cardG.reset();
        pc.reset();
    }

    void layoutAndPictures() {
        QCOMPARE(form->windowTitle(), QStringLiteral("Trackhaul -Version 1.00-"));
        QCOMPARE(form->size(), QSize(607, 383));
        QCOMPARE(form->minimumSize(), QSize(607, 383)); // it may grow, never shrink
        QVERIFY(form->windowFlags() & Qt::WindowMaximizeButtonHint);
        QCOMPARE(form->font().pixelSize(), 12);
        QCOMPARE(form->Z2PComboDrive->font().pixelSize(), 11);
        QCOMPARE(form->TreeView->geometry(), QRect(0, 0, 225, 383));
        QCOMPARE(form->PageControl1->geometry(), QRect(232, 8, 369, 369));
        QCOMPARE(form->Z2PBtnConv->geometry(), QRect(240, 288, 81, 33));
        QCOMPARE(form->P2ZTr[6]->geometry(), QRect(88, 88, 49, 17));
        // Every named widget can be found by its name.
        for (const char* name :
             {"TreeView",   "PageControl1", "TabSheet1",     "Z2PDrive",    "Z2PComboDrive",
              "Z2PName",    "Z2PComboName", "Z2PInfo",       "FSLabel",     "FSinfo",
              "BITLabel",   "BITinfo",      "Z2PGrpTrack",   "Z2PTr1",      "Z2PTr8",
              "Z2PBtnConv", "TabSheet2",    "ListView",      "P2ZGrpTrack", "P2ZTr1",
              "P2ZTr8",     "P2ZDrive",     "P2ZComboDrive", "P2ZName",     "P2ZComboName",
              "P2ZBtnConv", "TabSheet3",    "GroupBox1",     "z2p_in",      "p2z_in",
              "z2p",        "p2z",          "Label1",        "Memo1"})
            QVERIFY2(form->findChild<QWidget*>(name), name);
        // Two visible tabs; the check page exists behind a hidden tab.
        QCOMPARE(form->PageControl1->count(), 3);
        QCOMPARE(form->PageControl1->tabText(0), QStringLiteral("ZT-6 To PC"));
        QCOMPARE(form->PageControl1->tabText(1), QStringLiteral("PC To ZT-6"));
        QVERIFY(form->PageControl1->isTabVisible(0));
        QVERIFY(form->PageControl1->isTabVisible(1));
        QVERIFY(!form->PageControl1->isTabVisible(2));
        QCOMPARE(form->z2p_in->text(), QStringLiteral("00:00:00.00/0000"));
        QCOMPARE(form->Z2PGrpTrack->title(), QStringLiteral("Select &Track"));
        QCOMPARE(form->FSLabel->text(), QStringLiteral("Sampling Freq"));
        QCOMPARE(form->BITinfo->text(), QStringLiteral("16"));
        QCOMPARE(form->FSinfo->text(), QStringLiteral("44100"));
        for (int i = 0; i < 8; ++i) {
            QCOMPARE(form->Z2PTr[i]->text(), QStringLiteral("TR%1").arg(i + 1));
            QVERIFY(form->Z2PTr[i]->isChecked());
            QVERIFY(form->Z2PTr[i]->isEnabled());
            QVERIFY(form->P2ZTr[i]->isChecked());
        }
        const QStringList columns = {"Name", "FS", "BIT", "CH", "SIZE"};
        const int widths[] = {130, 60, 40, 50, 70};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(form->ListView->headerItem()->text(i), columns[i]);
            QCOMPARE(form->ListView->columnWidth(i), widths[i]);
        }
        // The root and the drives; the recorder drives fill both drive combos.
        QTreeWidgetItem* root = form->TreeView->topLevelItem(0);
        QCOMPARE(root->text(0), QStringLiteral("MyComputers"));
        QVERIFY(ChildTexts(root).contains("C:"));
        QVERIFY(ChildTexts(root).contains("E:"));
        for (QComboBox* c : {form->Z2PComboDrive, form->P2ZComboDrive}) {
            QVERIFY(c->findText("E:") >= 0 && c->findText("F:") >= 0);
            QCOMPARE(c->findText("C:"), -1);
        }
        // A first launch stands on the user's music folder (of the test's own home).
        QCOMPARE(th::TMAIN_FORM::NodePath(Current()), Drive(MusicFolder()));
        QVERIFY(!form->NoCardLabel->isVisible());

        // The progress dialog.
        QCOMPARE(wave->windowTitle(), QStringLiteral("Trackhaul"));
        QCOMPARE(wave->size(), QSize(292, 123));
        QVERIFY(wave->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(wave->windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!wave->isModal());
        QVERIFY(!wave->isVisible());
        QCOMPARE(wave->Label1->text(), QStringLiteral("text"));
        QCOMPARE(wave->BTN_Cancel->text(), QStringLiteral("Cancel"));
        QCOMPARE(wave->ProgressBar1->geometry(), QRect(24, 48, 241, 16));
    }

    void songChoiceMovesTheTwin() {
        // On the export tab: the import tab's song follows and its frequency shows.
        ShowTab(1);
        Choose(form->P2ZComboName, "SONGC");
        QCOMPARE(form->Z2PComboName->currentText(), QStringLiteral("SONGC"));
        QCOMPARE(form->FSinfo->text(), QStringLiteral("22050"));
        QCOMPARE(form->Sel.SampleRate, 22050);
        QVERIFY(Q(form->Sel.AdlPath).endsWith("SONGC\\songc.adl"));
        Choose(form->Z2PComboName, "SONGA");
        QCOMPARE(form->P2ZComboName->currentText(), QStringLiteral("SONGA"));
        QCOMPARE(form->FSinfo->text(), QStringLiteral("44100"));
        // Songs are the root's folders only.
        QCOMPARE(form->Z2PComboName->count(), 3);
        QCOMPARE(form->Z2PComboName->findText("notes.txt"), -1);

        // An index set from code runs nothing.
        form->Z2PComboName->setCurrentIndex(form->Z2PComboName->findText("SONGC"));
        QCOMPARE(form->FSinfo->text(), QStringLiteral("44100"));
        QCOMPARE(form->P2ZComboName->currentText(), QStringLiteral("SONGA"));
    }

    void songWithoutEditListKeepsTheRate() {
        Choose(form->Z2PComboName, "SONGB");
        QCOMPARE(form->Sel.AdlPath, std::string());
        QCOMPARE(form->Sel.SampleRate, 44100);
        QCOMPARE(form->FSinfo->text(), QStringLiteral("44100"));
        // A drive whose first song has no edit list: the label empties, the rate stays.
        Choose(form->P2ZComboDrive, "F:");
        QCOMPARE(form->Z2PComboDrive->currentText(), QStringLiteral("F:"));
        QCOMPARE(form->Z2PComboName->currentText(), QStringLiteral("LONELY"));
        QCOMPARE(form->P2ZComboName->currentText(), QStringLiteral("LONELY"));
        QCOMPARE(form->FSinfo->text(), QString());
        QCOMPARE(form->BITinfo->text(), QStringLiteral("16"));
        QCOMPARE(form->Sel.SampleRate, 44100);
        QCOMPARE(form->Sel.DriveRoot, std::string("F:"));
        QVERIFY(form->Z2PBtnConv->isEnabled());
        QVERIFY(msgs.messages.empty());
    }

    void unreadableEditListIsShownAndTheWindowGoesOn() {
        Choose(form->Z2PComboDrive, "G:");
        QCOMPARE(msgs.messages.size(), size_t(1));
        QVERIFY(msgs.messages[0].find("S44x00") == std::string::npos || !msgs.messages[0].empty());
        QVERIFY(!msgs.messages[0].empty());
        QVERIFY(Q(form->Sel.AdlPath).endsWith("BAD\\BAD.ADL"));
        QCOMPARE(form->Sel.SampleRate, 44100);
        // The twins agree all the same, and the window still answers.
        QCOMPARE(form->P2ZComboDrive->currentText(), QStringLiteral("G:"));
        QCOMPARE(form->P2ZComboName->currentText(), QStringLiteral("BAD"));
        Choose(form->Z2PComboDrive, "E:");
        QCOMPARE(msgs.messages.size(), size_t(1));
        QCOMPARE(form->Z2PComboName->count(), 3);
    }

    void folderTreeLoadsLazilyAndFollowsTheDisk() {
        const fs::path& p = pc->path();
        fs::create_directories(p / "Alpha" / "Inner");
        fs::create_directories(p / "beta");
        fs::create_directories(p / ".hid");
        fs::create_directories(p / "OnlyHidden" / ".secret");
        const std::string path = Drive(p);
        form->SelectFolder(path);
        QTreeWidgetItem* node = Current();
        QCOMPARE(th::TMAIN_FORM::NodePath(node), path);
        QVERIFY(node->isExpanded());
        QCOMPARE(ChildTexts(node), QStringList({"Alpha", "beta", "OnlyHidden"}));
        QTreeWidgetItem* alpha = node->child(0);
        QCOMPARE(alpha->childCount(), 0); // read at its first expansion
        QCOMPARE(alpha->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
        QCOMPARE(node->child(1)->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
        form->TreeView->expandItem(alpha);
        QCOMPARE(Current(), alpha);
        QCOMPARE(ChildTexts(alpha), QStringList({"Inner"}));
        QCOMPARE(th::TMAIN_FORM::NodePath(alpha->child(0)), path + "\\Alpha\\Inner");
        // Only hidden subfolders: a marker that goes away when nothing shows up.
        QTreeWidgetItem* onlyHidden = node->child(2);
        QCOMPARE(onlyHidden->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
        form->TreeView->expandItem(onlyHidden);
        QCOMPARE(onlyHidden->childCount(), 0);
        QCOMPARE(onlyHidden->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);

        // Renamed outside the program: the next expansion rebuilds the children.
        fs::rename(p / "beta", p / "Gamma");
        form->TreeView->collapseItem(node);
        form->TreeView->expandItem(node);
        QCOMPARE(ChildTexts(node), QStringList({"Alpha", "Gamma", "OnlyHidden"}));
        // Added: the count differs.
        fs::create_directories(p / "delta");
        form->TreeView->collapseItem(node);
        form->TreeView->expandItem(node);
        QCOMPARE(ChildTexts(node), QStringList({"Alpha", "delta", "Gamma", "OnlyHidden"}));

        // A missing folder stops the walk: nothing new is selected.
        form->TreeView->setCurrentItem(node);
        form->SelectFolder(path + "\\Nope\\Deeper");
        QCOMPARE(Current(), node);
        form->SelectFolder(path + "\\alpha\\INNER"); // names match ignoring case
        QCOMPARE(th::TMAIN_FORM::NodePath(Current()), path + "\\Alpha\\Inner");
        form->SelectFolder("C:");
        QCOMPARE(Current()->text(0), QStringLiteral("C:"));
        QCOMPARE(th::TMAIN_FORM::NodePath(Current()), std::string("C:"));
        QCOMPARE(th::TMAIN_FORM::NodePath(form->TreeView->topLevelItem(0)), std::string());
    }

    void wavListAndExportBoxes() {
        const fs::path& p = pc->path();
        fs::create_directories(p / "wavs");
        fs::create_directories(p / "empty");
        WriteFile(p / "wavs" / "tr01.wav", MakeWav(std::string(980, '\1'), 44100)); // 1024
        WriteFile(p / "wavs" / "tr03.wav", MakeWav(std::string(978, '\1'), 22050)); // 1022
        WriteFile(p / "wavs" / "Song.WAV", MakeWav(std::string(4000, '\1'), 48000, 2));
        WriteFile(p / "wavs" / "mono8.wav", MakeWav(std::string(100, '\1'), 44100, 6, 8));
        WriteFile(p / "wavs" / "notes.wav", "this is no RIFF file");
        WriteFile(p / "wavs" / "other.txt", "text");
        ShowTab(1);
        form->SelectFolder(Drive(p / "wavs"));
        QCOMPARE(form->ListView->topLevelItemCount(), 4);
        const QStringList expected[] = {
            {"mono8.wav", "44.1kHz", "8bit", "?", "1KB", "PCM"},
            {"Song.WAV", "48kHz", "16bit", "ST", "4KB", "PCM"},
            {"tr01.wav", "44.1kHz", "16bit", "MON", "2KB", "PCM"},
            {"tr03.wav", "22.05kHz", "16bit", "MON", "1KB", "PCM"},
        };
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 6; ++c)
                QCOMPARE(form->ListView->topLevelItem(r)->text(c), expected[r][c]);
        QCOMPARE(ExportEnabled(),
                 QList<bool>({true, false, true, false, false, false, false, false}));

        // Switching tabs shows the folder again.
        WriteFile(p / "wavs" / "tr05.wav", "whatever its header says");
        ShowTab(0);
        ShowTab(1);
        QCOMPARE(ExportEnabled(),
                 QList<bool>({true, false, true, false, true, false, false, false}));

        form->SelectFolder(Drive(p / "empty"));
        QCOMPARE(form->ListView->topLevelItemCount(), 0);
        QCOMPARE(ExportEnabled(), QList<bool>(8, false));
        form->TreeView->setCurrentItem(form->TreeView->topLevelItem(0));
        QCOMPARE(form->ListView->topLevelItemCount(), 0);
        QCOMPARE(ExportEnabled(), QList<bool>(8, false));
    }

    void importFromTheButton() {
        const std::string out = Drive(pc->path());
        form->SelectFolder(out);
        form->Z2PTr[1]->setChecked(false);
        bool lockedDuringRun = false;
        msgs.onAsk = [&](const std::string&) {
            lockedDuringRun = !form->TreeView->isEnabled() && !form->PageControl1->isEnabled();
        };
        QTest::mouseClick(form->Z2PBtnConv, Qt::LeftButton);
        QCOMPARE(msgs.questions,
                 std::vector<std::string>(
                     {"ZT-6 to PC\r\n\r\n" + (pc->path() / "tr(TrNo).wav").string()}));
        QCOMPARE(msgs.messages, std::vector<std::string>({"Complete!"}));
        QVERIFY(lockedDuringRun);
        QVERIFY(form->TreeView->isEnabled() && form->PageControl1->isEnabled());
        QVERIFY(!wave->isVisible());
        QCOMPARE(fs::file_size(pc->path() / "tr01.wav"), std::uintmax_t(46 + 3 * 88200));
        QVERIFY(!fs::exists(pc->path() / "tr02.wav"));            // not ticked
        QCOMPARE(wave->Label1->text(), QStringLiteral("Track8")); // every ticked track
    }

    void cancelDuringImport_data() {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Cancel button") << false;
        QTest::newRow("Escape key") << true;
    }

    void cancelDuringImport() {
        QFETCH(bool, escape);
        form->SelectFolder(Drive(pc->path()));
        int pumps = 0;
        wave->OnProcessMessages = [&] {
            if (++pumps != 2)
                return;
            if (escape)
                QTest::keyClick(wave, Qt::Key_Escape);
            else
                QTest::mouseClick(wave->BTN_Cancel, Qt::LeftButton);
        };
        QTest::mouseClick(form->Z2PBtnConv, Qt::LeftButton);
        QCOMPARE(msgs.messages, std::vector<std::string>({"Copy failed!"}));
        QVERIFY(wave->Cancelled());
        QVERIFY(!fs::exists(pc->path() / "tr01.wav"));
        QVERIFY(!wave->isVisible());

        // The next run starts with the flag down and goes through.
        wave->OnProcessMessages = nullptr;
        msgs.messages.clear();
        QTest::mouseClick(form->Z2PBtnConv, Qt::LeftButton);
        QCOMPARE(msgs.messages, std::vector<std::string>({"Complete!"}));
        QVERIFY(fs::exists(pc->path() / "tr01.wav"));
    }

    void failureMessages_data() {
        // The rows need the cards of init(): only their count is known here.
        QTest::addColumn<int>("row");
        for (int i = 0; i < kCauseCount; ++i)
            QTest::newRow(QByteArray::number(i).constData()) << i;
    }

    void failureMessages() {
        QFETCH(int, row);
        const std::vector<Cause> causes = Causes();
        QCOMPARE(static_cast<int>(causes.size()), kCauseCount);
        const Cause c = causes[static_cast<std::size_t>(row)];
        qInfo("%s", c.name);
        if (c.exporting) {
            WriteFile(pc->path() / "tr01.wav", MakeWav(Pattern(3 * 65536 + 10, 3), 44100));
            ShowTab(1);
        } else {
            for (std::size_t i = 1; i < 8; ++i)
                form->Z2PTr[i]->setChecked(false);
        }
        form->SelectFolder(Drive(pc->path()));
        if (c.setup)
            c.setup();
        const auto cardBefore = Snap(cardE->path());
        const auto pcBefore = Snap(pc->path());
        {
            const std::unique_ptr<FailOn> fault = c.during ? c.during() : nullptr;
            QTest::mouseClick(c.exporting ? form->P2ZBtnConv : form->Z2PBtnConv, Qt::LeftButton);
        }
        QCOMPARE(msgs.messages, c.messages);
        const std::vector<std::string> details = {
            c.file.empty() ? c.reason : c.file.string() + ": " + c.reason};
        QCOMPARE(msgs.details, c.reason.empty() ? std::vector<std::string>{} : details);
        QVERIFY(Snap(cardE->path()) == cardBefore);
        QVERIFY(Snap(pc->path()) == pcBefore);
        QVERIFY(!wave->isVisible());
    }

    void exportFromTheButton() {
        WriteFile(pc->path() / "tr01.wav", MakeWav(Pattern(2000, 3), 44100));
        ShowTab(1);
        form->SelectFolder(Drive(pc->path()));
        QVERIFY(form->P2ZTr[0]->isEnabled());
        bool cancelGreyed = false;
        msgs.onAsk = [&](const std::string&) { cancelGreyed = !wave->BTN_Cancel->isEnabled(); };
        QTest::mouseClick(form->P2ZBtnConv, Qt::LeftButton);
        QCOMPARE(msgs.questions, std::vector<std::string>(
                                     {"PC to ZT-6\r\n\r\n" + (pc->path() / "tr(TrNo).wav").string(),
                                      "Overwrite SONGA? (Can't cancel.)"}));
        QCOMPARE(msgs.messages, std::vector<std::string>({"Complete!"}));
        QVERIFY(cancelGreyed);
        QVERIFY(!wave->BTN_Cancel->isEnabled()); // the run is over
        QVERIFY(!wave->isVisible());
        QCOMPARE(wave->Max(), std::uint32_t(fs::file_size(pc->path() / "tr01.wav")));
        QVERIFY(fs::exists(cardE->path() / "SONGA" / "zt60002.wav"));
        const std::string adl = ReadFile(cardE->path() / "SONGA" / "SONGA.ADL");
        QVERIFY(adl.find("\t\t(Entry)\t0003\t(Cut)\tF\t\"ZT60002.WAV\"\t1\t1\t") !=
                std::string::npos);
        QVERIFY(adl.size() > 24 && adl.substr(adl.size() - 24) == "\t</EVENT_LIST>\r\n</ADL>\r\n");
    }

    // A file in another format than the song's: the export asks, and Yes converts it.
    void exportConvertsAfterTheQuestion() {
        std::vector<double> stereo(2 * 4800, 0.25);
        WriteFile(pc->path() / "tr01.wav", EncodeWav(stereo, 1, 24, 2, 48000));
        ShowTab(1);
        form->SelectFolder(Drive(pc->path()));
        QCOMPARE(form->ListView->topLevelItem(0)->text(5), QStringLiteral("PCM"));
        msgs.choices = {th::TransferUi::Answer::Yes};
        QTest::mouseClick(form->P2ZBtnConv, Qt::LeftButton);
        QCOMPARE(msgs.questions.size(), std::size_t{3});
        QCOMPARE(msgs.questions[2], std::string("tr01.wav: 48000 Hz, 24-bit, 2 channels. Convert "
                                                "it to 44100 Hz, 16-bit mono for the song?"));
        QCOMPARE(msgs.messages, std::vector<std::string>({"Complete!"}));
        QCOMPARE(std::uint64_t(fs::file_size(cardE->path() / "SONGA" / "zt60002.wav")),
                 std::uint64_t{46 + 2 * 4410});
    }

    void progressDialog() {
        // Escape presses Cancel only while it is enabled.
        wave->SetCancelEnabled(false);
        wave->ShowProgress();
        QTest::keyClick(wave, Qt::Key_Escape);
        QVERIFY(!wave->Cancelled());
        QVERIFY(wave->isVisible());
        wave->SetCancelEnabled(true);
        QTest::keyClick(wave, Qt::Key_Escape);
        QVERIFY(wave->Cancelled());
        QVERIFY(wave->isVisible()); // Escape cancels, it doesn't close
        wave->CloseProgress();
        wave->ShowProgress();
        QVERIFY(!wave->Cancelled());
        wave->CloseProgress();

        // Byte counts past the int range: the bar shows the same share.
        wave->SetMin(0);
        wave->SetMax(3000000000u);
        wave->SetPosition(1500000000u);
        QCOMPARE(wave->Position(), 1500000000u);
        QCOMPARE(wave->Max(), 3000000000u);
        const double share = double(wave->ProgressBar1->value()) / wave->ProgressBar1->maximum();
        QVERIFY(qAbs(share - 0.5) < 1e-6);
        wave->Advance(1500000000u);
        QCOMPARE(wave->ProgressBar1->value(), wave->ProgressBar1->maximum());
    }

    void checkPage() {
        form->p2z_in->setText("100000");
        QTest::mouseClick(form->p2z, Qt::LeftButton);
        QCOMPARE(form->z2p_in->text(), QStringLiteral("00.00.02.06|1216"));
        form->p2z_in->clear();
        QTest::mouseClick(form->z2p, Qt::LeftButton);
        QCOMPARE(form->p2z_in->text(), QStringLiteral("200000")); // bytes: twice the samples
        form->p2z_in->setText("12ab");
        QTest::mouseClick(form->p2z, Qt::LeftButton);
        QCOMPARE(msgs.messages.size(), size_t(1));
        QVERIFY(msgs.messages[0].find("12ab") != std::string::npos);
        QCOMPARE(form->z2p_in->text(), QStringLiteral("00.00.02.06|1216"));
    }

    void withoutRecorderDrive() {
        form.reset();
        driveE.reset();
        driveF.reset();
        driveG.reset();
        if (th::FindDeviceDrive() != "0")
            QSKIP("this machine has a removable drive of its own");
        th::TMAIN_FORM bare(msgs);
        QCOMPARE(bare.Sel.DriveRoot, std::string("0"));
        QCOMPARE(bare.Z2PComboDrive->count(), 0);
        QCOMPARE(bare.P2ZComboName->count(), 0);
        QCOMPARE(bare.FSinfo->text(), QString());
        QCOMPARE(bare.BITinfo->text(), QString());
        QVERIFY(!bare.Z2PBtnConv->isEnabled() && !bare.P2ZBtnConv->isEnabled());
        for (QCheckBox* c : bare.Z2PTr)
            QVERIFY(!c->isEnabled());
        // The tree stays on its root; the import tab says what is missing.
        QCOMPARE(bare.TreeView->currentItem(), bare.TreeView->topLevelItem(0));
        bare.show();
        QVERIFY(bare.NoCardLabel->isVisible());
        QCOMPARE(bare.NoCardLabel->text(),
                 QStringLiteral("No recorder card found. Insert the card, or start with --drive."));
        QVERIFY(bare.NoCardLabel->geometry().right() < bare.TabSheet1->width());
        QVERIFY(msgs.messages.empty());
    }

    void manyTransfersInOneLaunch() {
        // Two imports, an export and an import, with the mouse and then the keyboard; the
        // focus stays where the user puts it.
        const fs::path& p = pc->path();
        form->SelectFolder(Drive(p));
        Activate();
        QTest::mouseClick(form->Z2PBtnConv, Qt::LeftButton);
        QCOMPARE(msgs.messages, std::vector<std::string>({"Complete!"}));
        QVERIFY(fs::exists(p / "tr02.wav"));

        QTest::mouseClick(form->Z2PTr[1], Qt::LeftButton);
        QVERIFY(!form->Z2PTr[1]->isChecked());
        fs::remove(p / "tr02.wav");
        QTest::mouseClick(form->Z2PBtnConv, Qt::LeftButton);
        QCOMPARE(msgs.messages, std::vector<std::string>({"Complete!", "Complete!"}));
        QCOMPARE(msgs.questions.back(), "Overwrite <" + (p / "tr01.wav").string() + "> ?");
        QVERIFY(!fs::exists(p / "tr02.wav"));

        ShowTab(1);
        for (int n = 1; n < 8; ++n) // only tr01.wav goes to the card
            QTest::mouseClick(form->P2ZTr[n], Qt::LeftButton);
        QTest::mouseClick(form->P2ZBtnConv, Qt::LeftButton);
        QCOMPARE(msgs.messages.back(), std::string("Complete!"));
        QVERIFY(fs::exists(cardE->path() / "SONGA" / "zt60002.wav"));

        // The keyboard: Tab walks the page, Space ticks a box and presses the button.
        ShowTab(0);
        Activate();
        form->TreeView->setFocus();
        QVERIFY(TabTo(form->Z2PTr[1]));
        QTest::keyClick(form->Z2PTr[1], Qt::Key_Space);
        QVERIFY(form->Z2PTr[1]->isChecked());
        QVERIFY(TabTo(form->Z2PBtnConv));
        msgs.messages.clear();
        QTest::keyClick(form->Z2PBtnConv, Qt::Key_Space);
        QCOMPARE(msgs.messages, std::vector<std::string>({"Complete!"}));
        QVERIFY(fs::exists(p / "tr02.wav"));
    }

    void focusReturnsWhenTheWindowIsShownAgain() {
        form->SelectFolder(Drive(pc->path()));
        Activate();
        QTest::mouseClick(form->Z2PBtnConv, Qt::LeftButton);
        QCOMPARE(msgs.messages, std::vector<std::string>({"Complete!"}));
        Activate();
        // A repaint of the window or of a control leaves the focus alone...
        form->TreeView->setFocus();
        form->repaint();
        form->Z2PTr[0]->repaint();
        QCOMPARE(form->focusWidget(), form->TreeView);
        // ...restoring it from the task bar puts it on the visible tab's song combo.
        form->showMinimized();
        form->showNormal();
        QCOMPARE(form->focusWidget(), form->Z2PComboName);
        ShowTab(1);
        form->TreeView->setFocus();
        form->showMinimized();
        form->showNormal();
        QCOMPARE(form->focusWidget(), form->P2ZComboName);
    }

    void exportDialogIsPaintedWhileItCopies() {
        if (!OnScreen())
            QSKIP("needs a real display (xcb)");
        WriteFile(pc->path() / "tr01.wav", MakeWav(Pattern(100 * 65536, 5), 44100));
        ShowTab(1);
        form->SelectFolder(Drive(pc->path()));
        // The screen under the dialog against the dialog as it paints itself, twice during
        // the copy: its label and its moving bar must be what the screen shows.
        std::vector<double> shares;
        std::vector<int> bars;
        int blocks = 0;
        form->ExportJob->OnBlockCopied = [&](int, std::uint32_t) {
            QTest::qSleep(2); // a slow card: the copy takes longer than a few paint periods
            if (++blocks == 40 || blocks == 90) {
                QTest::qSleep(120);
                wave->SetPosition(wave->Position()); // the next block's paint is due
                const QRect g = wave->geometry();
                const QImage screen =
                    wave->screen()->grabWindow(0, g.x(), g.y(), g.width(), g.height()).toImage();
                shares.push_back(SameShare(screen, wave->grab().toImage()));
                bars.push_back(wave->ProgressBar1->value());
            }
            return true;
        };
        QTest::mouseClick(form->P2ZBtnConv, Qt::LeftButton);
        QCOMPARE(msgs.messages, std::vector<std::string>({"Complete!"}));
        QCOMPARE(shares.size(), size_t(2));
        QVERIFY2(shares[0] > 0.98, qPrintable(QString::number(shares[0])));
        QVERIFY2(shares[1] > 0.98, qPrintable(QString::number(shares[1])));
        QVERIFY(bars[1] > bars[0]);
        QCOMPARE(wave->Label1->text(), QStringLiteral("Track1"));
    }

    void closingTheWindowMidImportCancelsIt() {
        const fs::path& p = pc->path();
        form->SelectFolder(Drive(p));
        wave->OnProcessMessages = [&] {
            if (wave->Label1->text() == QStringLiteral("Track2") && form->isVisible())
                form->close();
        };
        QTest::mouseClick(form->Z2PBtnConv, Qt::LeftButton);
        // Track 1 was finished and stays; track 2 stopped and left nothing; nothing more was
        // asked or said, and the window is closed.
        QVERIFY(fs::exists(p / "tr01.wav"));
        QVERIFY(!fs::exists(p / "tr02.wav"));
        QVERIFY(!fs::exists(p / "tr02"));
        QVERIFY(wave->Cancelled());
        QVERIFY(msgs.messages.empty());
        QCOMPARE(msgs.questions.size(), size_t(1));
        QVERIFY(!form->isVisible());
        QVERIFY(!wave->isVisible());
    }

    void closingTheWindowMidExportWaitsForIt() {
        WriteFile(pc->path() / "tr01.wav", MakeWav(Pattern(4 * 65536, 3), 44100));
        WriteFile(pc->path() / "tr03.wav", MakeWav(Pattern(3 * 65536, 4), 44100));
        ShowTab(1);
        form->SelectFolder(Drive(pc->path()));
        bool stillShown = true;
        form->ExportJob->OnBlockCopied = [&](int, std::uint32_t) {
            if (form->isVisible())
                form->close();
            stillShown = stillShown && form->isVisible();
            return true;
        };
        QTest::mouseClick(form->P2ZBtnConv, Qt::LeftButton);
        QVERIFY(stillShown); // the window stayed while the export ran
        QVERIFY(fs::exists(cardE->path() / "SONGA" / "zt60002.wav"));
        QVERIFY(fs::exists(cardE->path() / "SONGA" / "zt60003.wav"));
        const std::string adl = ReadFile(cardE->path() / "SONGA" / "SONGA.ADL");
        QVERIFY(adl.find("\"ZT60003.WAV\"") != std::string::npos);
        QVERIFY(msgs.messages.empty());
        QVERIFY(!form->isVisible());
    }

    void closingTheWindowFromTheWindowManagerMidExport() {
#ifdef TRACKHAUL_HAVE_XCB
        if (!OnScreen())
            QSKIP("needs a real display (xcb)");
        WriteFile(pc->path() / "tr01.wav", MakeWav(Pattern(40 * 65536, 3), 44100));
        ShowTab(1);
        form->SelectFolder(Drive(pc->path()));
        auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
        QVERIFY(x11);
        xcb_connection_t* c = x11->connection();
        const auto atom = [c](const char* name) {
            xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
                c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
                nullptr);
            const xcb_atom_t a = r ? r->atom : 0;
            std::free(r);
            return a;
        };
        const xcb_atom_t protocols = atom("WM_PROTOCOLS");
        const xcb_atom_t deleteWindow = atom("WM_DELETE_WINDOW");
        int blocks = 0;
        bool seenDuringCopy = false;
        form->ExportJob->OnBlockCopied = [&](int, std::uint32_t) {
            seenDuringCopy = form->CloseRequested();
            if (++blocks == 5) {
                // What a window manager sends when the title bar's close box is clicked.
                xcb_client_message_event_t e{};
                e.response_type = XCB_CLIENT_MESSAGE;
                e.format = 32;
                e.window = static_cast<xcb_window_t>(form->winId());
                e.type = protocols;
                e.data.data32[0] = deleteWindow;
                e.data.data32[1] = XCB_CURRENT_TIME;
                xcb_send_event(c, 0, e.window, XCB_EVENT_MASK_NO_EVENT,
                               reinterpret_cast<const char*>(&e));
                xcb_flush(c);
                QTest::qSleep(100); // the server hands it back to the program meanwhile
            }
            if (blocks > 5)
                QTest::qSleep(2); // a slow card: the dialog paints again after the request
            return true;
        };
        QTest::mouseClick(form->P2ZBtnConv, Qt::LeftButton);
        // The request was seen while the copy ran (held back, it would come in only under the
        // last message box, which blocks the window, and be lost); the export ran to its end,
        // said nothing more, and the window closed.
        QVERIFY(seenDuringCopy);
        QVERIFY(fs::exists(cardE->path() / "SONGA" / "zt60002.wav"));
        QVERIFY(msgs.messages.empty());
        QVERIFY(!form->isVisible());
#else
        QSKIP("built without the X11 client library");
#endif
    }

    void checkPageStaysHidden() {
        QTabBar* bar = form->PageControl1->tabBar();
        bool shown = false;
        connect(form->PageControl1, &QTabWidget::currentChanged, this,
                [&] { shown = shown || form->TabSheet3->isVisible(); });
        Activate();
        bar->setFocus();
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(bar, Qt::Key_Tab, Qt::ControlModifier);
            QVERIFY(form->PageControl1->currentIndex() != 2);
            QTest::keyClick(bar, Qt::Key_Right);
            QVERIFY(form->PageControl1->currentIndex() != 2);
        }
        ShowTab(1);
        QTest::keyClick(form->PageControl1, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(form->PageControl1->currentIndex(), 0);
        QTest::keyClick(form->PageControl1, Qt::Key_Backtab, Qt::ControlModifier);
        QCOMPARE(form->PageControl1->currentIndex(), 1);
        for (int delta : {-120, -120, 120, -120}) {
            const QPointF at = bar->tabRect(1).center();
            QWheelEvent wheel(at, bar->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(bar, &wheel);
            QVERIFY(form->PageControl1->currentIndex() != 2);
        }
        QVERIFY(!shown);
        QVERIFY(!form->TabSheet3->isVisible());
        // Its tab takes no room on the bar: nothing of its label is drawn.
        QVERIFY(bar->tabRect(2).isEmpty() || !bar->rect().intersects(bar->tabRect(2)));
    }

    void selectFolderStopsAtAChildlessFolder() {
        // "Alpha" has no subfolders; its sibling "Target" must not be taken for
        // Alpha\Target.
        const fs::path& p = pc->path();
        fs::create_directories(p / "Alpha");
        fs::create_directories(p / "Target");
        const std::string path = Drive(p);
        form->SelectFolder(path);
        QTreeWidgetItem* before = Current();
        form->SelectFolder(path + "\\Alpha\\Target");
        QCOMPARE(Current(), before);
        form->SelectFolder(path + "\\Target");
        QCOMPARE(th::TMAIN_FORM::NodePath(Current()), path + "\\Target");
    }

    void eightBitNames() {
        // A folder named with a Latin-1 byte: shown as the system decodes it, used by its
        // bytes for listing, expanding and importing.
        const std::string name = "caf\xE9";
        const fs::path folder = pc->path() / name;
        fs::create_directories(folder / "sub");
        WriteFile(folder / "tr01.wav", MakeWav(Pattern(2000, 1)));
        WriteFile(folder / ("ol\xE9.wav"), MakeWav(Pattern(2000, 2)));
        ShowTab(1);
        const std::string path = Drive(folder);
        form->SelectFolder(path);
        QTreeWidgetItem* node = Current();
        QCOMPARE(th::TMAIN_FORM::NodePath(node), path);
        QCOMPARE(node->text(0), QFile::decodeName(QByteArray::fromStdString(name)));
        QCOMPARE(ListNames(), QStringList({QFile::decodeName("ol\xE9.wav"), "tr01.wav"}));
        QCOMPARE(ExportEnabled(),
                 QList<bool>({true, false, false, false, false, false, false, false}));
        QCOMPARE(node->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
        QCOMPARE(ChildTexts(node), QStringList({"sub"}));
        form->SelectFolder(path + "\\sub");
        QCOMPARE(th::TMAIN_FORM::NodePath(Current()), path + "\\sub");

        form->SelectFolder(path);
        ShowTab(0);
        QTest::mouseClick(form->Z2PBtnConv, Qt::LeftButton);
        QCOMPARE(msgs.messages, std::vector<std::string>({"Complete!"}));
        QCOMPARE(form->Sel.DestFolder, path);
        QVERIFY(fs::exists(folder / "tr02.wav"));
    }

    void windowCentredWithItsIcon() {
        const QIcon icon = th::ProgramIcon();
        QVERIFY(!icon.isNull());
        const QImage picture = icon.pixmap(64, 64).toImage();
        QVERIFY(qAlpha(picture.pixel(32, 32)) > 0); // something is drawn
        QVERIFY(!form->windowIcon().isNull());
        const QPoint centre = form->screen()->availableGeometry().center();
        QVERIFY((form->geometry().center() - centre).manhattanLength() <= 40);
    }

    void wavListHeaderKeepsTheOrder() {
        const fs::path& p = pc->path();
        for (const char* n : {"b.wav", "A.wav", "c.wav"})
            WriteFile(p / n, MakeWav(Pattern(100, 1)));
        ShowTab(1);
        form->SelectFolder(Drive(p));
        const QStringList sorted = {"A.wav", "b.wav", "c.wav"};
        QCOMPARE(ListNames(), sorted);
        QHeaderView* header = form->ListView->header();
        for (int i = 0; i < 3; ++i) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionPosition(0) + 20, header->height() / 2));
            QCOMPARE(ListNames(), sorted);
        }
    }

    void noDestination_data() {
        QTest::addColumn<QString>("selected");
        QTest::addColumn<bool>("import");
        for (bool import : {true, false}) {
            const char* dir = import ? "import" : "export";
            QTest::addRow("%s, nothing selected", dir) << QString() << import;
            QTest::addRow("%s, the root", dir) << QStringLiteral("root") << import;
            QTest::addRow("%s, a folder named MyComputers", dir)
                << QStringLiteral("MyComputers") << import;
        }
    }

    void noDestination() {
        QFETCH(QString, selected);
        QFETCH(bool, import);
        if (selected == "root") {
            form->TreeView->setCurrentItem(form->TreeView->topLevelItem(0));
        } else if (selected == "MyComputers") {
            fs::create_directories(pc->path() / "MyComputers");
            form->SelectFolder(Drive(pc->path() / "MyComputers"));
            QCOMPARE(Current()->text(0), QStringLiteral("MyComputers"));
        } else {
            form->TreeView->setCurrentItem(nullptr);
        }
        ShowTab(import ? 0 : 1);
        QTest::mouseClick(import ? form->Z2PBtnConv : form->P2ZBtnConv, Qt::LeftButton);
        QCOMPARE(msgs.messages, std::vector<std::string>({"Select a folder!"}));
        QVERIFY(msgs.questions.empty()); // no transfer started
        QVERIFY(!wave->isVisible());
        QVERIFY(form->TreeView->isEnabled());
    }

    void boxesAndTitleBars() {
        // With informative text too, which lays a box out anew: a warning's line stays whole.
        const QString warning = QStringLiteral("Warning: SONG.ADL, line 20: dest out "
                                               "'00.00.xx.12|0882' is not a well-formed time");
        const struct {
            const char* text;
            QString informative;
        } boxes[] = {{"Complete!", {}},
                     {"Overwrite SONGA? (Can't cancel.)", {}},
                     {"Copy failed!", QStringLiteral("/a/tr01.wav: No space left on device")},
                     {"Complete!", warning}};
        for (const auto& b : boxes) {
            const auto box = th::MakeMessageBox(b.text, QMessageBox::Ok | QMessageBox::Cancel,
                                                form.get(), b.informative);
            box->show();
            QCOMPARE(box->windowTitle(), QStringLiteral("Trackhaul"));
            QVERIFY(box->width() >= th::kMessageBoxMinWidth);
            QVERIFY(box->width() >= box->fontMetrics().horizontalAdvance(b.informative));
            QVERIFY(!(box->windowFlags() & Qt::WindowMinimizeButtonHint));
            QVERIFY(!(box->windowFlags() & Qt::WindowMaximizeButtonHint));
            box->hide();
        }
        const Qt::WindowFlags flags = wave->windowFlags();
        for (Qt::WindowType hint : {Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint,
                                    Qt::WindowCloseButtonHint, Qt::WindowSystemMenuHint})
            QVERIFY(!(flags & hint));
    }

    void cardsComeAndGo() {
        QVERIFY(form->DriveTimer->isActive());
        QVERIFY(form->DriveTimer->interval() <= 1000);
        TempDir cardH;
        fs::create_directories(cardH.path() / "HSONG");
        WriteFile(cardH.path() / "HSONG" / "HSONG.ADL", AdlText(48000, "00.00.00.00/0000", {}));
        auto driveH = std::make_unique<MappedDrive>("H:", cardH.path());
        form->PollDrives();
        for (QComboBox* c : {form->Z2PComboDrive, form->P2ZComboDrive}) {
            QVERIFY(c->findText("H:") >= 0);
            QCOMPARE(c->currentText(), QStringLiteral("E:")); // the choice stays
        }
        QVERIFY(ChildTexts(form->TreeView->topLevelItem(0)).contains("H:"));
        QCOMPARE(form->Z2PComboName->currentText(), QStringLiteral("SONGA"));

        Choose(form->Z2PComboDrive, "H:");
        QCOMPARE(form->FSinfo->text(), QStringLiteral("48000"));
        driveH.reset();
        form->PollDrives();
        for (QComboBox* c : {form->Z2PComboDrive, form->P2ZComboDrive}) {
            QCOMPARE(c->findText("H:"), -1);
            QCOMPARE(c->currentIndex(), -1);
        }
        QVERIFY(!ChildTexts(form->TreeView->topLevelItem(0)).contains("H:"));
        QCOMPARE(form->Z2PComboName->count(), 0);
        QCOMPARE(form->P2ZComboName->count(), 0);
        QCOMPARE(form->FSinfo->text(), QString());
        QCOMPARE(form->BITinfo->text(), QString());
        QVERIFY(!form->Z2PBtnConv->isEnabled() && !form->P2ZBtnConv->isEnabled());

        // Choosing again works; no polling while a transfer runs.
        Choose(form->P2ZComboDrive, "E:");
        QCOMPARE(form->Z2PComboName->count(), 3);
        QVERIFY(form->Z2PBtnConv->isEnabled());
        form->SelectFolder(Drive(pc->path()));
        bool polledDuringRun = true;
        msgs.onAsk = [&](const std::string&) {
            polledDuringRun = form->DriveTimer->isActive();
            MappedDrive late("J:", cardH.path());
            form->PollDrives();
            polledDuringRun = polledDuringRun || form->Z2PComboDrive->findText("J:") >= 0;
        };
        msgs.answers = {false};
        QTest::mouseClick(form->Z2PBtnConv, Qt::LeftButton);
        QVERIFY(!polledDuringRun);
        QVERIFY(form->DriveTimer->isActive());
    }

    void demoPictures() {
        // The README's pictures: a demo card and a demo folder tree, nothing of this machine
        // but its root drive.
        form.reset();
        driveE.reset();
        driveF.reset();
        driveG.reset();
        TempDir card, computer;
        th::WriteDemoCard(card.path().string());
        const fs::path takes = computer.path() / "Music" / "Takes";
        fs::create_directories(computer.path() / "Music" / "Mixes");
        fs::create_directories(computer.path() / "Documents");
        fs::create_directories(takes);
        WriteFile(takes / "tr01.wav", MakeWav(Pattern(88200, 1)));
        WriteFile(takes / "tr02.wav", MakeWav(Pattern(132300, 2)));
        WriteFile(takes / "tr04.wav", MakeWav(Pattern(44100, 4)));
        WriteFile(takes / "Bass final.wav",
                  EncodeWav(std::vector<double>(2 * 48000, 0.1), 3, 32, 2, 48000));
        MappedDrive e("E:", card.path());
        MappedDrive f("F:", computer.path());
        th::TMAIN_FORM demo(msgs);
        th::TWAVE_FORM* dialog = demo.CreateWaveForm();
        demo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&demo));
        // Only the demo folders are open.
        demo.TreeView->collapseAll();
        demo.TreeView->topLevelItem(0)->setExpanded(true);
        demo.SelectFolder("F:\\Music\\Takes");
        QCOMPARE(th::TMAIN_FORM::NodePath(demo.TreeView->currentItem()),
                 std::string("F:\\Music\\Takes"));
        QCOMPARE(demo.Z2PComboDrive->currentText(), QStringLiteral("E:"));
        SavePicture(&demo, "window");
        demo.PageControl1->setCurrentIndex(1);
        SavePicture(&demo, "main-export");
        // The list scrolled to its FORMAT column.
        demo.ListView->horizontalScrollBar()->setValue(
            demo.ListView->horizontalScrollBar()->maximum());
        SavePicture(&demo, "export-formats");
        // The question before a file is converted.
        const th::AudioFormat mix{th::SampleType::Float, 32, 2, 48000, 8};
        const std::unique_ptr<QMessageBox> ask = th::MakeMessageBox(
            th::TExportJob::ConvertQuestion("F:\\Music\\Takes\\Bass final.wav", mix, 44100),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, &demo);
        ask->show();
        QVERIFY(QTest::qWaitForWindowExposed(ask.get()));
        SavePicture(ask.get(), "convert-question");
        ask->close();
        dialog->SetLabel("Track1");
        dialog->SetMax(1000);
        dialog->SetPosition(400);
        dialog->ShowProgress();
        SavePicture(dialog, "progress");
        dialog->CloseProgress();
    }

    void windowGrowsAndShrinksBack() {
        ShowTab(1); // the list takes its page's width when the page is first shown
        ShowTab(0);
        const auto designed = Places(form.get());
        const QRect tree = form->TreeView->geometry();
        const QRect list = form->ListView->geometry();
        ShowTab(1);
        const QRect exportButton = form->P2ZBtnConv->geometry();
        form->resize(1007, 583);
        ShowTab(0);
        ShowTab(1);
        // The tree and the WAV list take the room; the form keeps its place and its size.
        QCOMPARE(form->TreeView->geometry(), QRect(0, 0, tree.width() + 200, 583));
        QCOMPARE(form->PageControl1->geometry(), QRect(432, 8, 569, 569));
        QCOMPARE(form->ListView->geometry().size(),
                 QSize(form->TabSheet2->width(), list.height() + 200));
        QCOMPARE(form->P2ZBtnConv->geometry(), exportButton.translated(0, 200));
        QCOMPARE(form->Z2PBtnConv->geometry(), QRect(240, 288, 81, 33));
        // Back at its size the window is laid out exactly as designed.
        form->resize(607, 383);
        ShowTab(0);
        ShowTab(1);
        ShowTab(0);
        const auto after = Places(form.get());
        for (const auto& [name, place] : designed)
            QVERIFY2(after.at(name) == place, qPrintable(name + QStringLiteral(" %1,%2 %3x%4")
                                                                    .arg(after.at(name).x())
                                                                    .arg(after.at(name).y())
                                                                    .arg(after.at(name).width())
                                                                    .arg(after.at(name).height())));

        // A long folder name shows in full when pointed at.
        const std::string name(120, 'n');
        fs::create_directories(pc->path() / name);
        form->SelectFolder(Drive(pc->path() / name));
        QCOMPARE(Current()->toolTip(0), QString::fromStdString(name));
    }

    void maximisedByTheWindowManager() {
        if (!OnScreen() || qEnvironmentVariableIsEmpty("TRACKHAUL_WM"))
            QSKIP("needs a window manager (the run under openbox)");
        ShowTab(1);
        ShowTab(0);
        const auto designed = Places(form.get());
        form->showMaximized();
        QTRY_VERIFY(form->width() > 1000 && form->height() > 700);
        QCOMPARE(form->TreeView->height(), form->height());
        QVERIFY(form->TreeView->width() > 225 + 100);
        ShowTab(1);
        QVERIFY(form->ListView->height() > 161 + 200);
        form->showNormal();
        QTRY_COMPARE(form->size(), QSize(607, 383));
        ShowTab(0);
        ShowTab(1);
        ShowTab(0);
        QVERIFY(Places(form.get()) == designed);
    }

    void settingsComeBackAtTheNextLaunch() {
        fs::create_directories(pc->path() / "takes");
        Choose(form->Z2PComboName, "SONGC");
        QTest::mouseClick(form->Z2PTr[1], Qt::LeftButton);
        form->SelectFolder(Drive(pc->path() / "takes"));
        form->resize(800, 500);
        QVERIFY(form->close());
        form.reset();

        // The card comes back under another letter: it is found by its folder.
        driveE.reset();
        MappedDrive h("H:", cardE->path());
        auto again = std::make_unique<th::TMAIN_FORM>(msgs);
        QCOMPARE(again->Z2PComboDrive->currentText(), QStringLiteral("H:"));
        QCOMPARE(again->Z2PComboName->currentText(), QStringLiteral("SONGC"));
        QCOMPARE(again->P2ZComboName->currentText(), QStringLiteral("SONGC"));
        QCOMPARE(again->Sel.SampleRate, 22050);
        QVERIFY(!again->Z2PTr[1]->isChecked() && again->Z2PTr[0]->isChecked());
        QCOMPARE(th::TMAIN_FORM::NodePath(again->TreeView->currentItem()),
                 Drive(pc->path() / "takes"));
        QCOMPARE(again->size(), QSize(800, 500));
        QVERIFY(again->close());
        again.reset();

        // A folder that has gone: the start folder instead. Nothing remembered: a first launch.
        fs::remove(pc->path() / "takes");
        auto third = std::make_unique<th::TMAIN_FORM>(msgs);
        QCOMPARE(th::TMAIN_FORM::NodePath(third->TreeView->currentItem()), Drive(MusicFolder()));
        third.reset();
        ForgetSettings();
        th::TMAIN_FORM first(msgs);
        QCOMPARE(first.size(), QSize(607, 383));
        QCOMPARE(first.Z2PComboName->currentIndex(), 0);
        QVERIFY(msgs.messages.empty());
    }

    void listsFollowTheCard() {
        fs::create_directories(pc->path() / "Old");
        form->SelectFolder(Drive(pc->path()));
        QTreeWidgetItem* node = Current();
        QVERIFY(node->isExpanded());
        ShowTab(1);
        // A song added and one removed: the list follows, the chosen song stays.
        fs::create_directories(cardE->path() / "SONGD");
        QTRY_VERIFY_WITH_TIMEOUT(form->Z2PComboName->findText("SONGD") >= 0, 5000);
        QCOMPARE(form->P2ZComboName->findText("SONGD"), form->Z2PComboName->findText("SONGD"));
        QCOMPARE(form->Z2PComboName->currentText(), QStringLiteral("SONGA"));
        fs::remove_all(cardE->path() / "SONGB");
        QTRY_COMPARE_WITH_TIMEOUT(form->Z2PComboName->findText("SONGB"), -1, 5000);
        QCOMPARE(form->Z2PComboName->currentText(), QStringLiteral("SONGA"));
        // A folder added under an expanded one, another removed; a WAV file in the selected one.
        fs::create_directories(pc->path() / "New");
        fs::remove(pc->path() / "Old");
        QTRY_COMPARE_WITH_TIMEOUT(ChildTexts(node), QStringList({"New"}), 5000);
        QCOMPARE(Current(), node);
        WriteFile(pc->path() / "tr02.wav", MakeWav(Pattern(100, 1)));
        QTRY_COMPARE_WITH_TIMEOUT(ListNames(), QStringList({"tr02.wav"}), 5000);
        QCOMPARE(ExportEnabled(),
                 QList<bool>({false, true, false, false, false, false, false, false}));

        // The card's folder goes: its drive and songs go, the buttons disable.
        cardE.reset();
        QTRY_COMPARE_WITH_TIMEOUT(form->Z2PComboDrive->findText("E:"), -1, 5000);
        QCOMPARE(form->Z2PComboName->count(), 0);
        QVERIFY(!form->Z2PBtnConv->isEnabled() && !form->P2ZBtnConv->isEnabled());
    }

    void keyboard() {
        Activate();
        // Tab walks the import tab from the top: drive, song, the tracks, the button.
        form->Z2PComboDrive->setFocus();
        const std::vector<QWidget*> order = {
            form->Z2PComboName, form->Z2PTr[0], form->Z2PTr[1], form->Z2PTr[2], form->Z2PTr[3],
            form->Z2PTr[4],     form->Z2PTr[5], form->Z2PTr[6], form->Z2PTr[7], form->Z2PBtnConv};
        for (QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        // Alt and the underlined letter: labels give the focus to their box, the group to
        // its track box used last.
        for (const auto& [key, target] :
             std::vector<std::pair<Qt::Key, QWidget*>>{{Qt::Key_S, form->Z2PComboName},
                                                       {Qt::Key_D, form->Z2PComboDrive},
                                                       {Qt::Key_T, form->Z2PTr[7]}}) {
            QTest::keyClick(QApplication::focusWidget(), key, Qt::AltModifier);
            QCOMPARE(QApplication::focusWidget(), target);
        }
        // Ctrl+Tab and Ctrl+PgDn switch between the two visible tabs, from the tree too.
        form->TreeView->setFocus();
        for (const auto& [key, modifiers, tab] :
             std::vector<std::tuple<Qt::Key, Qt::KeyboardModifiers, int>>{
                 {Qt::Key_Tab, Qt::ControlModifier, 1},
                 {Qt::Key_Tab, Qt::ControlModifier, 0},
                 {Qt::Key_PageDown, Qt::ControlModifier, 1},
                 {Qt::Key_PageDown, Qt::ControlModifier, 0},
                 {Qt::Key_PageUp, Qt::ControlModifier, 1},
                 {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, 0}}) {
            QTest::keyClick(QApplication::focusWidget(), key, modifiers);
            QCOMPARE(form->PageControl1->currentIndex(), tab);
        }
        // On the export tab the list comes first, then the form from the top.
        ShowTab(1);
        form->ListView->setFocus();
        QTest::keyClick(form->ListView, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form->P2ZComboDrive);
        ShowTab(0);

        // The tree shows whether it has the focus.
        form->TreeView->setFocus();
        const QColor focused = form->TreeView->palette().color(QPalette::Highlight);
        form->Z2PComboName->setFocus();
        QVERIFY(form->TreeView->palette().color(QPalette::Highlight) != focused);

        // After the last message of an Import pressed from the keyboard, the focus is back on
        // the button: a letter typed then doesn't change the song.
        form->SelectFolder(Drive(pc->path()));
        form->Z2PBtnConv->setFocus();
        QTest::keyClick(form->Z2PBtnConv, Qt::Key_Space);
        QCOMPARE(msgs.messages, std::vector<std::string>({"Complete!"}));
        QTRY_COMPARE(QApplication::focusWidget(), form->Z2PBtnConv);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_S);
        QCOMPARE(form->Z2PComboName->currentText(), QStringLiteral("SONGA"));
        // Alt+I is the button.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_I, Qt::AltModifier);
        QTRY_COMPARE(msgs.messages.size(), size_t(2));
    }

    void importWarnsAboutOddTimes() {
        WriteFile(cardE->path() / "SONGA" / "SONGA.ADL",
                  AdlText(44100, kTc25,
                          {EventLine(1, 1, "ZT60001.WAV", kTc25, kTc25, "00.00.xx.12|0882"),
                           EventLine(2, 8, "ZT60001.WAV", kTc25, kTc25, "bad")}));
        Choose(form->Z2PComboName, "SONGA");
        for (std::size_t i = 1; i < 8; ++i)
            form->Z2PTr[i]->setChecked(false);
        form->SelectFolder(Drive(pc->path()));
        // The dialog starts the run with a fresh label and a live Cancel, which goes grey once
        // the run is over.
        wave->SetLabel("Track8");
        // An older take makes the run ask while it renders.
        WriteFile(pc->path() / "tr01.wav", "old take");
        QString labelAtStart;
        bool cancelDuringRun = false;
        msgs.onAsk = [&](const std::string&) {
            if (msgs.questions.size() == 1)
                labelAtStart = wave->Label1->text();
            else
                cancelDuringRun = wave->BTN_Cancel->isEnabled();
        };
        QTest::mouseClick(form->Z2PBtnConv, Qt::LeftButton);
        QCOMPARE(labelAtStart, QString());
        QVERIFY(cancelDuringRun);
        QVERIFY(!wave->BTN_Cancel->isEnabled());
        // Only the ticked track's times are told of.
        QCOMPARE(msgs.messages,
                 std::vector<std::string>({"Complete!\r\n\r\nWarning: SONGA.ADL, line 13: dest out "
                                           "'00.00.xx.12|0882' is not a well-formed time; read "
                                           "as 0:00:00.500"}));
        QCOMPARE(fs::file_size(pc->path() / "tr01.wav"), std::uintmax_t(46 + 2 * 22050));
    }

    void messageBoxesFitTheirCaption() {
        for (int pixels : {12, 24, 48}) {
            QFont font(QStringLiteral("Arial"));
            font.setPixelSize(pixels);
            QFont bold = font;
            bold.setBold(true);
            const int width = th::MessageBoxWidthFor(QStringLiteral("Trackhaul"), font);
            QVERIFY(width >= th::kMessageBoxMinWidth);
            QVERIFY(width >= QFontMetrics(bold).horizontalAdvance("Trackhaul") + 4 * pixels);
        }
    }

    void startOptions() {
        const th::StartOptions o =
            th::ParseStartOptions({"--drive", "e:=/a b", "--drive=F:=/c", "--demo"});
        QCOMPARE(o.drives.size(), size_t(2));
        QCOMPARE(o.drives[0].first, std::string("E:"));
        QCOMPARE(o.drives[0].second, std::string("/a b"));
        QCOMPARE(o.drives[1].first, std::string("F:"));
        QVERIFY(o.demo);
        const std::vector<std::vector<std::string>> wrong = {
            {"--drive"}, {"--drive", "E:/x"}, {"--drive", "C:=/x"}, {"--bogus"}, {"E:=/x"}};
        for (const auto& args : wrong)
            QVERIFY_THROWS_EXCEPTION(std::invalid_argument, th::ParseStartOptions(args));

        const QByteArray old = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", "/some/cache");
        QCOMPARE(th::DemoCardFolder(), std::string("/some/cache/trackhaul/demo-card"));
        qputenv("XDG_CACHE_HOME", old);
    }
};

int RunStartFolderTests(int argc, char** argv);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A home of the tests' own, with a music folder: the window starts there and keeps its
    // settings there, never in the real user's.
    TempDir home;
    fs::create_directories(home / "Music");
    qputenv("HOME", QByteArray::fromStdString(home.path().string()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((home / ".config").string()));
    th::TApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString((home / ".config").string()));
    WindowTest test;
    const int failed = QTest::qExec(&test, argc, argv);
    // Functions named on the command line are the window's: the start folder's tests then
    // run without them.
    bool named = false;
    for (int i = 1; i < argc; ++i)
        named = named || argv[i][0] != '-';
    return RunStartFolderTests(named ? 1 : argc, argv) + failed;
}

#include "WindowTest.moc"
