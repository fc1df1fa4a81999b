// The song map's window on the real widgets without a screen, and its two text forms read
// back by real parsers: JSON with its documented keys, SVG as XML with eight lanes.
#include "app/SongMapWindow.h"
#include "app/Application.h"
#include "app/Main.h"
#include "support/TestSupport.h"

#include "song/Tc2w.h"
#include "transfer/SongMapFormat.h"

#include <QComboBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QTest>
#include <QWheelEvent>
#include <QXmlStreamReader>

#include <filesystem>
#include <memory>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

class Messages : public th::UserMessages {
public:
    std::vector<std::string> texts;
    bool Ask(const std::string& text) override {
        texts.push_back(text);
        return true;
    }
    void Message(const std::string& text) override { texts.push_back(text); }
};

// Timecode of a time in seconds at 44100 Hz, 25 fps.
std::string At(double seconds) {
    return th::TTC2W().SamplesToTc(static_cast<th::SampleCount>(seconds * 44100), 44100, 25, false);
}

std::string Cut(int entry, int track, const std::string& file, double src, double in, double out) {
    return EventLine(entry, track, file, At(src), At(in), At(out));
}

// A session's list: takes on six tracks, punch-ins over them, silences, an event hidden
// wholly by a later one, and a silence that cuts a track short.
std::string SessionList() {
    return AdlText(44100, "00.00.00.00|0000",
                   {Cut(1, 1, "ZT60001.WAV", 0, 0, 42), Cut(2, 2, "ZT60002.WAV", 0, 2, 40),
                    Cut(3, 3, "ZT60003.WAV", 0, 0, 38), Cut(4, 4, "ZT60004.WAV", 0, 8, 30),
                    Cut(5, 5, "ZT60005.WAV", 0, 0, 44), Cut(6, 6, "ZT60006.WAV", 0, 12, 36),
                    Cut(7, 2, "ZT60007.WAV", 14, 14, 20), Cut(8, 2, "ZT60008.WAV", 26, 26, 31),
                    SilenceLine(9, 3, At(16), At(22)), Cut(10, 1, "ZT60009.WAV", 18, 18, 24),
                    Cut(11, 4, "ZT60010.WAV", 0, 0, 4), SilenceLine(12, 5, At(34), At(48)),
                    Cut(13, 6, "ZT60011.WAV", 0, 10, 38), Cut(14, 3, "ZT60012.WAV", 30, 30, 33)});
}

QStringList Keys(const QJsonObject& o) {
    QStringList keys = o.keys();
    keys.sort();
    return keys;
}

QStringList Sorted(QStringList keys) {
    keys.sort();
    return keys;
}

} // namespace

class SongMapWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> card;
    std::unique_ptr<MappedDrive> drive;
    Messages msgs;
    std::unique_ptr<th::TMAIN_FORM> form;

    th::SongMapWindow* MapWindow() {
        return form->findChild<th::SongMapWindow*>(QString(), Qt::FindDirectChildrenOnly);
    }
    void SelectSong(const char* name) {
        const int index = form->Z2PComboName->findText(name);
        QVERIFY(index >= 0);
        form->Z2PComboName->setCurrentIndex(index);
        emit form->Z2PComboName->activated(index);
        QCOMPARE(form->Sel.SongName(), std::string(name));
    }

private slots:
    void init() {
        msgs = Messages();
        card = std::make_unique<TempDir>();
        fs::create_directories(card->path() / "SESSION");
        fs::create_directories(card->path() / "NOLIST");
        WriteFile(card->path() / "SESSION" / "SESSION.ADL", SessionList());
        drive = std::make_unique<MappedDrive>("E:", card->path());
        form = std::make_unique<th::TMAIN_FORM>(msgs);
        form->CreateWaveForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        SelectSong("SESSION");
    }

    void cleanup() {
        form.reset();
        drive.reset();
        card.reset();
    }

    void f3OpensTheMapWithoutMovingTheWindow() {
        const QRect combo = form->Z2PComboName->geometry();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QTest::keyClick(form.get(), Qt::Key_F3);
        th::SongMapWindow* map = MapWindow();
        QVERIFY(map);
        QTRY_VERIFY(map->isVisible());
        QCOMPARE(map->windowTitle(), QStringLiteral("Song map"));
        QVERIFY(!map->isModal());
        QVERIFY(map->isWindow());
        QCOMPARE(form->Z2PComboName->geometry(), combo);
        QCOMPARE(form->size(), QSize(607, 383));
        QVERIFY(map->Header->text().startsWith("SESSION    44100 Hz    length 0:00:42.000"));

        // The punch-in on track 2 and what it hides of the take under it.
        th::SongMapView* view = map->View;
        const QRect lane = view->LaneRect(2);
        const int x = static_cast<int>(view->XOf(17 * 44100.0));
        const QString tip = view->TipAt(QPoint(x, lane.top() + 10));
        // The card holds no takes: the tip says so.
        QCOMPARE(tip, QStringLiteral("TR2  Entry 0007\nZT60007.WAV\n0:00:14.000 - "
                                     "0:00:20.000\nfrom 0:00:14.000 in the source\nfile "
                                     "missing from the song folder"));
        QCOMPARE(view->TipAt(QPoint(x, lane.bottom() - 2)),
                 QStringLiteral("TR2  Entry 0002\nZT60002.WAV\n0:00:14.000 - 0:00:20.000, not "
                                "heard"));
        QCOMPARE(view->TipAt(QPoint(x, view->LaneRect(8).top() + 10)), QString());

        QDir().mkpath(TRACKHAUL_PICTURES);
        QVERIFY(map->grab().save(QStringLiteral(TRACKHAUL_PICTURES "/song-map.png")));

        // A second F3 brings the same window back.
        map->hide();
        QTest::keyClick(form.get(), Qt::Key_F3);
        QCOMPARE(MapWindow(), map);
        QVERIFY(map->isVisible());
    }

    void missingTakesAndOddTimesAreMarked() {
        // Track 1: a take whose file is there; track 2: one whose file isn't; track 3: an
        // event whose dest out has no digits in its seconds, so that it reads as ending
        // before it starts.
        fs::create_directories(card->path() / "MARKS");
        WriteFile(card->path() / "MARKS" / "zt60001.wav", MakeWav(Pattern(1000, 1)));
        WriteFile(card->path() / "MARKS" / "MARKS.ADL",
                  AdlText(44100, "00.00.00.00|0000",
                          {Cut(1, 1, "ZT60001.WAV", 0, 0, 4), Cut(2, 2, "ZT60009.WAV", 0, 0, 4),
                           EventLine(3, 3, "ZT60001.WAV", At(0), At(2), "00.00.xx.12|0882"),
                           Cut(4, 3, "ZT60001.WAV", 0, 0, 1)}));
        form->Z2PComboName->clear();
        form->P2ZComboName->clear();
        form->LoadSongList("E:");
        SelectSong("MARKS");
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QTest::keyClick(form.get(), Qt::Key_F3);
        th::SongMapWindow* map = MapWindow();
        QVERIFY(map);
        th::SongMapView* view = map->View;
        const int at = static_cast<int>(view->XOf(0.5 * 44100));
        QVERIFY(!view->TipAt(QPoint(at, view->LaneRect(1).top() + 10)).contains("missing"));
        QVERIFY(view->TipAt(QPoint(at, view->LaneRect(2).top() + 10))
                    .endsWith("\nfile missing from the song folder"));
        // The missing take is drawn in its own red; the shrunk event is framed in red where
        // it starts, though nothing of it plays.
        const QImage image = view->grab().toImage();
        const auto reddish = [&](int track, int x) {
            const QRect lane = view->LaneRect(track);
            for (int y = lane.top(); y < lane.top() + 24; ++y) {
                const QColor c = image.pixelColor(x, y);
                if (c.red() > 150 && c.green() < 80 && c.blue() < 80)
                    return true;
            }
            return false;
        };
        QVERIFY(!reddish(1, at));
        QVERIFY(reddish(2, at));
        QVERIFY(reddish(3, static_cast<int>(view->XOf(2 * 44100)) + 1));
    }

    void contextMenuOfBothSongBoxes_data() {
        QTest::addColumn<bool>("exportTab");
        QTest::newRow("import tab") << false;
        QTest::newRow("export tab") << true;
    }

    void contextMenuOfBothSongBoxes() {
        QFETCH(bool, exportTab);
        form->PageControl1->setCurrentIndex(exportTab ? 1 : 0);
        QComboBox* combo = exportTab ? form->P2ZComboName : form->Z2PComboName;
        QCOMPARE(combo->contextMenuPolicy(), Qt::CustomContextMenu);
        emit combo->customContextMenuRequested(QPoint(5, 5));
        auto* menu = combo->findChild<QMenu*>("SongMapMenu");
        QVERIFY(menu);
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions().front()->text(), QStringLiteral("Song map"));
        menu->actions().front()->trigger();
        menu->close();
        QVERIFY(MapWindow() && MapWindow()->isVisible());
        QCOMPARE(MapWindow()->View->Map().song, std::string("SESSION"));
    }

    void wheelZoomsAroundThePointer() {
        th::SongMapWindow* map = th::OpenSongMap(*form);
        QVERIFY(map);
        QVERIFY(QTest::qWaitForWindowExposed(map));
        th::SongMapView* view = map->View;
        QCOMPARE(map->Zoom(), 1.0);
        QCOMPARE(view->width(), map->Scroll->viewport()->width());

        auto turn = [&](int notches, double atSample) {
            const QPointF at(view->XOf(atSample), view->LaneRect(1).center().y());
            QWheelEvent wheel(at, view->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(view, &wheel);
            // The time under the pointer stays where it was on the screen.
            const int onScreen =
                static_cast<int>(at.x()) - map->Scroll->horizontalScrollBar()->value();
            return onScreen;
        };
        const double sample = 30 * 44100.0;
        const int before = static_cast<int>(view->XOf(sample));
        turn(4, sample);
        QVERIFY(map->Zoom() > 2.4 && map->Zoom() < 2.5);
        QVERIFY(view->width() > 2 * map->Scroll->viewport()->width());
        const int after =
            static_cast<int>(view->XOf(sample)) - map->Scroll->horizontalScrollBar()->value();
        QVERIFY2(std::abs(after - before) <= 2,
                 qPrintable(QString("%1 %2").arg(before).arg(after)));
        turn(-20, sample); // never smaller than the whole song
        QCOMPARE(map->Zoom(), 1.0);
        QCOMPARE(view->width(), map->Scroll->viewport()->width());
    }

    // Where the map goes beside a 600×400 main window.
    void placedBesideTheMainWindow_data() {
        QTest::addColumn<QRect>("main");
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("expected");
        const QSize size(900, 500), least(360, 240);
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("least");
        QTest::newRow("room on the right, level with its top")
            << QRect(0, 100, 600, 400) << QRect(0, 0, 1920, 1080) << QRect(600, 100, 900, 500)
            << size << least;
        QTest::newRow("right edge of the screen: on the left")
            << QRect(1300, 50, 600, 400) << QRect(0, 0, 1920, 1080) << QRect(400, 50, 900, 500)
            << size << least;
        QTest::newRow("no room on either side: below")
            << QRect(200, 0, 600, 400) << QRect(0, 0, 1280, 1024) << QRect(200, 400, 900, 500)
            << size << least;
        QTest::newRow("above, moved left into the screen")
            << QRect(600, 600, 600, 400) << QRect(0, 0, 1280, 1024) << QRect(380, 100, 900, 500)
            << size << least;
        QTest::newRow("screen with an offset: right of it")
            << QRect(-1900, 0, 600, 400) << QRect(-1920, 0, 1920, 1080) << QRect(-1300, 0, 900, 500)
            << size << least;
        QTest::newRow("no side for all of it: the largest, cut to it")
            << QRect(0, 0, 600, 400) << QRect(0, 0, 1024, 768) << QRect(0, 400, 900, 368) << size
            << least;
        QTest::newRow("a screen too small for both: on it, over the window")
            << QRect(0, 0, 607, 410) << QRect(0, 0, 720, 450) << QRect(0, 0, 720, 450) << size
            << least;
        QTest::newRow("too small, the window to the right: as far right as it goes")
            << QRect(100, 30, 500, 400) << QRect(0, 0, 720, 450) << QRect(0, 0, 720, 450) << size
            << least;
        QTest::newRow("no room at its smallest: over the least of it")
            << QRect(0, 0, 600, 400) << QRect(0, 0, 1024, 768) << QRect(0, 268, 900, 500) << size
            << QSize(480, 400);
        QTest::newRow("a small map fits right of it")
            << QRect(100, 30, 500, 400) << QRect(0, 0, 1000, 450) << QRect(600, 30, 400, 300)
            << QSize(400, 300) << least;
    }

    void placedBesideTheMainWindow() {
        QFETCH(QRect, main);
        QFETCH(QRect, screen);
        QFETCH(QRect, expected);
        QFETCH(QSize, size);
        QFETCH(QSize, least);
        const QRect place = th::PlaceBeside(main, size, least, screen);
        QCOMPARE(place, expected);
        QVERIFY(screen.contains(place));
    }

    // On any screen the map opens on it, at least its smallest size fits, and it stays off the
    // main window wherever the screen leaves room for that.
    void opensOnTheScreenBesideTheWindow() {
        th::SongMapWindow* map = th::OpenSongMap(*form);
        QVERIFY(map);
        QVERIFY(QTest::qWaitForWindowExposed(map));
        const QRect screen = form->screen()->availableGeometry();
        const QRect main = form->frameGeometry();
        QTRY_VERIFY2(screen.contains(map->frameGeometry()),
                     qPrintable(QStringLiteral("%1,%2 %3x%4 on %5x%6")
                                    .arg(map->frameGeometry().x())
                                    .arg(map->frameGeometry().y())
                                    .arg(map->frameGeometry().width())
                                    .arg(map->frameGeometry().height())
                                    .arg(screen.width())
                                    .arg(screen.height())));
        QVERIFY(map->minimumSizeHint().height() <= screen.height() / 2);
        const int frameHeight = main.height() - form->height();
        const int least = th::SongMapView::HeightFor(th::SongMapView::kMinLaneHeight) + 60;
        const bool room = screen.right() - main.right() >= 480 + 20 ||
                          main.left() - screen.left() >= 480 + 20 ||
                          screen.bottom() - main.bottom() >= least + frameHeight ||
                          main.top() - screen.top() >= least + frameHeight;
        if (room)
            QVERIFY(!map->frameGeometry().intersects(main));
        // All eight lanes in view, the ruler above them.
        QVERIFY2(map->View->LaneRect(8).bottom() < map->Scroll->viewport()->height(),
                 qPrintable(QStringLiteral("%1 %2")
                                .arg(map->View->LaneRect(8).bottom())
                                .arg(map->Scroll->viewport()->height())));
    }

    // The lanes share the window's height, down to their smallest; below that the map scrolls.
    void lanesGrowWithTheWindow_data() {
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("allInView");
        QTest::newRow("tall") << 900 << true;
        QTest::newRow("first size") << 504 << true;
        QTest::newRow("low") << 340 << true;
        QTest::newRow("lower than the smallest lanes") << 200 << false;
    }

    void lanesGrowWithTheWindow() {
        QFETCH(int, height);
        QFETCH(bool, allInView);
        th::SongMapWindow* map = th::OpenSongMap(*form);
        QVERIFY(map);
        map->resize(900, height);
        QVERIFY(QTest::qWaitForWindowExposed(map));
        QTRY_COMPARE(map->height(), height);
        th::SongMapView* view = map->View;
        const int viewport = map->Scroll->viewport()->height();
        QCOMPARE(view->LaneHeight(), std::max(th::SongMapView::kMinLaneHeight,
                                              (viewport - th::SongMapView::HeightFor(0)) / 8));
        QCOMPARE(view->LaneRect(8).bottom() < viewport, allInView);
        // At the whole song's width no scrolling, up and down only when the lanes can't shrink.
        QTRY_VERIFY(!map->Scroll->horizontalScrollBar()->isVisible());
        QTRY_COMPARE(map->Scroll->verticalScrollBar()->isVisible(), !allInView);
        // What is heard keeps its share of each lane, what is hidden the band below it.
        QVERIFY(view->PlayHeight() >= view->LaneHeight() / 2);
        QVERIFY(view->PlayHeight() + 8 < view->LaneHeight());
        // The hidden part of entry 0002 under the punch-in is found in its band.
        const int x = static_cast<int>(view->XOf(17 * 44100.0));
        QVERIFY(view->TipAt(QPoint(x, view->LaneRect(2).bottom() - 2)).endsWith("not heard"));
        if (height == 900)
            QVERIFY(view->LaneHeight() > th::SongMapView::kLaneHeight * 3 / 2);
    }

    // Zoomed in and scrolled, the TR labels are drawn at the left of what is in view and
    // still solo their track.
    void labelsStayInViewWhenZoomed() {
        th::SongMapWindow* map = th::OpenSongMap(*form);
        QVERIFY(map);
        QVERIFY(QTest::qWaitForWindowExposed(map));
        map->resize(900, 504);
        QTRY_COMPARE(map->height(), 504);
        map->SetZoom(8, 0);
        QScrollBar* bar = map->Scroll->horizontalScrollBar();
        bar->setValue(bar->maximum() / 2);
        th::SongMapView* view = map->View;
        QVERIFY(bar->value() > 1000);
        QCOMPARE(view->LabelLeft(), bar->value());
        QCoreApplication::processEvents();
        const QImage shown = map->Scroll->viewport()->grab().toImage();
        const qreal dpr = shown.devicePixelRatio();
        const QColor ink = view->palette().color(QPalette::Text);
        for (int track : {1, 5, 8}) {
            const QRect lane = view->LaneRect(track);
            int inked = 0;
            for (int x = 4; x < th::SongMapView::kLeft - 6; ++x)
                for (int y = lane.center().y() - 6; y <= lane.center().y() + 6; ++y)
                    inked += shown.pixelColor(QPointF(QPointF(x, y) * dpr).toPoint()) == ink;
            QVERIFY2(inked > 10, qPrintable(QStringLiteral("TR%1: %2").arg(track).arg(inked)));
        }
        // No tip of a box under the labels; a click there solos, and moves no cursor.
        const QPoint onLabel(bar->value() + 10, view->LaneRect(4).center().y());
        QCOMPARE(view->TipAt(onLabel), QString());
        QTest::mouseClick(view, Qt::LeftButton, {}, onLabel);
        QCOMPARE(view->Solo(), (std::array<bool, 8>{false, false, false, true}));
        QCOMPARE(view->Cursor(), th::SampleCount(0));
        const QPoint right(onLabel.x() + th::SongMapView::kLeft + 20, onLabel.y());
        QTest::mouseClick(view, Qt::LeftButton, {}, right);
        QCOMPARE(view->Cursor(), view->SampleAt(right.x()));
        // Scrolled back to the start, the labels are where they were.
        bar->setValue(0);
        QCOMPARE(view->LabelLeft(), 0);
    }

    void escapeClosesTheMap() {
        th::SongMapWindow* map = th::OpenSongMap(*form);
        QVERIFY(map);
        QVERIFY(QTest::qWaitForWindowExposed(map));
        QTest::keyClick(map, Qt::Key_Escape);
        QTRY_VERIFY(!map->isVisible());
        QVERIFY(form->isVisible());
        // F3 opens it again.
        QVERIFY(th::OpenSongMap(*form) == map && map->isVisible());
    }

    // The canvas takes its colours from the palette: a dark theme gets a dark map.
    void canvasFollowsThePalette_data() {
        QTest::addColumn<QColor>("base");
        QTest::addColumn<QColor>("text");
        QTest::newRow("light") << QColor(Qt::white) << QColor(Qt::black);
        QTest::newRow("dark") << QColor(0x1e, 0x1e, 0x1e) << QColor(0xe8, 0xe8, 0xe8);
    }

    void canvasFollowsThePalette() {
        QFETCH(QColor, base);
        QFETCH(QColor, text);
        th::SongMapWindow* map = th::OpenSongMap(*form);
        QVERIFY(map);
        QPalette palette = map->palette();
        palette.setColor(QPalette::Base, base);
        palette.setColor(QPalette::Text, text);
        map->setPalette(palette);
        QVERIFY(QTest::qWaitForWindowExposed(map));
        th::SongMapView* view = map->View;
        const QImage image = view->grab().toImage();
        const qreal dpr = image.devicePixelRatio();
        auto pixel = [&](int x, int y) {
            return image.pixelColor(QPointF(QPointF(x, y) * dpr).toPoint());
        };
        // Above the ruler's marks; the empty lane 8; its label.
        QCOMPARE(pixel(view->width() - 4, 2), base);
        const QRect lane = view->LaneRect(8);
        const QColor empty = pixel(lane.center().x(), lane.center().y());
        QVERIFY(std::abs(empty.lightness() - base.lightness()) < 30);
        int inked = 0;
        for (int x = 4; x < th::SongMapView::kLeft - 6; ++x)
            for (int y = lane.center().y() - 6; y <= lane.center().y() + 6; ++y)
                inked += pixel(x, y) == text;
        QVERIFY(inked > 10);
        if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
            QDir().mkpath(TRACKHAUL_PICTURES);
            QVERIFY(map->grab().save(QStringLiteral(TRACKHAUL_PICTURES "/song-map-%1.png")
                                         .arg(QTest::currentDataTag())));
        }
    }

    void anOpenMapFollowsTheChosenSong() {
        th::SongMapWindow* map = th::OpenSongMap(*form);
        QVERIFY(map);
        SelectSong("NOLIST");
        QCOMPARE(map->Header->text(), QStringLiteral("NOLIST    This drive isn't ZT-6."));
        QCOMPARE(map->View->Map().Length(), 0u);
        SelectSong("SESSION");
        QCOMPARE(map->View->Map().song, std::string("SESSION"));
        QVERIFY(msgs.texts.empty());
    }

    void unreadableListIsShownAndNoMapOpens() {
        SelectSong("NOLIST");
        QCOMPARE(th::OpenSongMap(*form), nullptr);
        QCOMPARE(msgs.texts, std::vector<std::string>{"This drive isn't ZT-6."});
        QVERIFY(!MapWindow());
    }

    void jsonHasTheDocumentedKeys() {
        const th::SongMap map = th::ReadSongMap("E:\\SESSION\\SESSION.ADL", "SESSION", 44100);
        QJsonParseError error;
        const QJsonDocument doc =
            QJsonDocument::fromJson(QByteArray::fromStdString(th::SongMapJson(map)), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonObject top = doc.object();
        QCOMPARE(Keys(top), Sorted({"song", "sample_rate", "length", "tracks"}));
        QCOMPARE(top["song"].toString(), QStringLiteral("SESSION"));
        QCOMPARE(top["length"].toInteger(), 42 * 44100);
        const QJsonArray tracks = top["tracks"].toArray();
        QCOMPARE(tracks.size(), 8);
        int events = 0;
        for (int i = 0; i < 8; ++i) {
            const QJsonObject t = tracks[i].toObject();
            QCOMPARE(Keys(t), Sorted({"track", "end", "end_time", "events", "plays"}));
            QCOMPARE(t["track"].toInt(), i + 1);
            for (const QJsonValue e : t["events"].toArray()) {
                ++events;
                // The card holds no takes: every audio event says its file is missing.
                QStringList keys = {"row",       "entry",   "kind",       "file",
                                    "source_in", "dest_in", "dest_in_tc", "source_in_tc",
                                    "dest_out",  "played",  "dest_out_tc"};
                if (e["kind"].toString() == "audio") {
                    keys << "missing";
                    QVERIFY(e["missing"].toBool());
                }
                QCOMPARE(Keys(e.toObject()), Sorted(keys));
                QCOMPARE(e["file"].isNull(), e["kind"].toString() == "silence");
            }
            for (const QJsonValue p : t["plays"].toArray())
                QCOMPARE(Keys(p.toObject()), Sorted({"start", "end", "start_time", "end_time",
                                                     "row", "entry", "kind", "file", "source_at"}));
        }
        QCOMPARE(events, 14);
        const QJsonObject tr5 = tracks[4].toObject();
        QCOMPARE(tr5["end"].toInteger(), 34 * 44100); // cut short by the silence after it
        QCOMPARE(tr5["end_time"].toString(), QStringLiteral("0:00:34.000"));
    }

    // Names straight from a card: a non-UTF-8 byte and XML's special characters.
    void textFormsStayParseableWithOddNames() {
        th::SongEventTable table;
        table.EventCount = 2;
        for (int r = 1; r <= 2; ++r) {
            th::SongEvent& e = table.Row(r);
            e.EditKind = "(Cut)";
            e.DestChannel = r;
            e.SourceFile = r == 1 ? "\x82\xa0<&\">.wav" : "tab\there.wav";
            e.SourceIn = e.DestIn = At(0);
            e.DestOut = At(60);
        }
        const th::SongMap map = th::BuildSongMap(table, "S\x93ONG", 44100);

        QJsonParseError error;
        const QJsonDocument doc =
            QJsonDocument::fromJson(QByteArray::fromStdString(th::SongMapJson(map)), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(doc["tracks"][0]["events"][0]["file"].toString(),
                 QString::fromLatin1("\x82\xa0<&\">.wav"));
        QCOMPARE(doc["tracks"][1]["plays"][0]["file"].toString(), QStringLiteral("tab\there.wav"));

        QXmlStreamReader xml(QByteArray::fromStdString(th::SongMapSvg(map)));
        int lanes = 0, labels = 0;
        QStringList rootAttributes;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("svg"))
                rootAttributes << xml.namespaceUri().toString();
            if (xml.name() == QLatin1String("g") &&
                xml.attributes().value("class") == QLatin1String("lane"))
                ++lanes;
            if (xml.name() == QLatin1String("text") &&
                xml.readElementText() == QString::fromLatin1("\x82\xa0<&\">.wav"))
                ++labels;
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(rootAttributes, QStringList{"http://www.w3.org/2000/svg"});
        QCOMPARE(lanes, 8);
        QCOMPARE(labels, 1);
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A home of the tests' own: the window keeps its settings there.
    TempDir home;
    qputenv("HOME", QByteArray::fromStdString(home.path().string()));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((home / ".config").string()));
    th::TApplication app(argc, argv);
    SongMapWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SongMapWindowTest.moc"
