#pragma once
// The song map in the window: a separate, non-modal "Song map" window with the song's eight
// lanes, opened from the context menu of either song combo box or with F3.
#include "transfer/Peaks.h"
#include "transfer/SongMap.h"
#include "transfer/TrackAudio.h"

#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;

namespace th {

class Playback;
class TMAIN_FORM;

// Peaks of the eight tracks over samples [from, to) in `buckets` buckets each.
struct WavePeaks {
    SampleCount from = 0, to = 0;
    std::size_t buckets = 0;
    std::array<std::vector<Peak>, 8> tracks;
    std::set<std::string> missing; // sources that could not be read
};

// The lanes, drawn like the picture of `trackhaul-cli show --svg`. The wheel zooms in time
// around the pointer; hovering a box shows its entry, file and times.
class SongMapView : public QWidget {
    Q_OBJECT
public:
    explicit SongMapView(QWidget* parent = nullptr);
    ~SongMapView() override;
    // The map; with `songFolder` (drive + "\\" + song) the waveforms are read from the
    // song's files, on a worker thread, and kept while the view lives.
    void SetMap(const SongMap& map, const std::string& songFolder = {});
    const SongMap& Map() const { return map_; }
    const std::vector<TrackLayout>& Layouts() const { return layouts_; }

    // The waveforms in samples [from, to) at `pixels` columns are wanted: computed on the
    // worker unless known; until then the coarser whole-song waveform is drawn.
    void WantDetail(SampleCount from, SampleCount to, int pixels);
    // Whether the worker has nothing left to compute.
    bool WavesSettled() const { return !busy_ && !pending_; }
    // The whole-song waveform (empty until computed) and the finest one drawn.
    const WavePeaks* Overview() const { return overview_.get(); }
    const WavePeaks* Detail() const { return detail_.get(); }
    // Buckets of the whole-song waveform of each track.
    static constexpr std::size_t kOverviewBuckets = 4096;

    // Where playing starts (a click on a lane places it), and the sample being played (-1: not
    // playing).
    SampleCount Cursor() const { return cursor_; }
    void SetCursor(SampleCount sample);
    void SetPlayhead(long long sample);
    long long Playhead() const { return playhead_; }
    // Tracks played alone; a click on a lane's label turns its solo on and off.
    const std::array<bool, 8>& Solo() const { return solo_; }
    void ToggleSolo(int track);
    // The sample under view x `x`.
    SampleCount SampleAt(int x) const;

    // What a tooltip at `at` says; empty where there is no box.
    QString TipAt(const QPoint& at) const;
    // x of a sample position, and the lane area's geometry.
    double XOf(double sample) const;
    QRect LaneRect(int track) const; // track 1..8
    // The lanes share the view's height: kLaneHeight at the window's first size, never less
    // than kMinLaneHeight; the boxes of what is heard take the same share of a lane.
    int LaneHeight() const;
    int PlayHeight() const;
    static constexpr int kLeft = 48, kRight = 16, kTop = 34, kLaneHeight = 44, kLaneGap = 6,
                         kPlayHeight = 28, kMinLaneHeight = 24;
    // The view's height for lanes `laneHeight` high.
    static constexpr int HeightFor(int laneHeight) {
        return kTop + 8 * (laneHeight + kLaneGap) + 10;
    }
    // The TR labels are drawn from view x `x`, the left edge of what is in view, so that they
    // stay in sight when zoomed in and scrolled.
    void SetLabelLeft(int x);
    int LabelLeft() const { return labelLeft_; }

signals:
    // The wheel turned over the view at x: +1 notch zooms in, -1 out.
    void ZoomRequested(double notches, int x);
    void SoloChanged();
    void CursorChanged();
    // The worker finished a waveform.
    void WavesReady();

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct WaveJob {
        SampleCount from, to;
        std::size_t buckets;
        bool overview; // the whole song, drawn where no finer waveform is known
    };
    double Scale() const; // pixels per sample
    // The waveform of a heard stretch inside its box.
    void PaintWave(QPainter& p, const QRectF& box, int track, SampleCount from, SampleCount to,
                   const QRect& dirty);
    void StartJob(const WaveJob& job);
    void JobDone(const WaveJob& job, std::shared_ptr<WavePeaks> peaks, std::uint64_t generation);
    void StopWorker();
    SongMap map_;
    SampleCount extent_ = 1;
    std::string folder_;
    std::vector<TrackLayout> layouts_;
    std::shared_ptr<WavePeaks> overview_, detail_;
    // Waveforms already computed, per song folder and range, while the view lives.
    // The key names the song by its tracks' layouts, which change with its list.
    using WaveKey = std::tuple<std::size_t, SampleCount, SampleCount, std::size_t>;
    std::map<WaveKey, std::shared_ptr<WavePeaks>> cache_;
    std::size_t layoutsId_ = 0;    // a hash of layouts_
    std::uint64_t generation_ = 0; // results of an earlier map are dropped
    std::thread worker_;
    std::atomic<bool> stop_{false};
    bool busy_ = false;
    std::unique_ptr<WaveJob> pending_;
    SampleCount cursor_ = 0;
    long long playhead_ = -1;
    int labelLeft_ = 0;
    std::array<bool, 8> solo_{};
};

class SongMapWindow : public QWidget {
    Q_OBJECT
public:
    explicit SongMapWindow(QWidget* parent = nullptr);

    ~SongMapWindow() override;
    // Shows `map`; the whole song fits the width. With `songFolder`, its waveforms and its
    // playback.
    void ShowMap(const SongMap& map, const std::string& songFolder = {});
    // Shows no map, and why in its place.
    void ShowProblem(const std::string& song, const std::string& text);
    // Horizontal zoom: 1 shows the whole song; the sample under viewport x `anchor` stays.
    void SetZoom(double zoom, int anchor);
    double Zoom() const { return zoom_; }

    // Plays the mix from the cursor (with the tracks soloed, if any), or stops playing.
    void TogglePlay();
    void StopPlaying();
    bool IsPlaying() const;

    QLabel* Header;
    QPushButton* PlayButton;
    QScrollArea* Scroll;
    SongMapView* View;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The view's size from the viewport's and the zoom.
    void Layout();
    // Asks the view for the waveform of what the viewport shows, once scrolling settles.
    void WantVisibleDetail();
    double zoom_ = 1;
    Playback* playback_;
    QTimer detailTimer_;
};

// Puts "Song map" in the context menu of both song combo boxes and F3 on the main window.
void InstallSongMap(TMAIN_FORM& form);

// An open map follows the song chosen in `form`; a list that can't be read is named in the
// map window rather than in a message box.
void FollowSongMap(TMAIN_FORM& form);

// Where a window of `size` (frame included) goes beside `main` within `screen`: to its right,
// else to its left, else below or above it; where none has room for all of it, the largest
// room that takes `least`, cut to that room; else against the side where it covers the least of
// the main window.
QRect PlaceBeside(const QRect& main, QSize size, QSize least, const QRect& screen);

// Opens, or brings to the front, the song map of the song selected in `form`; a list that
// can't be read is shown as an error and no map opens. Returns the window or nullptr.
SongMapWindow* OpenSongMap(TMAIN_FORM& form);

} // namespace th
