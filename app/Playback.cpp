#include "app/Playback.h"

#ifdef TRACKHAUL_AUDIO
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>

namespace th {

// The mix as a sequential device the audio output pulls 16-bit samples from, followed by
// `tail` zero samples: the output reports running dry while its own buffer still holds the
// mix's last part, and stopping it then would cut that part off. The device lives as long as
// the output that reads it, as its child.
class MixDevice : public QIODevice {
public:
    MixDevice(std::unique_ptr<SongMix> mix, std::size_t tail, QObject* parent)
        : QIODevice(parent), owned_(std::move(mix)), mix_(*owned_), tail_(tail) {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    bool atEnd() const override { return mix_.Position() >= mix_.Samples() && tail_ == 0; }
    qint64 bytesAvailable() const override {
        return qint64{mix_.Samples() - mix_.Position()} * 2 + static_cast<qint64>(tail_) * 2 +
               QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        // Whole samples only; the output asks for even counts.
        const auto samples = static_cast<std::size_t>(std::max<qint64>(0, maxSize / 2));
        auto* out = reinterpret_cast<std::int16_t*>(data);
        std::size_t done = mix_.Read(out, samples);
        const std::size_t zeros = std::min(tail_, samples - done);
        std::fill_n(out + done, zeros, std::int16_t{0});
        tail_ -= zeros;
        done += zeros;
        return static_cast<qint64>(done * 2);
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    std::unique_ptr<SongMix> owned_;
    SongMix& mix_;
    std::size_t tail_;
};

Playback::Playback(QObject* parent) : QObject(parent) {
    tick_.setInterval(40);
    connect(&tick_, &QTimer::timeout, this, [this] { emit Moved(Position()); });
}

Playback::~Playback() {
    if (sink_) {
        sink_->stop();
        delete sink_;
    }
}

bool Playback::HasOutput() {
    return !QMediaDevices::defaultAudioOutput().isNull();
}

bool Playback::Start(const std::vector<TrackLayout>& layouts, std::array<bool, 8> solo,
                     SampleCount from, std::int32_t sampleRate) {
    Stop();
    const QAudioDevice output = QMediaDevices::defaultAudioOutput();
    if (output.isNull() || sampleRate <= 0)
        return false;
    auto mix = std::make_unique<SongMix>(layouts, solo);
    if (mix->Playing() == 0 || from >= mix->Samples())
        return false;
    mix->Seek(from);
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    from_ = from;
    rate_ = sampleRate;
    sink_ = new QAudioSink(output, format, this);
    end_ = mix->Samples();
    // Half a second of silence after the mix, more than the output buffers.
    device_ = new MixDevice(std::move(mix), static_cast<std::size_t>(sampleRate) / 2, sink_);
    connect(sink_, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        // The output ran dry at the end of the mix, or failed.
        if (state == QAudio::IdleState && device_ && device_->atEnd())
            Finish();
        else if (state == QAudio::StoppedState && sink_ && sink_->error() != QAudio::NoError)
            Finish();
    });
    sink_->start(device_);
    if (sink_->error() != QAudio::NoError) {
        Finish();
        return false;
    }
    tick_.start();
    return true;
}

void Playback::Stop() {
    if (sink_)
        Finish();
}

void Playback::Finish() {
    tick_.stop();
    if (!sink_)
        return;
    QAudioSink* sink = sink_;
    sink_ = nullptr;
    sink->disconnect(this);
    sink->stop();
    sink->deleteLater(); // with the device: this may run in the output's own signal
    device_ = nullptr;
    emit Stopped();
}

SampleCount Playback::Position() const {
    if (!sink_ || rate_ <= 0)
        return from_;
    // What the output was handed, less what still waits in its buffer.
    const qint64 queued = std::max<qint64>(0, sink_->bufferSize() - sink_->bytesFree()) / 2;
    const qint64 handed = sink_->processedUSecs() * rate_ / 1000000;
    const qint64 played = std::max<qint64>(0, handed - queued);
    return static_cast<SampleCount>(std::min<qint64>(qint64{from_} + played, end_));
}

} // namespace th
#else

namespace th {

// Built without Qt Multimedia (the Windows archive's static Qt has none): there is no output
// to play on, and the song map says so.
class MixDevice {};

Playback::Playback(QObject* parent) : QObject(parent) {}
Playback::~Playback() = default;
bool Playback::HasOutput() {
    return false;
}
bool Playback::Start(const std::vector<TrackLayout>&, std::array<bool, 8>, SampleCount,
                     std::int32_t) {
    return false;
}
void Playback::Stop() {}
void Playback::Finish() {}
SampleCount Playback::Position() const {
    return from_;
}

} // namespace th

#endif
