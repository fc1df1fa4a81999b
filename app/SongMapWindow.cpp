#include "app/SongMapWindow.h"

#include "app/Main.h"
#include "transfer/SongMapFormat.h"

#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

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

// What the tip says of an event beyond its times.
QString Marks(const MapEvent& e) {
    QString marks;
    if (e.missing)
        marks += QStringLiteral("\nfile missing from the song folder");
    if (e.oddTime)
        marks += QStringLiteral("\na time is not well formed (see the warnings)");
    return marks;
}

constexpr int kViewHeight =
    SongMapView::kTop + 8 * (SongMapView::kLaneHeight + SongMapView::kLaneGap) + 10;

} // namespace

SongMapView::SongMapView(QWidget* parent) : QWidget(parent) {
    setObjectName("SongMapView");
    setMouseTracking(true);
    setFixedHeight(kViewHeight);
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);
}

void SongMapView::SetMap(const SongMap& map) {
    map_ = map;
    extent_ = std::max<SampleCount>(MapExtent(map_), 1);
    update();
}

double SongMapView::Scale() const {
    return std::max(1, width() - kLeft - kRight) / static_cast<double>(extent_);
}

double SongMapView::XOf(double sample) const {
    return kLeft + sample * Scale();
}

QRect SongMapView::LaneRect(int track) const {
    return QRect(kLeft, kTop + (track - 1) * (kLaneHeight + kLaneGap), width() - kLeft - kRight,
                 kLaneHeight);
}

void SongMapView::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.fillRect(event->rect(), Qt::white);
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
        p.setPen(QColor(0xdd, 0xdd, 0xdd));
        p.drawLine(QPointF(x, kTop - 8), QPointF(x, height() - 10));
        if (x + 48 <= width()) {
            p.setPen(QColor(0x33, 0x33, 0x33));
            p.drawText(QPointF(x + 2, kTop - 12),
                       Q(RulerLabel(static_cast<double>(i) * step, step)));
        }
    }

    for (const TrackMap& t : map_.tracks) {
        const QRect lane = LaneRect(t.track);
        p.fillRect(lane, QColor(0xee, 0xf0, 0xf3));
        QFont bold = font();
        bold.setBold(true);
        p.setFont(bold);
        p.setPen(Qt::black);
        p.drawText(QRect(8, lane.top(), kLeft - 8, lane.height()), Qt::AlignVCenter,
                   QStringLiteral("TR%1").arg(t.track));
        p.setFont(font());
        // Below the boxes, faded, what of each event is not heard.
        for (std::size_t k = 0; k < t.events.size(); ++k)
            for (const auto& [from, to] : t.events[k].hidden)
                PaintBox(p,
                         QRectF(XOf(from), lane.top() + kPlayHeight + 4, (to - from) * scale,
                                kLaneHeight - kPlayHeight - 6),
                         t.events[k], 0.35);
        for (const MapStretch& s : t.plays) {
            const MapEvent& e = t.events[s.event];
            const QRectF box(XOf(s.start), lane.top() + 3, (s.end - s.start) * scale, kPlayHeight);
            if (!box.intersects(QRectF(event->rect())))
                continue;
            PaintBox(p, box, e, 1);
            p.setPen(QPen(QColor(0x33, 0x33, 0x33), 0.5));
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
            p.drawRect(QRectF(from, lane.top() + 2, to - from, kPlayHeight + 2));
        }
        if (t.end > 0) {
            p.setPen(QPen(QColor(0xc0, 0, 0), 1.5));
            p.drawLine(QPointF(XOf(t.end), lane.top()), QPointF(XOf(t.end), lane.bottom()));
        }
    }
}

QString SongMapView::TipAt(const QPoint& at) const {
    const std::int32_t rate = map_.sampleRate;
    auto times = [rate](SampleCount from, SampleCount to) {
        return Q(FormatTime(from, rate) + " - " + FormatTime(to, rate));
    };
    for (const TrackMap& t : map_.tracks) {
        const QRect lane = LaneRect(t.track);
        if (at.y() < lane.top() || at.y() > lane.bottom() || at.x() < kLeft)
            continue;
        const double sample = (at.x() - kLeft) / Scale();
        if (at.y() < lane.top() + kPlayHeight + 4) {
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
    Scroll = new QScrollArea(this);
    Scroll->setObjectName("SongMapScroll");
    Scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Scroll->setWidgetResizable(false);
    View = new SongMapView;
    Scroll->setWidget(View);
    Scroll->setMinimumHeight(kViewHeight + Scroll->horizontalScrollBar()->sizeHint().height() + 4);
    Scroll->viewport()->installEventFilter(this);
    layout->addWidget(Header);
    layout->addWidget(Scroll);
    resize(900, kViewHeight + 60);
    connect(View, &SongMapView::ZoomRequested, this, [this](double notches, int x) {
        SetZoom(zoom_ * std::pow(1.25, notches), x - Scroll->horizontalScrollBar()->value());
    });
}

void SongMapWindow::ShowMap(const SongMap& map) {
    View->SetMap(map);
    Header->setText(Q(map.song + "    " +
                      (map.sampleRate > 0 ? std::to_string(map.sampleRate) + " Hz    " : "") +
                      "length " + FormatTime(map.Length(), map.sampleRate) +
                      "    (wheel: zoom; point at a box for its entry)"));
    zoom_ = 1;
    Layout();
}

void SongMapWindow::ShowProblem(const std::string& song, const std::string& text) {
    SongMap empty;
    empty.song = song;
    View->SetMap(empty);
    Header->setText(Q(song + "    " + text));
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
}

void SongMapWindow::Layout() {
    const int width = Scroll->viewport()->width();
    const int span = std::max(1, width - SongMapView::kLeft - SongMapView::kRight);
    View->setFixedWidth(std::max(width, static_cast<int>(std::lround(span * zoom_)) +
                                            SongMapView::kLeft + SongMapView::kRight));
}

bool SongMapWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Scroll->viewport() && event->type() == QEvent::Resize)
        Layout();
    return QWidget::eventFilter(watched, event);
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
    if (!window)
        window = new SongMapWindow(&form);
    window->ShowMap(map);
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
        window->ShowMap(ReadSongMap(form.Sel.AdlPath, form.Sel.SongName(), form.Sel.SampleRate));
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
