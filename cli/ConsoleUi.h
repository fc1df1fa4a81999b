#pragma once
// The transfer interface on a terminal: messages on stderr as they stand (CR LF shown as line
// breaks) with the file and reason of a failure on the line after them, questions answered by
// --yes, by y/N on a terminal, or Cancel otherwise, and a progress bar on stderr when stderr is
// a terminal. Ctrl+C during a run is its Cancel button.
#include "transfer/TransferUi.h"

#include <string>

namespace cli {

// How much a run tells: Quiet only errors (and questions that wait for an answer), Verbose
// also each file as it is written.
enum class Verbosity { Quiet, Normal, Verbose };

class ConsoleUi : public th::TransferUi {
public:
    // Ctrl+C presses Cancel for the lifetime of the object.
    explicit ConsoleUi(bool yes, Verbosity verbosity = Verbosity::Normal);
    ~ConsoleUi() override;
    ConsoleUi(const ConsoleUi&) = delete;
    ConsoleUi& operator=(const ConsoleUi&) = delete;

    bool Ask(const std::string& text) override;
    void Message(const std::string& text) override;
    void Report(const std::string& text, const th::Failure& why) override;
    void FileWritten(const std::string& path) override;
    void ShowProgress() override;
    void CloseProgress() override;
    void SetLabel(const std::string& text) override;
    void SetMin(std::uint32_t v) override { min_ = v; }
    void SetMax(std::uint32_t v) override { max_ = v; }
    void SetPosition(std::uint32_t v) override;
    std::uint32_t Min() const override { return min_; }
    std::uint32_t Max() const override { return max_; }
    std::uint32_t Position() const override { return pos_; }
    void SetCancelEnabled(bool e) override { cancelEnabled_ = e; }
    bool CancelEnabled() const override { return cancelEnabled_; }
    bool Cancelled() const override;
    void SetCancelled(bool c) override;
    void ProcessMessages() override {}

    // "Complete!" goes to stdout.
    void Complete();

private:
    void Draw(bool force);
    // Takes the progress line off the screen before other text is printed.
    void ClearBar();
    bool yes_;
    Verbosity verbosity_;
    bool tty_;     // stderr is a console: the progress line is drawn
    bool escapes_; // the console erases with "ESC [ K"; else blanks overwrite
    std::size_t drawnWidth_ = 0;
    bool shown_ = false;
    std::string label_;
    std::uint32_t min_ = 0, max_ = 0, pos_ = 0;
    bool cancelEnabled_ = true;
    int lastPercent_ = -1;
};

// The messages of a run as they are printed: CR LF (and lone CR) become line breaks.
std::string ConsoleText(const std::string& text);

} // namespace cli
