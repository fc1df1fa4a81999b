#include "app/SongMapWindow.h"

#include "app/Main.h"
#include "app/Playback.h"
#include "transfer/SongMapFormat.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <functional>

namespace th {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(AsUtf8(text));
}

QString Entry(const MapEvent& e) {
    return QStringLiteral("Entry %1").arg(e.entryNo, 4, 10, QLatin1Char('0'));
}

QString Name(const MapEvent& e) {
    return e.silence ? QStringLiteral("(Silence)") : Q(e.sourceFile);
}

QColor Fill(const MapEvent& e) {
    return e.silence ? QColor(0xf4, 0xf4, 0xf4) : QColor::fromRgb(SourceColour(e.sourceFile));
}

// The colours of a take whose file is not in the song folder: pale red, hatched in red the
// other way than silence.
const QColor kMissingFill(0xfb, 0xe3, 0xe3);
const QColor kMissingHatch(0xc0, 0x00, 0x00);

// A box: the event's colour, hatched for silence, cross-hatched in red for a missing take; an
// event with a time that is not well formed gets a dashed red frame.
void PaintBox(QPainter& p, const QRectF& box, const MapEvent& e, qreal opacity) {
    p.setOpacity(opacity);
    p.fillRect(box, e.missing ? kMissingFill : Fill(e));
    if (e.silence)
        p.fillRect(box, QBrush(QColor(0x88, 0x88, 0x88), Qt::BDiagPattern));
    if (e.missing)
        p.fillRect(box, QBrush(kMissingHatch, Qt::FDiagPattern));
    p.setOpacity(1);
}

// Identifies a song's tracks as they sound: their files and what plays where.
std::size_t LayoutsId(const std::vector<TrackLayout>& layouts) {
    std::size_t h = 0;
    auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
    for (const TrackLayout& l : layouts) {
        mix(l.end);
        for (const std::string& s : l.sources)
            mix(std::hash<std::string>()(s));
        for (const HeardStretch& s : l.heard) {
            mix(s.begin);
            mix(s.end);
            mix(s.source);
            mix(static_cast<std::size_t>(s.at));
        }
    }
    return h;
}

// What the tip says of an event beyond its times.
QString Marks(const MapEvent& e) {
    QString marks;
    if (e.missing)
        marks += QStringLiteral("\nfile missing from the song folder");
    if (e.oddTime)
        marks += QStringLiteral("\na time is not well formed (see the warnings)");
    return marks;
}

// Waveforms kept at most (about 30 KB each in a window of usual width).
constexpr std::size_t kCachedWaves = 64;

// The view at the window's first size, and at its smallest before it scrolls up and down.
constexpr int kViewHeight = SongMapView::HeightFor(SongMapView::kLaneHeight);
constexpr int kMinViewHeight = SongMapView::HeightFor(SongMapView::kMinLaneHeight);

// `from` moved a share `t` of the way to `to`: the canvas's shades from the palette, so that
// a dark theme gets a dark map.
QColor Blend(const QColor& from, const QColor& to, double t) {
    return QColor::fromRgbF(static_cast<float>(from.redF() + (to.redF() - from.redF()) * t),
                            static_cast<float>(from.greenF() + (to.greenF() - from.greenF()) * t),
                            static_cast<float>(from.blueF() + (to.blueF() - from.blueF()) * t));
}

} // namespace

SongMapView::SongMapView(QWidget* parent) : QWidget(parent) {
    setObjectName("SongMapView");
    setMouseTracking(true);
    resize(width(), kViewHeight);
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);
}

SongMapView::~SongMapView() {
    StopWorker();
}

void SongMapView::SetMap(const SongMap& map, const std::string& songFolder) {
    StopWorker();
    map_ = map;
    extent_ = std::max<SampleCount>(MapExtent(map_), 1);
    folder_ = songFolder;
    layouts_ = songFolder.empty() ? std::vector<TrackLayout>{} : SongLayouts(map_, songFolder);
    layoutsId_ = LayoutsId(layouts_);
    overview_.reset();
    detail_.reset();
    cursor_ = 0;
    playhead_ = -1;
    solo_ = {};
    if (!layouts_.empty())
        StartJob({0, extent_, kOverviewBuckets, true});
    update();
}

void SongMapView::StopWorker() {
    stop_ = true;
    if (worker_.joinable())
        worker_.join();
    busy_ = false;
    pending_.reset();
    ++generation_;
}

void SongMapView::StartJob(const WaveJob& job) {
    if (busy_) {
        pending_ = std::make_unique<WaveJob>(job); // only the latest wish counts
        return;
    }
    const auto found = cache_.find({layoutsId_, job.from, job.to, job.buckets});
    if (found != cache_.end()) {
        JobDone(job, found->second, generation_);
        return;
    }
    if (worker_.joinable())
        worker_.join(); // finished: its result is being handled
    busy_ = true;
    stop_ = false;
    worker_ = std::thread([this, job, layouts = layouts_, generation = generation_] {
        auto peaks = std::make_shared<WavePeaks>();
        peaks->from = job.from;
        peaks->to = job.to;
        peaks->buckets = job.buckets;
        for (const TrackLayout& l : layouts) {
            if (l.end == 0 || l.track < 1 || l.track > 8)
                continue;
            TrackAudio audio(l);
            peaks->tracks[static_cast<std::size_t>(l.track - 1)] =
                TrackPeaks(audio, job.from, job.to, job.buckets, &stop_);
            peaks->missing.insert(audio.Missing().begin(), audio.Missing().end());
        }
        if (stop_)
            return; // the view is going or shows another song
        // Dropped by Qt if the view is gone by then.
        QMetaObject::invokeMethod(
            this, [this, job, peaks, generation] { JobDone(job, peaks, generation); },
            Qt::QueuedConnection);
    });
}

void SongMapView::JobDone(const WaveJob& job, std::shared_ptr<WavePeaks> peaks,
                          std::uint64_t generation) {
    if (generation != generation_)
        return;
    busy_ = false;
    // Views zoomed and scrolled to add up: past a few dozen, only the whole-song ones stay.
    if (cache_.size() >= kCachedWaves)
        std::erase_if(cache_, [](const auto& entry) {
            return std::get<3>(entry.first) != SongMapView::kOverviewBuckets;
        });
    cache_[{layoutsId_, job.from, job.to, job.buckets}] = peaks;
    (job.overview ? overview_ : detail_) = std::move(peaks);
    update();
    if (pending_) {
        const WaveJob next = *pending_;
        pending_.reset();
        StartJob(next);
    }
    if (WavesSettled())
        emit WavesReady();
}

void SongMapView::WantDetail(SampleCount from, SampleCount to, int pixels) {
    if (layouts_.empty() || pixels <= 0 || to <= from)
        return;
    // The whole-song waveform is enough while one of its buckets is no wider than a pixel.
    const double perPixel = static_cast<double>(to - from) / pixels;
    if (static_cast<double>(extent_) / kOverviewBuckets <= perPixel)
        return;
    if (detail_ && detail_->from == from && detail_->to == to &&
        detail_->buckets == static_cast<std::size_t>(pixels))
        return;
    StartJob({from, to, static_cast<std::size_t>(pixels), false});
}

SampleCount SongMapView::SampleAt(int x) const {
    const double sample = (x - kLeft) / Scale();
    return static_cast<SampleCount>(std::clamp(sample, 0.0, static_cast<double>(extent_)));
}

void SongMapView::SetCursor(SampleCount sample) {
    cursor_ = std::min(sample, extent_);
    update();
    emit CursorChanged();
}

void SongMapView::SetPlayhead(long long sample) {
    playhead_ = sample;
    update();
}

void SongMapView::ToggleSolo(int track) {
    solo_[static_cast<std::size_t>(track - 1)] = !solo_[static_cast<std::size_t>(track - 1)];
    update();
    emit SoloChanged();
}

void SongMapView::SetLabelLeft(int x) {
    if (x == labelLeft_)
        return;
    // Where the labels were, and where they go.
    update(QRect(labelLeft_, 0, kLeft, height()));
    labelLeft_ = x;
    update(QRect(labelLeft_, 0, kLeft, height()));
}

void SongMapView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const QPoint at = event->position().toPoint();
    const bool onLabels = at.x() >= labelLeft_ && at.x() < labelLeft_ + kLeft;
    for (int t = 1; t <= 8; ++t) {
        const QRect lane = LaneRect(t);
        if (at.y() >= lane.top() && at.y() <= lane.bottom() && onLabels) {
            ToggleSolo(t);
            return;
        }
    }
    if (at.x() >= kLeft && !onLabels && at.y() >= kTop - 20)
        SetCursor(SampleAt(at.x()));
}

void SongMapView::PaintWave(QPainter& p, const QRectF& box, int track, SampleCount from,
                            SampleCount to, const QRect& dirty) {
    const auto t = static_cast<std::size_t>(track - 1);
    const int left = std::max(static_cast<int>(std::floor(box.left())), dirty.left());
    const int right = std::min(static_cast<int>(std::ceil(box.right())), dirty.right() + 1);
    const double mid = box.center().y(), half = box.height() / 2 - 2;
    // The buckets of `w` over samples [a, b): the lowest and highest of them.
    auto extremes = [](const WavePeaks& w, const std::vector<Peak>& peaks, SampleCount a,
                       SampleCount b, Peak& out) {
        const double len = static_cast<double>(w.to - w.from);
        const auto n = static_cast<double>(peaks.size());
        auto index = [&](SampleCount s) {
            return static_cast<std::size_t>(std::clamp((s - double(w.from)) * n / len, 0.0, n));
        };
        const std::size_t i0 = index(a);
        const std::size_t i1 = std::max(index(b), std::min(i0 + 1, peaks.size()));
        if (i0 >= i1)
            return false;
        out = peaks[i0];
        for (std::size_t i = i0 + 1; i < i1; ++i) {
            out.min = std::min(out.min, peaks[i].min);
            out.max = std::max(out.max, peaks[i].max);
        }
        return true;
    };
    QPen pen(QColor(0x1a, 0x1a, 0x1a, 190));
    pen.setWidth(1);
    p.setPen(pen);
    for (int x = left; x < right; ++x) {
        const SampleCount a = std::max(from, SampleAt(x));
        const SampleCount b = std::min(to, std::max(SampleAt(x + 1), a + 1));
        if (a >= b)
            continue;
        Peak peak;
        const bool fine = detail_ && detail_->from <= a && b <= detail_->to &&
                          !detail_->tracks[t].empty() &&
                          extremes(*detail_, detail_->tracks[t], a, b, peak);
        if (!fine && !(overview_ && !overview_->tracks[t].empty() &&
                       extremes(*overview_, overview_->tracks[t], a, b, peak)))
            continue;
        const double top = mid - peak.max * half / 32768.0;
        const double bottom = std::max(mid - peak.min * half / 32768.0, top + 1);
        p.drawLine(QPointF(x + 0.5, top), QPointF(x + 0.5, bottom));
    }
}

double SongMapView::Scale() const {
    return std::max(1, width() - kLeft - kRight) / static_cast<double>(extent_);
}

double SongMapView::XOf(double sample) const {
    return kLeft + sample * Scale();
}

int SongMapView::LaneHeight() const {
    return std::max(kMinLaneHeight, (height() - HeightFor(0)) / 8);
}

int SongMapView::PlayHeight() const {
    return LaneHeight() * kPlayHeight / kLaneHeight;
}

QRect SongMapView::LaneRect(int track) const {
    const int lane = LaneHeight();
    return QRect(kLeft, kTop + (track - 1) * (lane + kLaneGap), width() - kLeft - kRight, lane);
}

void SongMapView::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    const QColor canvas = palette().color(QPalette::Base);
    const QColor ink = palette().color(QPalette::Text);
    p.fillRect(event->rect(), canvas);
    const int playHeight = PlayHeight();
    const std::int32_t rate = map_.sampleRate > 0 ? map_.sampleRate : 44100;
    const double scale = Scale();
    const double right = width() - kRight;

    // The ruler, only the marks in the part to paint.
    const double step = RulerStep(scale * rate, 70);
    const double stepPixels = step * rate * scale;
    const auto first = static_cast<long long>(
        std::max(0.0, std::floor((event->rect().left() - kLeft - 60) / stepPixels)));
    for (long long i = first;; ++i) {
        const double x = kLeft + static_cast<double>(i) * stepPixels;
        if (x > right + 0.5 || x > event->rect().right() + 1)
            break;
        p.setPen(Blend(canvas, ink, 0.13));
        p.drawLine(QPointF(x, kTop - 8), QPointF(x, height() - 10));
        if (x + 48 <= width()) {
            p.setPen(Blend(canvas, ink, 0.8));
            p.drawText(QPointF(x + 2, kTop - 12),
                       Q(RulerLabel(static_cast<double>(i) * step, step)));
        }
    }

    for (const TrackMap& t : map_.tracks) {
        const QRect lane = LaneRect(t.track);
        p.fillRect(lane, Blend(canvas, ink, 0.06));
        // Below the boxes, faded, what of each event is not heard.
        for (std::size_t k = 0; k < t.events.size(); ++k)
            for (const auto& [from, to] : t.events[k].hidden)
                PaintBox(p,
                         QRectF(XOf(from), lane.top() + playHeight + 4, (to - from) * scale,
                                lane.height() - playHeight - 6),
                         t.events[k], 0.35);
        for (const MapStretch& s : t.plays) {
            const MapEvent& e = t.events[s.event];
            const QRectF box(XOf(s.start), lane.top() + 3, (s.end - s.start) * scale, playHeight);
            if (!box.intersects(QRectF(event->rect())))
                continue;
            PaintBox(p, box, e, 1);
            // A file that is there but can't be read as a WAV file (a missing one is marked
            // by PaintBox): no waveform, a dashed red edge.
            const bool unreadable =
                !e.silence && !e.missing && !folder_.empty() &&
                ((overview_ && overview_->missing.count(folder_ + "\\" + e.sourceFile)) ||
                 (detail_ && detail_->missing.count(folder_ + "\\" + e.sourceFile)));
            if (!e.silence && !e.missing && !unreadable)
                PaintWave(p, box, t.track, s.start, s.end, event->rect());
            p.setPen(unreadable ? QPen(QColor(0xc0, 0, 0), 1.5, Qt::DashLine)
                                : QPen(QColor(0x33, 0x33, 0x33), 0.5));
            p.drawRect(box);
            if (!e.silence && box.width() > 30) {
                p.setPen(e.missing ? kMissingHatch : QColor(Qt::white));
                const QRectF text = box.adjusted(3, 0, -2, 0);
                p.drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
                           fontMetrics().elidedText(Name(e), Qt::ElideRight,
                                                    static_cast<int>(text.width())));
            }
        }
        // An event with a time that is not well formed may have shrunk to nothing: its place
        // is framed all the same, from where it starts, at least a few pixels wide.
        for (const MapEvent& e : t.events) {
            if (!e.oddTime)
                continue;
            const double from = XOf(e.destIn);
            const double to = std::max(XOf(std::max(e.destIn, e.destOut)), from + 4);
            p.setPen(QPen(kMissingHatch, 2, Qt::DashLine));
            p.drawRect(QRectF(from, lane.top() + 2, to - from, playHeight + 2));
        }
        if (t.end > 0) {
            p.setPen(QPen(QColor(0xc0, 0, 0), 1.5));
            p.drawLine(QPointF(XOf(t.end), lane.top()), QPointF(XOf(t.end), lane.bottom()));
        }
    }
    // The cursor, where playing starts, and the playhead while playing.
    const double lanesBottom = LaneRect(8).bottom();
    p.setPen(QPen(QColor(0x20, 0x60, 0xd0), 1.5));
    p.drawLine(QPointF(XOf(cursor_), kTop - 8), QPointF(XOf(cursor_), lanesBottom));
    if (playhead_ >= 0) {
        p.setPen(QPen(QColor(0x10, 0xa0, 0x30), 2));
        const double x = XOf(static_cast<double>(playhead_));
        p.drawLine(QPointF(x, kTop - 8), QPointF(x, lanesBottom));
    }

    // The labels over the left edge of what is in view, on the canvas's colour.
    if (!QRect(labelLeft_, 0, kLeft, height()).intersects(event->rect()))
        return;
    p.fillRect(QRect(labelLeft_, kTop - 8, kLeft, height() - kTop + 8), canvas);
    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    const bool anySolo = std::find(solo_.begin(), solo_.end(), true) != solo_.end();
    for (const TrackMap& t : map_.tracks) {
        const QRect lane = LaneRect(t.track);
        const bool soloed = solo_[static_cast<std::size_t>(t.track - 1)];
        const QRect label(labelLeft_ + 4, lane.top() + lane.height() / 2 - 9, kLeft - 10, 18);
        if (soloed)
            p.fillRect(label, QColor(0xf5, 0xc5, 0x18));
        // On the yellow of a solo, black whatever the theme.
        p.setPen(soloed ? QColor(Qt::black) : anySolo ? Blend(canvas, ink, 0.37) : ink);
        p.drawText(label, Qt::AlignCenter, QStringLiteral("TR%1").arg(t.track));
    }
}

QString SongMapView::TipAt(const QPoint& at) const {
    const std::int32_t rate = map_.sampleRate;
    auto times = [rate](SampleCount from, SampleCount to) {
        return Q(FormatTime(from, rate) + " - " + FormatTime(to, rate));
    };
    for (const TrackMap& t : map_.tracks) {
        const QRect lane = LaneRect(t.track);
        if (at.y() < lane.top() || at.y() > lane.bottom() || at.x() < kLeft ||
            (at.x() >= labelLeft_ && at.x() < labelLeft_ + kLeft))
            continue;
        const double sample = (at.x() - kLeft) / Scale();
        if (at.y() < lane.top() + PlayHeight() + 4) {
            for (const MapStretch& s : t.plays) {
                if (sample < s.start || sample >= s.end)
                    continue;
                const MapEvent& e = t.events[s.event];
                QString tip = QStringLiteral("TR%1  %2\n%3\n%4")
                                  .arg(t.track)
                                  .arg(Entry(e), Name(e), times(s.start, s.end));
                if (!e.silence)
                    tip += QStringLiteral("\nfrom %1 in the source")
                               .arg(Q(FormatTime(s.sourceAt, rate)));
                return tip + Marks(e);
            }
            return {};
        }
        // The band of what is not heard: the last-listed event hidden there.
        for (std::size_t k = t.events.size(); k-- > 0;)
            for (const auto& [from, to] : t.events[k].hidden)
                if (sample >= from && sample < to)
                    return QStringLiteral("TR%1  %2\n%3\n%4, not heard")
                        .arg(t.track)
                        .arg(Entry(t.events[k]), Name(t.events[k]), times(from, to));
        return {};
    }
    return {};
}

void SongMapView::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0) {
        event->ignore();
        return;
    }
    emit ZoomRequested(notches, static_cast<int>(event->position().x()));
    event->accept();
}

bool SongMapView::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = TipAt(help->pos());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, this);
        return true;
    }
    return QWidget::event(event);
}

SongMapWindow::SongMapWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("SongMapWindow");
    setWindowTitle(QStringLiteral("Song map"));
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    Header = new QLabel(this);
    Header->setObjectName("SongMapHeader");
    // A long header is cut rather than widening the window past a small screen; the tooltip
    // has all of it.
    Header->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    PlayButton = new QPushButton(QStringLiteral("Play"), this);
    PlayButton->setObjectName("SongMapPlay");
    PlayButton->setFocusPolicy(Qt::NoFocus); // Space belongs to the window
    playback_ = new Playback(this);
    if (Playback::HasOutput()) {
        PlayButton->setToolTip(QStringLiteral("Play from the cursor (Space); Escape stops"));
    } else {
        PlayButton->setEnabled(false);
        PlayButton->setToolTip(QStringLiteral("No audio output: nothing can be played"));
    }
    connect(PlayButton, &QPushButton::clicked, this, &SongMapWindow::TogglePlay);
    Scroll = new QScrollArea(this);
    Scroll->setObjectName("SongMapScroll");
    // Up and down only on a screen too low for the smallest lanes.
    Scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Scroll->setWidgetResizable(false);
    View = new SongMapView;
    Scroll->setWidget(View);
    Scroll->setMinimumHeight(std::min(kMinViewHeight, 120));
    Scroll->viewport()->installEventFilter(this);
    auto* top = new QHBoxLayout;
    top->addWidget(PlayButton);
    top->addWidget(Header, 1);
    layout->addLayout(top);
    layout->addWidget(Scroll);
    resize(900, kViewHeight + 60);
    connect(View, &SongMapView::ZoomRequested, this, [this](double notches, int x) {
        SetZoom(zoom_ * std::pow(1.25, notches), x - Scroll->horizontalScrollBar()->value());
    });

    // Finer waveforms follow the zoom and the scrolling, once they settle.
    detailTimer_.setSingleShot(true);
    detailTimer_.setInterval(60);
    connect(&detailTimer_, &QTimer::timeout, this, &SongMapWindow::WantVisibleDetail);
    connect(Scroll->horizontalScrollBar(), &QScrollBar::valueChanged, &detailTimer_,
            qOverload<>(&QTimer::start));
    connect(Scroll->horizontalScrollBar(), &QScrollBar::valueChanged, View,
            &SongMapView::SetLabelLeft);

    // A new cursor or solo while playing plays again from the cursor.
    auto replay = [this] {
        if (IsPlaying()) {
            StopPlaying();
            TogglePlay();
        }
    };
    connect(View, &SongMapView::CursorChanged, this, replay);
    connect(View, &SongMapView::SoloChanged, this, replay);
    connect(playback_, &Playback::Moved, this, [this](SampleCount sample) {
        View->SetPlayhead(sample);
        const int x = static_cast<int>(View->XOf(sample));
        Scroll->ensureVisible(x, SongMapView::kTop, 40, 0);
    });
    connect(playback_, &Playback::Stopped, this, [this] {
        View->SetPlayhead(-1);
        PlayButton->setText(QStringLiteral("Play"));
    });
}

SongMapWindow::~SongMapWindow() {
    // The output stops before the view whose layouts it plays goes.
    delete playback_;
}

bool SongMapWindow::IsPlaying() const {
    return playback_->Playing();
}

void SongMapWindow::TogglePlay() {
    if (IsPlaying()) {
        StopPlaying();
        return;
    }
    if (!PlayButton->isEnabled())
        return;
    if (playback_->Start(View->Layouts(), View->Solo(), View->Cursor(), View->Map().sampleRate)) {
        PlayButton->setText(QStringLiteral("Stop"));
        View->SetPlayhead(View->Cursor());
    }
}

void SongMapWindow::StopPlaying() {
    playback_->Stop();
}

void SongMapWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        TogglePlay();
        return;
    }
    // Escape stops playing; when nothing plays, it closes the map.
    if (event->key() == Qt::Key_Escape) {
        if (IsPlaying())
            StopPlaying();
        else
            close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SongMapWindow::hideEvent(QHideEvent* event) {
    StopPlaying();
    QWidget::hideEvent(event);
}

void SongMapWindow::WantVisibleDetail() {
    const int from = Scroll->horizontalScrollBar()->value();
    const int width = Scroll->viewport()->width();
    View->WantDetail(View->SampleAt(from), View->SampleAt(from + width), width);
}

void SongMapWindow::ShowMap(const SongMap& map, const std::string& songFolder) {
    StopPlaying();
    View->SetMap(map, songFolder);
    Header->setText(Q(map.song + "    " +
                      (map.sampleRate > 0 ? std::to_string(map.sampleRate) + " Hz    " : "") +
                      "length " + FormatTime(map.Length(), map.sampleRate) +
                      "    (wheel: zoom; point at a box for its entry; click: cursor; "
                      "Space: play; click TRn: solo)"));
    Header->setToolTip(Header->text());
    zoom_ = 1;
    Layout();
}

void SongMapWindow::ShowProblem(const std::string& song, const std::string& text) {
    StopPlaying();
    SongMap empty;
    empty.song = song;
    View->SetMap(empty);
    Header->setText(Q(song + "    " + text));
    Header->setToolTip(Header->text());
    zoom_ = 1;
    Layout();
}

void SongMapWindow::SetZoom(double zoom, int anchor) {
    QScrollBar* bar = Scroll->horizontalScrollBar();
    const double sample =
        (anchor + bar->value() - SongMapView::kLeft) / std::max(1e-12, View->XOf(1) - View->XOf(0));
    // From the whole song up to about a pixel a sample, within what a widget can be wide.
    const int span =
        std::max(1, Scroll->viewport()->width() - SongMapView::kLeft - SongMapView::kRight);
    const double extent = std::max<SampleCount>(MapExtent(View->Map()), 1);
    const double most = std::max(1.0, std::min(extent / span, 4.0e6 / span));
    zoom_ = std::clamp(zoom, 1.0, most);
    Layout();
    bar->setValue(static_cast<int>(std::lround(View->XOf(sample))) - anchor);
    detailTimer_.start();
}

void SongMapWindow::Layout() {
    const int width = Scroll->viewport()->width();
    const int span = std::max(1, width - SongMapView::kLeft - SongMapView::kRight);
    View->setFixedSize(std::max(width, static_cast<int>(std::lround(span * zoom_)) +
                                           SongMapView::kLeft + SongMapView::kRight),
                       std::max(kMinViewHeight, Scroll->viewport()->height()));
    View->SetLabelLeft(Scroll->horizontalScrollBar()->value());
}

bool SongMapWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Scroll->viewport() && event->type() == QEvent::Resize)
        Layout();
    return QWidget::eventFilter(watched, event);
}

QRect PlaceBeside(const QRect& main, QSize size, QSize least, const QRect& screen) {
    size = size.boundedTo(screen.size());
    least = least.boundedTo(size);
    // The free room on each side of the main window, in the order they are preferred.
    const QRect sides[] = {
        QRect(QPoint(main.right() + 1, screen.top()), screen.bottomRight()),
        QRect(screen.topLeft(), QPoint(main.left() - 1, screen.bottom())),
        QRect(QPoint(screen.left(), main.bottom() + 1), screen.bottomRight()),
        QRect(screen.topLeft(), QPoint(screen.right(), main.top() - 1)),
    };
    // On side `side` (0 right, 1 left, 2 below, 3 above) of the main window, level with its top
    // or left edge, moved into `room` as far as needed.
    auto within = [&main](const QRect& room, QSize s, int side) {
        QRect r(QPoint(side == 0   ? main.right() + 1
                       : side == 1 ? main.left() - s.width()
                                   : main.left(),
                       side == 2   ? main.bottom() + 1
                       : side == 3 ? main.top() - s.height()
                                   : main.top()),
                s);
        r.moveLeft(std::max(room.left(), std::min(r.left(), room.right() - s.width() + 1)));
        r.moveTop(std::max(room.top(), std::min(r.top(), room.bottom() - s.height() + 1)));
        return r;
    };
    for (int i = 0; i < 4; ++i)
        if (sides[i].width() >= size.width() && sides[i].height() >= size.height())
            return within(sides[i], size, i);
    // No side has room for all of it: the widest room that takes it at its smallest, cut to it.
    int best = -1;
    long long bestArea = 0;
    for (int i = 0; i < 4; ++i) {
        if (sides[i].width() < least.width() || sides[i].height() < least.height())
            continue;
        const QSize cut = size.boundedTo(sides[i].size());
        const long long area = static_cast<long long>(cut.width()) * cut.height();
        if (area > bestArea) {
            best = i;
            bestArea = area;
        }
    }
    if (best >= 0)
        return within(sides[best], size.boundedTo(sides[best].size()), best);
    // A screen too small for both: against the side where it covers the least of it.
    QRect place;
    long long covered = -1;
    for (int i = 0; i < 4; ++i) {
        const QRect r = within(screen, size, i);
        const QRect over = r.intersected(main);
        const long long area = static_cast<long long>(over.width()) * over.height();
        if (covered < 0 || area < covered) {
            place = r;
            covered = area;
        }
    }
    return place;
}

SongMapWindow* OpenSongMap(TMAIN_FORM& form) {
    SongMap map;
    try {
        map = ReadSongMap(form.Sel.AdlPath, form.Sel.SongName(), form.Sel.SampleRate);
    } catch (const std::exception& e) {
        form.ShowException(e.what());
        return nullptr;
    }
    auto* window = form.findChild<SongMapWindow*>(QString(), Qt::FindDirectChildrenOnly);
    if (!window) {
        window = new SongMapWindow(&form);
        // Beside the main window and on its screen, its frame reckoned as the main window's;
        // at least as large as shows all eight lanes at their smallest.
        if (QScreen* screen = form.screen()) {
            const QRect outer = form.frameGeometry(), inner = form.geometry();
            const QSize frame(outer.width() - inner.width(), outer.height() - inner.height());
            const QRect place =
                PlaceBeside(outer, window->size() + frame, QSize(480, kMinViewHeight + 60) + frame,
                            screen->availableGeometry());
            window->resize(place.size() - frame);
            window->move(place.topLeft());
        }
    }
    window->ShowMap(map, form.Sel.DriveRoot + "\\" + form.Sel.SongName());
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void FollowSongMap(TMAIN_FORM& form) {
    auto* window = form.findChild<SongMapWindow*>(QString(), Qt::FindDirectChildrenOnly);
    if (!window || !window->isVisible())
        return;
    try {
        window->ShowMap(ReadSongMap(form.Sel.AdlPath, form.Sel.SongName(), form.Sel.SampleRate),
                        form.Sel.DriveRoot + "\\" + form.Sel.SongName());
    } catch (const std::exception& e) {
        window->ShowProblem(form.Sel.SongName(), e.what());
    }
}

void InstallSongMap(TMAIN_FORM& form) {
    // Connected after the window's own handlers, so the selection is up to date here.
    for (QComboBox* combo :
         {form.Z2PComboName, form.P2ZComboName, form.Z2PComboDrive, form.P2ZComboDrive})
        QObject::connect(combo, &QComboBox::activated, &form,
                         [&form](int) { FollowSongMap(form); });
    for (QComboBox* combo : {form.Z2PComboName, form.P2ZComboName}) {
        combo->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(
            combo, &QWidget::customContextMenuRequested, &form, [&form, combo](const QPoint& at) {
                auto* menu = new QMenu(combo);
                menu->setObjectName("SongMapMenu");
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->addAction(QStringLiteral("Song map"), &form, [&form] { OpenSongMap(form); });
                menu->popup(combo->mapToGlobal(at));
            });
    }
    auto* key = new QShortcut(QKeySequence(Qt::Key_F3), &form);
    key->setObjectName("SongMapShortcut");
    QObject::connect(key, &QShortcut::activated, &form, [&form] { OpenSongMap(form); });
}

} // namespace th
