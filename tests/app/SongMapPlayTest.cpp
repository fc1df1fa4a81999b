// Waveforms, cursor, solo and playback in the song map window. Run twice: once with a
// PulseAudio server of its own whose only output is a null sink, recorded from its monitor
// with parec while the window plays, and once with no audio output at all
// (TRACKHAUL_NO_AUDIO=1), where only the Play button changes.
#include "app/Application.h"
#include "app/Main.h"
#include "app/Playback.h"
#include "app/SongMapWindow.h"
#include "support/TestSupport.h"

#include "song/Tc2w.h"
#include "transfer/Mix.h"

#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <set>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr int kRate = 44100;

// Why no PulseAudio runs for this process (empty when one does), and where it is.
QString g_noPulse;
std::unique_ptr<QTemporaryDir> g_pulseDir;
std::unique_ptr<QProcess> g_pulse;

// Starts a PulseAudio server of this test's own, with a null sink as the only output, and
// points this process at it; returns why not when that fails.
QString StartPulse() {
    g_pulseDir = std::make_unique<QTemporaryDir>();
    const QString dir = g_pulseDir->path();
    const QString socket = dir + "/native";
    g_pulse = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir);
    env.insert("XDG_RUNTIME_DIR", dir);
    env.insert("XDG_CONFIG_HOME", dir);
    g_pulse->setProcessEnvironment(env);
    g_pulse->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    g_pulse->start("pulseaudio",
                   {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
                    "--log-level=error",
                    "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket,
                    QStringLiteral("--load=module-null-sink sink_name=trackhaul_null rate=%1 "
                                   "channels=1")
                        .arg(kRate)});
    if (!g_pulse->waitForStarted(5000))
        return "pulseaudio did not start (" + g_pulse->errorString() + ")";
    for (int i = 0; i < 100 && !QFileInfo::exists(socket); ++i) {
        if (g_pulse->waitForFinished(50))
            return "pulseaudio ended at once";
    }
    if (!QFileInfo::exists(socket))
        return "pulseaudio made no socket";
    qputenv("PULSE_SERVER", ("unix:" + socket).toUtf8());
    return {};
}

void StopPulse() {
    if (g_pulse && g_pulse->state() != QProcess::NotRunning) {
        g_pulse->terminate();
        if (!g_pulse->waitForFinished(3000))
            g_pulse->kill();
    }
}

std::string At(double seconds) {
    return th::TTC2W().SamplesToTc(static_cast<th::SampleCount>(seconds * kRate), kRate, 25, false);
}

// Noise shaped by `level(t)` (0..1 of full scale) over `seconds`: a distinct take per seed.
std::string Take(double seconds, std::uint32_t seed, const std::function<double(double)>& level) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, 0.3);
    const auto n = static_cast<std::size_t>(seconds * kRate);
    std::string audio;
    audio.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double v = std::clamp(noise(rng), -1.0, 1.0) * level(t) * 32767;
        audio += U16(static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
    }
    return audio;
}

class Messages : public th::UserMessages {
public:
    std::vector<std::string> texts;
    bool Ask(const std::string& text) override {
        texts.push_back(text);
        return true;
    }
    void Message(const std::string& text) override { texts.push_back(text); }
};

double Frac(double t) {
    return t - std::floor(t);
}

std::vector<std::int16_t> Samples(const QByteArray& raw) {
    std::vector<std::int16_t> s(static_cast<std::size_t>(raw.size()) / 2);
    std::memcpy(s.data(), raw.constData(), s.size() * 2);
    return s;
}

double Rms(const std::int16_t* s, std::size_t n) {
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += double(s[i]) * s[i];
    return std::sqrt(sum / static_cast<double>(std::max<std::size_t>(n, 1)));
}

} // namespace

class SongMapPlayTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDir> card;
    std::unique_ptr<MappedDrive> drive;
    Messages msgs;
    std::unique_ptr<th::TMAIN_FORM> form;
    th::SongMapWindow* map = nullptr;

private slots:
    void init() {
        card = std::make_unique<TempDir>();
        const fs::path song = card->path() / "DEMO";
        fs::create_directories(song);
        // Drums on 1 (a hit every half second), bass on 2, a swell on 3, a punch-in over 2,
        // a silence on 4 between two takes, and a take on 5 whose file is missing.
        WriteFile(song / "ZT60001.WAV",
                  MakeWav(Take(12, 1, [](double t) { return std::exp(-12 * Frac(2 * t)); })));
        WriteFile(song / "ZT60002.WAV",
                  MakeWav(Take(12, 2, [](double t) { return 0.35 + 0.15 * std::sin(t * 3); })));
        WriteFile(song / "ZT60003.WAV",
                  MakeWav(Take(12, 3, [](double t) { return std::min(1.0, t / 8); })));
        WriteFile(song / "ZT60004.WAV", MakeWav(Take(4, 4, [](double) { return 0.8; })));
        WriteFile(song / "ZT60005.WAV",
                  MakeWav(Take(12, 5, [](double t) { return 0.5 * std::fabs(std::sin(t)); })));
        WriteFile(song / "DEMO.ADL",
                  AdlText(kRate, "00.00.00.00|0000",
                          {EventLine(1, 1, "ZT60001.WAV", At(0), At(0), At(12)),
                           EventLine(2, 2, "ZT60002.WAV", At(0), At(1), At(11)),
                           EventLine(3, 3, "ZT60003.WAV", At(0), At(2), At(12)),
                           EventLine(4, 2, "ZT60004.WAV", At(0), At(5), At(7)),
                           EventLine(5, 4, "ZT60005.WAV", At(0), At(0), At(10)),
                           SilenceLine(6, 4, At(4), At(6)),
                           EventLine(7, 5, "ZT69999.WAV", At(0), At(3), At(9))}));
        drive = std::make_unique<MappedDrive>("E:", card->path());
        form = std::make_unique<th::TMAIN_FORM>(msgs);
        form->CreateWaveForm();
        th::LoadSongList(form->Sel, "E:");
        form->Sel.SongIndex = 0;
        th::SelectSong(form->Sel, 0);
        QCOMPARE(form->Sel.SongName(), std::string("DEMO"));
        map = th::OpenSongMap(*form);
        QVERIFY(map);
        map->resize(900, map->height());
        QVERIFY(QTest::qWaitForWindowExposed(map));
    }

    void cleanup() {
        form.reset();
        drive.reset();
        card.reset();
    }

    // The waveform is drawn inside heard audio, computed off the window's thread; silence
    // and a missing take get none. A picture for the README.
    void waveformsInsideWhatIsHeard() {
        th::SongMapView* view = map->View;
        QTRY_VERIFY_WITH_TIMEOUT(view->Overview() && view->WavesSettled(), 10000);
        const th::WavePeaks& o = *view->Overview();
        QCOMPARE(o.buckets, th::SongMapView::kOverviewBuckets);
        QCOMPARE(o.missing, (std::set<std::string>{"E:\\DEMO\\ZT69999.WAV"}));
        // The whole-song peaks are those of the core for the same layout.
        th::TrackAudio audio(view->Layouts()[2]);
        QVERIFY(o.tracks[2] == th::TrackPeaks(audio, o.from, o.to, o.buckets));

        const QImage picture = view->grab().toImage();
        auto darkColumn = [&](int track, double seconds) {
            const QRect lane = view->LaneRect(track);
            const int x = static_cast<int>(view->XOf(seconds * kRate));
            int dark = 0;
            for (int y = lane.top() + 4; y < lane.top() + th::SongMapView::kPlayHeight; ++y)
                dark += qGray(picture.pixel(x, y)) < 60;
            return dark;
        };
        QVERIFY(darkColumn(3, 11.5) > 8); // the swell at its loudest
        QCOMPARE(darkColumn(4, 5), 0);    // the silence on track 4
        QCOMPARE(darkColumn(5, 6), 0);    // the missing take
        QDir().mkpath(TRACKHAUL_PICTURES);
        QVERIFY(map->grab().save(QStringLiteral(TRACKHAUL_PICTURES "/song-map-waves.png")));
    }

    // Zoomed in, the part in view is summarised again at one bucket a pixel.
    void zoomRefinesTheWaveform() {
        th::SongMapView* view = map->View;
        QTRY_VERIFY_WITH_TIMEOUT(view->Overview() && view->WavesSettled(), 10000);
        map->SetZoom(200, 100);
        QTRY_VERIFY_WITH_TIMEOUT(view->Detail() && view->WavesSettled(), 10000);
        const int from = map->Scroll->horizontalScrollBar()->value();
        const int width = map->Scroll->viewport()->width();
        QCOMPARE(view->Detail()->buckets, static_cast<std::size_t>(width));
        QCOMPARE(view->Detail()->from, view->SampleAt(from));
        QCOMPARE(view->Detail()->to, view->SampleAt(from + width));
    }

    void clicksPlaceTheCursorAndSolo() {
        th::SongMapView* view = map->View;
        const QRect lane = view->LaneRect(2);
        const int x = static_cast<int>(view->XOf(4.0 * kRate));
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(x, lane.center().y()));
        QCOMPARE(view->Cursor(), view->SampleAt(x));
        QVERIFY(std::abs(static_cast<double>(view->Cursor()) - 4.0 * kRate) < 2.0 * kRate / 100);
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(10, lane.center().y()));
        QCOMPARE(view->Solo(), (std::array<bool, 8>{false, true}));
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(10, view->LaneRect(3).center().y()));
        QCOMPARE(view->Solo(), (std::array<bool, 8>{false, true, true}));
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(10, lane.center().y()));
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(10, view->LaneRect(3).center().y()));
        QCOMPARE(view->Solo(), (std::array<bool, 8>{}));
    }

    void withoutOutputPlayIsDisabled() {
        if (!qEnvironmentVariableIsSet("TRACKHAUL_NO_AUDIO"))
            QSKIP("an audio output is there: this case runs with TRACKHAUL_NO_AUDIO=1");
        QVERIFY(!map->PlayButton->isEnabled());
        QCOMPARE(map->PlayButton->toolTip(),
                 QStringLiteral("No audio output: nothing can be played"));
        QTest::keyClick(map, Qt::Key_Space);
        QVERIFY(!map->IsPlaying());
        QTest::mouseClick(map->View, Qt::LeftButton, {},
                          QPoint(10, map->View->LaneRect(1).center().y()));
        QCOMPARE(map->View->Solo()[0], true); // everything else still works
    }

    // Space plays from the cursor; what reaches the output is the mix at the cursor, found by
    // the cross-correlation peak of the recording, at the same level within 1 dB.
    void playsTheMixFromTheCursor_data() {
        QTest::addColumn<double>("cursor");
        QTest::addColumn<int>("solo"); // 0: none
        QTest::newRow("all tracks from 8.5 s") << 8.5 << 0;
        QTest::newRow("track 2 alone from 4.5 s") << 4.5 << 2;
    }

    void playsTheMixFromTheCursor() {
        if (!g_noPulse.isEmpty())
            QSKIP(qPrintable("No PulseAudio for the playback test: " + g_noPulse));
        QFETCH(double, cursor);
        QFETCH(int, solo);
        th::SongMapView* view = map->View;
        QVERIFY(map->PlayButton->isEnabled());
        view->SetCursor(static_cast<th::SampleCount>(cursor * kRate));
        if (solo)
            view->ToggleSolo(solo);

        QProcess parec;
        parec.start("parec",
                    {"--device=trackhaul_null.monitor", "--raw", "--format=s16le", "--channels=1",
                     QStringLiteral("--rate=%1").arg(kRate), "--latency-msec=20"});
        QVERIFY(parec.waitForStarted(5000));
        QTest::qWait(300); // recording before playing starts
        QTest::keyClick(map, Qt::Key_Space);
        QVERIFY(map->IsPlaying());
        QCOMPARE(map->PlayButton->text(), QStringLiteral("Stop"));
        QTRY_VERIFY(view->Playhead() > static_cast<long long>(view->Cursor()));
        QTRY_VERIFY_WITH_TIMEOUT(!map->IsPlaying(), 15000); // to the end of the song
        QCOMPARE(view->Playhead(), -1LL);
        QTest::qWait(300);
        parec.terminate();
        QVERIFY(parec.waitForFinished(3000));
        const std::vector<std::int16_t> got = Samples(parec.readAllStandardOutput());

        std::array<bool, 8> solos{};
        if (solo)
            solos[static_cast<std::size_t>(solo - 1)] = true;
        th::SongMix mix(view->Layouts(), solos);
        mix.Seek(view->Cursor());
        std::vector<std::int16_t> want(mix.Samples() - view->Cursor());
        QCOMPARE(mix.Read(want.data(), want.size()), want.size());
        QVERIFY2(got.size() > want.size(), qPrintable(QString::number(got.size())));

        // 0.1 s of the mix from half a second in, slid along the recording: the noise of the
        // takes matches at one place only, where the mix stands that far from the cursor.
        const std::size_t window = kRate / 10, offset = kRate / 2;
        QVERIFY(want.size() > offset + window);
        const std::int16_t* part = want.data() + offset;
        double best = 0;
        std::size_t lag = 0;
        for (std::size_t k = 0; k + window <= got.size(); ++k) {
            double dot = 0;
            for (std::size_t i = 0; i < window; ++i)
                dot += double(part[i]) * got[k + i];
            if (dot > best)
                best = dot, lag = k;
        }
        const double correlation =
            best / (window * Rms(part, window) * std::max(Rms(got.data() + lag, window), 1e-9));
        QVERIFY2(correlation > 0.9, qPrintable(QString::number(correlation)));
        // The monitor records from about when playing starts: where the mix at the cursor
        // begins in the recording (its first few milliseconds may be cut).
        const auto start = static_cast<long long>(lag) - static_cast<long long>(offset);
        QVERIFY2(start > -static_cast<long long>(kRate) / 10, qPrintable(QString::number(start)));
        auto recorded = [&](std::size_t i) {
            const long long k = start + static_cast<long long>(i);
            return k >= 0 && k < static_cast<long long>(got.size()) ? got[k] : std::int16_t{0};
        };
        // Played on without a gap: a second part stands exactly as far on.
        const std::size_t later = std::min<std::size_t>(2 * kRate, want.size() - window);
        double dot = 0, gotSquares = 0;
        for (std::size_t i = 0; i < window; ++i) {
            dot += double(want[later + i]) * recorded(later + i);
            gotSquares += double(recorded(later + i)) * recorded(later + i);
        }
        const double second = dot / (window * Rms(want.data() + later, window) *
                                     std::max(std::sqrt(gotSquares / window), 1e-9));
        QVERIFY2(second > 0.9, qPrintable(QString::number(second)));
        // From the cursor to the song's end and no further: the recording falls silent there.
        std::size_t loud = 0;
        for (std::size_t k = 0; k < got.size(); ++k)
            if (std::abs(got[k]) > 256)
                loud = k;
        const long long end = start + static_cast<long long>(want.size());
        QVERIFY2(std::llabs(static_cast<long long>(loud) - end) < kRate / 20,
                 qPrintable(QString("%1 %2").arg(loud).arg(end)));
        // The level over the whole of what was played.
        double wantSquares = 0;
        gotSquares = 0;
        for (std::size_t i = static_cast<std::size_t>(std::max(0LL, -start)); i < want.size();
             ++i) {
            wantSquares += double(want[i]) * want[i];
            gotSquares += double(recorded(i)) * recorded(i);
        }
        const double db = 10 * std::log10(gotSquares / wantSquares);
        QVERIFY2(std::fabs(db) < 1, qPrintable(QString("%1 dB").arg(db)));
    }

    void escapeStops() {
        if (!g_noPulse.isEmpty())
            QSKIP(qPrintable("No PulseAudio for the playback test: " + g_noPulse));
        QTest::keyClick(map, Qt::Key_Space);
        QVERIFY(map->IsPlaying());
        QTest::keyClick(map, Qt::Key_Escape);
        QVERIFY(!map->IsPlaying());
        QCOMPARE(map->PlayButton->text(), QStringLiteral("Play"));
        QVERIFY(map->isVisible()); // Escape stopped playing, nothing else
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The audio system is chosen before the application connects to it.
    if (qEnvironmentVariableIsSet("TRACKHAUL_NO_AUDIO")) {
        qputenv("PULSE_SERVER", "unix:/nonexistent/trackhaul-no-audio");
        g_noPulse = "TRACKHAUL_NO_AUDIO is set";
    } else {
        g_noPulse = StartPulse();
        if (!g_noPulse.isEmpty())
            std::fprintf(stderr, "SKIP playback: no PulseAudio could start: %s\n",
                         qPrintable(g_noPulse));
    }
    int status;
    {
        th::TApplication app(argc, argv);
        SongMapPlayTest test;
        status = QTest::qExec(&test, argc, argv);
    }
    StopPulse();
    return status;
}

#include "SongMapPlayTest.moc"
