#pragma once
// Helpers shared by the tests.
#include "platform/Platform.h"
#include "transfer/TransferUi.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh temporary folder, removed (made writable first) when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A folder mapped as a removable drive letter for the lifetime of the object.
class MappedDrive {
public:
    MappedDrive(const std::string& drive, const std::filesystem::path& root);
    ~MappedDrive();
    const std::string& drive() const { return drive_; }

private:
    std::string drive_;
};

std::string ReadFile(const std::filesystem::path& p);
// Files the process holds open: its handles on Windows, its descriptors elsewhere.
int OpenDescriptors();
void WriteFile(const std::filesystem::path& p, const std::string& bytes);

// Little-endian helpers for building files by hand.
std::string U16(std::uint16_t v);
std::string U32(std::uint32_t v);
// A chunk: id, size, data and the pad byte when the size is odd.
std::string Chunk(const std::string& id, const std::string& data);
// A WAV file with a 16-byte "fmt " chunk and the given audio bytes.
std::string MakeWav(const std::string& audio, std::uint32_t rate = 44100,
                    std::uint16_t channels = 1, std::uint16_t bits = 16);
// A WAV file of interleaved `samples` (full scale at +-1.0) as a DAW writes it: `tag` 1 for
// integer PCM of `bits` (8 unsigned; values rounded and clipped), 3 for IEEE float of 32 or
// 64 bits; `extensible` writes a WAVE_FORMAT_EXTENSIBLE record with that sub-format.
std::string EncodeWav(const std::vector<double>& samples, std::uint16_t tag, std::uint16_t bits,
                      std::uint16_t channels, std::uint32_t rate, bool extensible = false);
// The 16-bit samples of a file as the program writes it.
std::vector<std::int16_t> WaveSamples(const std::string& bytes);
// A file as the program writes it (46-byte header) whose header sizes match its length: it
// was not cut short.
bool IsWholeWave(const std::string& bytes);
// The audio bytes of such a file.
std::string WaveAudio(const std::string& bytes);

// Deterministic audio bytes (never all zero) for `bytes` bytes, varied by `seed`.
std::string Pattern(std::size_t bytes, std::uint32_t seed);

// An event line of an edit list as the recorder writes it (without its line end).
std::string EventLine(int entryNo, int track, const std::string& file, const std::string& srcIn,
                      const std::string& destIn, const std::string& destOut);
std::string SilenceLine(int entryNo, int track, const std::string& destIn,
                        const std::string& destOut);
// A whole edit list, CR LF line ends: sequence block at `rate` whose timecode line reads
// `tc`, then the event list (left out when withEventList is false).
std::string AdlText(int rate, const std::string& tc, const std::vector<std::string>& events,
                    bool withEventList = true);

// A scripted user: records every text shown and answers questions from a queue
// (OK when the queue is empty unless defaultAnswer is false).
class FakeUi : public th::TransferUi {
public:
    std::vector<std::string> questions;
    std::vector<std::string> messages;
    std::vector<th::Failure> failures; // what came with each Report, also without a message
    std::vector<std::string> written;  // files reported as complete
    std::vector<std::string> labels;
    std::deque<bool> answers;
    // Answers to the Yes/No/Cancel questions (also recorded in `questions`); Yes when empty.
    std::deque<th::TransferUi::Answer> choices;
    bool defaultAnswer = true;
    bool shown = false;
    int showCount = 0;
    std::uint32_t min = 0, max = 0, pos = 0;
    bool cancelEnabled = true;
    bool cancelled = false;
    int pumps = 0;
    // Runs on every ProcessMessages (for example to press Cancel after N blocks).
    std::function<void(FakeUi&)> onPump;

    bool Ask(const std::string& text) override;
    Answer AskYesNoCancel(const std::string& text) override;
    void Message(const std::string& text) override { messages.push_back(text); }
    void Report(const std::string& text, const th::Failure& why) override;
    void FileWritten(const std::string& path) override { written.push_back(path); }
    void ShowProgress() override;
    void CloseProgress() override { shown = false; }
    void SetLabel(const std::string& text) override { labels.push_back(text); }
    void SetMin(std::uint32_t v) override { min = v; }
    void SetMax(std::uint32_t v) override { max = v; }
    void SetPosition(std::uint32_t v) override { pos = v; }
    std::uint32_t Min() const override { return min; }
    std::uint32_t Max() const override { return max; }
    std::uint32_t Position() const override { return pos; }
    void SetCancelEnabled(bool e) override { cancelEnabled = e; }
    bool CancelEnabled() const override { return cancelEnabled; }
    bool Cancelled() const override { return cancelled; }
    void SetCancelled(bool c) override { cancelled = c; }
    void ProcessMessages() override;
};

// Makes every file operation `op` on a path that contains `part` fail with `error` (0 lets it
// run), as a full disk or a read-only folder would; runs `also` before each such operation.
class FailOn {
public:
    FailOn(platform::FileOp op, const std::string& part, int error,
           std::function<void()> also = {});
    ~FailOn() { platform::SetFaultHook({}); }
    FailOn(const FailOn&) = delete;
    FailOn& operator=(const FailOn&) = delete;
};

} // namespace testsupport
