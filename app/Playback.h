#pragma once
// Plays a song's mix of its eight tracks on the system's default audio output. The samples
// come from the core's mix, rendered from the tracks' layouts as the import would; this class
// only hands them to Qt Multimedia and tells where the playing sample is.
#include "transfer/Mix.h"
#include "transfer/TrackAudio.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <memory>
#include <vector>

class QAudioSink;

namespace th {

class MixDevice;

class Playback : public QObject {
    Q_OBJECT
public:
    explicit Playback(QObject* parent = nullptr);
    ~Playback() override;

    // Whether the system has an audio output to play on.
    static bool HasOutput();

    // Plays the tracks of `layouts` (only those of `solo` where any is set) from sample `from`
    // at `sampleRate`; false when there is no output or nothing to play.
    bool Start(const std::vector<TrackLayout>& layouts, std::array<bool, 8> solo, SampleCount from,
               std::int32_t sampleRate);
    void Stop();
    bool Playing() const { return sink_ != nullptr; }
    // The sample being heard: where playing started plus the audio the output has played.
    SampleCount Position() const;

signals:
    // While playing, a few times a second: the sample being heard.
    void Moved(SampleCount sample);
    // Playing ended, by Stop or at the end of the mix.
    void Stopped();

private:
    void Finish();
    MixDevice* device_ = nullptr; // a child of sink_
    QAudioSink* sink_ = nullptr;
    SampleCount from_ = 0;
    SampleCount end_ = 0; // the mix's end
    std::int32_t rate_ = 0;
    QTimer tick_;
};

} // namespace th
