// The window on the real widgets, without a screen: selection, folder tree, WAV list,
// transfers from the buttons, the progress dialog and the check page.
#include "app/Application.h"
#include "app/Main.h"
#include "support/TestSupport.h"

#include "platform/Platform.h"
#include "transfer/DemoCard.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// Answers questions from a queue (OK when empty) and records every text.
class FakeMessages : public th::UserMessages {
public:
    std::vector<std::string> questions;
    std::vector<std::string> messages;
    std::deque<bool> answers;
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
    void Message(const std::string& text) override { messages.push_back(text); }
};

const std::string kTc25 = "00.00.00.00|0000";

std::string Drive(const fs::path& p) {
    return platform::ToDrivePath(p.string());
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
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
    void ShowTab(int index) {
        QTabBar* bar = form->PageControl1->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
        QCOMPARE(form->PageControl1->currentIndex(), index);
    }

    // A folder of track files next to the test program, for the pictures: the tree then
    // shows the build folder and nothing else of the machine.
    static fs::path TakesFolder() { return fs::path(TRACKHAUL_PICTURES).parent_path() / "Takes"; }

private slots:
    void initTestCase() {
        // Made before any window reads the tree.
        const fs::path takes = TakesFolder();
        fs::remove_all(takes);
        fs::create_directories(takes);
        WriteFile(takes / "tr01.wav", MakeWav(Pattern(88200, 1)));
        WriteFile(takes / "tr02.wav", MakeWav(Pattern(132300, 2)));
        WriteFile(takes / "tr04.wav", MakeWav(Pattern(44100, 4)));
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
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
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
        QCOMPARE(form->Z2PGrpTrack->title(), QStringLiteral("Select Track"));
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
        // The tree stands on the program's folder.
        QCOMPARE(th::TMAIN_FORM::NodePath(Current()), platform::ProgramFolder());

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

        // Pictures with a folder of track files chosen.
        const fs::path takes = TakesFolder();
        form->SelectFolder(Drive(takes));
        QCOMPARE(th::TMAIN_FORM::NodePath(Current()), Drive(takes));
        SavePicture(form.get(), "main-import");
        ShowTab(1);
        SavePicture(form.get(), "main-export");
        wave->SetLabel("Track1");
        wave->SetMax(1000);
        wave->SetPosition(400);
        wave->ShowProgress();
        SavePicture(wave, "progress");
        wave->CloseProgress();
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
            {"mono8.wav", "44.1kHz", "8bit", "?", "1KB"},
            {"Song.WAV", "48kHz", "16bit", "ST", "4KB"},
            {"tr01.wav", "44.1kHz", "16bit", "MON", "2KB"},
            {"tr03.wav", "22.05kHz", "16bit", "MON", "1KB"},
        };
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 5; ++c)
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

        // After a transfer every repaint puts the focus on the visible tab's song combo.
        form->TreeView->setFocus();
        form->repaint();
        QCOMPARE(form->focusWidget(), form->Z2PComboName);
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
        QVERIFY(wave->BTN_Cancel->isEnabled());
        QVERIFY(!wave->isVisible());
        QCOMPARE(wave->Max(), std::uint32_t(fs::file_size(pc->path() / "tr01.wav")));
        QVERIFY(fs::exists(cardE->path() / "SONGA" / "zt60002.wav"));
        const std::string adl = ReadFile(cardE->path() / "SONGA" / "SONGA.ADL");
        QVERIFY(adl.find("\t\t(Entry)\t0003\t(Cut)\tF\t\"ZT60002.WAV\"\t1\t1\t") !=
                std::string::npos);
        QVERIFY(adl.size() > 24 && adl.substr(adl.size() - 24) == "\t</EVENT_LIST>\r\n</ADL>\r\n");
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
        // The tree stays on its root.
        QCOMPARE(bare.TreeView->currentItem(), bare.TreeView->topLevelItem(0));
        QVERIFY(msgs.messages.empty());
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
    th::TApplication app(argc, argv);
    WindowTest test;
    const int failed = QTest::qExec(&test, argc, argv);
    return RunStartFolderTests(argc, argv) + failed;
}

#include "WindowTest.moc"
