#include "transfer/Convert.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace th {

namespace {

// Source bytes read at a time (whole frames; at least one frame).
constexpr std::size_t kReadBytes = 4 * kCopyBlock;
// Resampled samples taken from the resampler at a time.
constexpr std::size_t kOutSamples = 32768;
// Samples of the take one block of the source gives at most (about).
constexpr std::uint64_t kPieceSamples = 65536;
// Pieces waiting between the reading and the writing side.
constexpr std::size_t kPipePieces = 4;
// The dither seed's look at the audio.
constexpr int kSeedWindows = 16;
constexpr std::size_t kSeedWindowBytes = 4096;

std::uint64_t SplitMix(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t Rotl(std::uint64_t x, int k) {
    return (x << k) | (x >> (64 - k));
}

// A quick hash of a block of the source, eight bytes at a step.
std::uint64_t BlockHash(const unsigned char* p, std::size_t n) {
    std::uint64_t h = n;
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t w = 0;
        for (int i = 0; i < 8; ++i)
            w |= static_cast<std::uint64_t>(p[i]) << (8 * i);
        h = Rotl((h ^ w) * 0x9E3779B97F4A7C15ull, 29);
    }
    for (; n > 0; ++p, --n)
        h = Rotl((h ^ *p) * 0x9E3779B97F4A7C15ull, 29);
    return h;
}

struct SoxrDeleter {
    void operator()(soxr_t s) const { soxr_delete(s); }
};
using Resampler = std::unique_ptr<std::remove_pointer_t<soxr_t>, SoxrDeleter>;

// Turns samples with full scale at +-1.0 into 16-bit little-endian bytes and writes them,
// stopping at the take's length.
class TakeWriter {
public:
    TakeWriter(WaveWriter& dest, const ConvertPlan& plan, std::uint64_t seed)
        : dest_(dest), remaining_(plan.samples), dither_(plan.dither), noise_(seed),
          bytes_(2 * kOutSamples) {}

    bool Put(const float* samples, std::size_t count) {
        while (count > 0 && remaining_ > 0) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>({count, kOutSamples, remaining_}));
            for (std::size_t i = 0; i < n; ++i) {
                double v = static_cast<double>(samples[i]) * 32768.0;
                if (dither_)
                    v += noise_.Next();
                // Overs clip at full scale; they never wrap. Rounded to the nearest step by
                // truncating a positive value (a call to floor costs more than the rest).
                v = std::clamp(v, -32768.0, 32767.0);
                const auto s =
                    static_cast<std::uint16_t>(static_cast<std::int32_t>(v + 32768.5) - 32768);
                bytes_[2 * i] = static_cast<unsigned char>(s);
                bytes_[2 * i + 1] = static_cast<unsigned char>(s >> 8);
            }
            if (!dest_.Write(bytes_.data(), 2 * n))
                return false;
            samples += n;
            count -= n;
            remaining_ -= n;
        }
        return true;
    }

    // The noise from here on follows `seed`.
    void Reseed(std::uint64_t seed) { noise_ = DitherNoise(seed); }

    // Silence for whatever the resampler did not deliver.
    bool Finish() {
        std::fill(bytes_.begin(), bytes_.end(), 0);
        while (remaining_ > 0) {
            const auto n =
                static_cast<std::size_t>(std::min<std::uint64_t>(kOutSamples, remaining_));
            if (!dest_.Write(bytes_.data(), 2 * n))
                return false;
            remaining_ -= n;
        }
        return true;
    }

private:
    WaveWriter& dest_;
    std::uint64_t remaining_;
    bool dither_;
    DitherNoise noise_;
    std::vector<unsigned char> bytes_;
};

// One block of the take as the reading side hands it to the writing side.
struct Piece {
    std::vector<float> samples;
    bool reseed = false; // the noise restarts from `seed` before these samples
    std::uint64_t seed = 0;
    std::uint32_t sourceBytes = 0; // bytes of the source it came from (0: the resampler's tail)
};

// A short queue of pieces between the two threads.
class Pipe {
public:
    // False when the writing side stopped: the reading side ends.
    bool Push(Piece piece) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || pieces_.size() < kPipePieces; });
        if (stopped_)
            return false;
        pieces_.push_back(std::move(piece));
        changed_.notify_all();
        return true;
    }
    // False at the end of the take, after a failure, or when stopped.
    bool Pop(Piece& piece) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || closed_ || !pieces_.empty(); });
        if (stopped_ || pieces_.empty())
            return false;
        piece = std::move(pieces_.front());
        pieces_.pop_front();
        changed_.notify_all();
        return true;
    }
    // The reading side is done.
    void Close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    // The reading side failed: no more pieces.
    void Fail(std::string error) {
        std::lock_guard lock(mutex_);
        error_ = std::move(error);
        pieces_.clear();
        closed_ = true;
        changed_.notify_all();
    }
    // The writing side is done.
    void Stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }
    std::string Error() {
        std::lock_guard lock(mutex_);
        return error_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Piece> pieces_;
    bool closed_ = false;
    bool stopped_ = false;
    std::string error_;
};

bool Explain(std::string* why, std::string text) {
    if (why)
        *why = std::move(text);
    return false;
}

} // namespace

ConvertPlan PlanConversion(const AudioFormat& format, std::uint32_t dataSize,
                           std::uint32_t songRate) {
    ConvertPlan plan;
    plan.format = format;
    plan.songRate = songRate;
    plan.frames = format.blockAlign ? dataSize / format.blockAlign : 0;
    plan.samples = ConvertedLength(plan.frames, format.rate, songRate);
    plan.dither = !(format.type != SampleType::Float && format.bits <= 16 && format.channels == 1 &&
                    format.rate == songRate);
    return plan;
}

std::uint64_t DitherSeed(WaveReader& source) {
    // FNV-1a over the size and the stretches.
    std::uint64_t h = 0xCBF29CE484222325ull;
    const auto mix = [&h](const unsigned char* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            h = (h ^ p[i]) * 0x100000001B3ull;
    };
    const std::uint64_t size = source.DataSize();
    unsigned char sizeBytes[8];
    for (int i = 0; i < 8; ++i)
        sizeBytes[i] = static_cast<unsigned char>(size >> (8 * i));
    mix(sizeBytes, sizeof sizeBytes);
    unsigned char window[kSeedWindowBytes];
    const std::uint64_t span = size > kSeedWindowBytes ? size - kSeedWindowBytes : 0;
    for (int w = 0; w < kSeedWindows; ++w) {
        source.Rewind();
        source.Skip(span * static_cast<std::uint64_t>(w) / (kSeedWindows - 1));
        const std::size_t got =
            source.Read(window, std::min<std::uint64_t>(kSeedWindowBytes, size));
        mix(window, got);
    }
    source.Rewind();
    return h;
}

DitherNoise::DitherNoise(std::uint64_t seed) {
    for (std::uint64_t& s : s_)
        s = SplitMix(seed);
}

double DitherNoise::Next() {
    const std::uint64_t result = Rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = Rotl(s_[3], 45);
    // Two uniform values in [-1/2, 1/2) from the two halves of one draw.
    constexpr double kScale = 1.0 / 4294967296.0;
    const double a = static_cast<double>(result >> 32) * kScale - 0.5;
    const double b = static_cast<double>(result & 0xFFFFFFFFu) * kScale - 0.5;
    return a + b;
}

bool ConvertAudio(WaveReader& source, WaveWriter& dest, const ConvertPlan& plan, std::uint64_t seed,
                  const std::function<bool(std::uint32_t)>& afterBlock, std::string* why) {
    const AudioFormat& f = plan.format;
    if (f.blockAlign == 0 || f.channels == 0)
        return Explain(why, "The file has no channels");
    if (f.rate == 0 || plan.songRate == 0)
        return Explain(why, "No conversion from " + std::to_string(f.rate) + " Hz to " +
                                std::to_string(plan.songRate) + " Hz");
    const bool resample = f.rate != plan.songRate;
    Resampler resampler;
    if (resample) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE);
        const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
        resampler.reset(soxr_create(f.rate, plan.songRate, 1, &error, &io, &quality, &runtime));
        if (!resampler || error)
            return Explain(why, std::string("The resampler failed: ") + (error ? error : "?"));
    }

    // Blocks of whole frames, small enough that one block's take stays near kPieceSamples.
    const std::uint64_t perPiece = kPieceSamples * std::uint64_t{f.rate} / plan.songRate;
    const std::size_t blockFrames = static_cast<std::size_t>(
        std::max<std::uint64_t>(1, std::min<std::uint64_t>(kReadBytes / f.blockAlign, perPiece)));

    // Three stages, each on a thread of its own: reading, decoding and mixing each block;
    // resampling it (where the rates differ; the costliest stage, so it has a thread to
    // itself); and, on this thread, dithering and writing the one before. The order of the
    // pieces is the order of the blocks, so the bytes are those of one thread doing it all.
    Pipe pipe;    // pieces ready to be written
    Pipe decoded; // mixed blocks for the resampler
    Pipe& mixed = resample ? decoded : pipe;
    std::thread reading([&] {
        try {
            std::vector<unsigned char> raw(blockFrames * f.blockAlign);
            for (std::uint64_t left = plan.frames; left > 0;) {
                const auto frames =
                    static_cast<std::size_t>(std::min<std::uint64_t>(left, blockFrames));
                const std::size_t bytes = frames * f.blockAlign;
                // The file was checked before the card changed: one that shrank since gives no
                // take.
                if (source.Read(raw.data(), bytes) < bytes)
                    return mixed.Fail(kReasonShortFile);
                Piece piece;
                piece.sourceBytes = static_cast<std::uint32_t>(bytes);
                // The noise follows each block's own bytes too, so that files that agree where
                // the seed looked (stems with silence in the same places) still get noise of
                // their own.
                piece.reseed = plan.dither;
                piece.seed = seed ^ BlockHash(raw.data(), bytes);
                piece.samples.resize(frames);
                DecodeMono(f, raw.data(), frames, piece.samples.data());
                left -= frames;
                if (!mixed.Push(std::move(piece)))
                    return;
            }
            mixed.Close();
        } catch (const std::exception& e) {
            mixed.Fail(e.what());
        }
    });
    std::thread resampling;
    if (resample) {
        resampling = std::thread([&] {
            try {
                std::vector<float> out(kOutSamples);
                // Feeds `n` samples (in == nullptr: the end) and keeps what comes out in
                // `piece`.
                const auto resampleInto = [&](Piece& piece, const float* in, std::size_t n) {
                    std::size_t used = 0;
                    std::size_t made = 0;
                    do {
                        std::size_t took = 0;
                        const soxr_error_t error =
                            soxr_process(resampler.get(), in ? in + used : nullptr, n - used, &took,
                                         out.data(), out.size(), &made);
                        if (error) {
                            pipe.Fail(std::string("The resampler failed: ") + error);
                            return false;
                        }
                        used += took;
                        piece.samples.insert(piece.samples.end(), out.data(), out.data() + made);
                    } while (used < n || made == out.size());
                    return true;
                };
                Piece in;
                while (decoded.Pop(in)) {
                    Piece piece;
                    piece.sourceBytes = in.sourceBytes;
                    piece.reseed = in.reseed;
                    piece.seed = in.seed;
                    if (!resampleInto(piece, in.samples.data(), in.samples.size()) ||
                        !pipe.Push(std::move(piece))) {
                        decoded.Stop();
                        return;
                    }
                }
                decoded.Stop();
                if (!decoded.Error().empty())
                    return pipe.Fail(decoded.Error());
                Piece last;
                if (resampleInto(last, nullptr, 0) && pipe.Push(std::move(last)))
                    pipe.Close();
            } catch (const std::exception& e) {
                decoded.Stop();
                pipe.Fail(e.what());
            }
        });
    }

    TakeWriter take(dest, plan, seed);
    bool ok = true;
    Piece piece;
    while (ok && pipe.Pop(piece)) {
        if (piece.reseed)
            take.Reseed(piece.seed);
        ok = take.Put(piece.samples.data(), piece.samples.size()) &&
             (piece.sourceBytes == 0 || !afterBlock || afterBlock(piece.sourceBytes));
    }
    pipe.Stop();
    if (resampling.joinable())
        resampling.join();
    decoded.Stop();
    reading.join();
    if (!ok)
        return false;
    if (!pipe.Error().empty())
        return Explain(why, pipe.Error());
    return take.Finish();
}

} // namespace th
