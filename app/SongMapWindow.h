#pragma once
// The song map in the window: a separate, non-modal "Song map" window with the song's eight
// lanes, opened from the context menu of either song combo box or with F3.
#include "transfer/SongMap.h"

#include <QString>
#include <QWidget>
#include <string>

class QLabel;
class QScrollArea;

namespace th {

class TMAIN_FORM;

// The lanes, drawn like the picture of `trackhaul-cli show --svg`. The wheel zooms in time
// around the pointer; hovering a box shows its entry, file and times.
class SongMapView : public QWidget {
    Q_OBJECT
public:
    explicit SongMapView(QWidget* parent = nullptr);
    void SetMap(const SongMap& map);
    const SongMap& Map() const { return map_; }

    // What a tooltip at `at` says; empty where there is no box.
    QString TipAt(const QPoint& at) const;
    // x of a sample position, and the lane area's geometry.
    double XOf(double sample) const;
    QRect LaneRect(int track) const; // track 1..8
    static constexpr int kLeft = 48, kRight = 16, kTop = 34, kLaneHeight = 44, kLaneGap = 6,
                         kPlayHeight = 28;

signals:
    // The wheel turned over the view at x: +1 notch zooms in, -1 out.
    void ZoomRequested(double notches, int x);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool event(QEvent* event) override;

private:
    double Scale() const; // pixels per sample
    SongMap map_;
    SampleCount extent_ = 1;
};

class SongMapWindow : public QWidget {
    Q_OBJECT
public:
    explicit SongMapWindow(QWidget* parent = nullptr);

    // Shows `map`; the whole song fits the width.
    void ShowMap(const SongMap& map);
    // Shows no map, and why in its place.
    void ShowProblem(const std::string& song, const std::string& text);
    // Horizontal zoom: 1 shows the whole song; the sample under viewport x `anchor` stays.
    void SetZoom(double zoom, int anchor);
    double Zoom() const { return zoom_; }

    QLabel* Header;
    QScrollArea* Scroll;
    SongMapView* View;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The view's width from the viewport's and the zoom.
    void Layout();
    double zoom_ = 1;
};

// Puts "Song map" in the context menu of both song combo boxes and F3 on the main window.
void InstallSongMap(TMAIN_FORM& form);

// An open map follows the song chosen in `form`; a list that can't be read is named in the
// map window rather than in a message box.
void FollowSongMap(TMAIN_FORM& form);

// Opens, or brings to the front, the song map of the song selected in `form`; a list that
// can't be read is shown as an error and no map opens. Returns the window or nullptr.
SongMapWindow* OpenSongMap(TMAIN_FORM& form);

} // namespace th
