#include "cli/ConsoleUi.h"

#include "platform/Console.h"
#include "platform/Platform.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

namespace cli {

namespace {
// Ctrl+C is the command line's Cancel button: it sets the flag that the run reads. A request
// to end (SIGTERM, a closed terminal's SIGHUP) is the same press, so that the unfinished
// track is removed rather than left behind.
volatile std::sig_atomic_t interrupted = 0;
extern "C" void OnInterrupt(int) {
    interrupted = 1;
}

#ifdef SIGHUP
constexpr int kCancelSignals[] = {SIGINT, SIGTERM, SIGHUP};
#else
constexpr int kCancelSignals[] = {SIGINT, SIGTERM};
#endif

void CatchCancelSignals(bool catchThem) {
    for (int sig : kCancelSignals)
        std::signal(sig, catchThem ? OnInterrupt : SIG_DFL);
}
} // namespace

std::string ConsoleText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out.push_back('\n');
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

ConsoleUi::ConsoleUi(bool yes, Verbosity verbosity)
    : yes_(yes), verbosity_(verbosity), tty_(platform::IsConsole(platform::StdStream::Err)),
      escapes_(platform::PrepareConsole(platform::StdStream::Err)) {
    interrupted = 0; // a new run: a Ctrl+C of an earlier one is over
    CatchCancelSignals(true);
}

ConsoleUi::~ConsoleUi() {
    CatchCancelSignals(false);
}

// Takes the progress line off the screen before other text is printed.
void ConsoleUi::ClearBar() {
    if (!shown_ || !tty_)
        return;
    if (escapes_)
        std::cerr << "\r\033[K";
    else
        std::cerr << '\r' << std::string(drawnWidth_, ' ') << '\r';
    drawnWidth_ = 0;
}

bool ConsoleUi::Ask(const std::string& text) {
    // A question answered by --yes is no error: quiet runs don't show it.
    if (yes_ && verbosity_ == Verbosity::Quiet)
        return true;
    ClearBar();
    std::cerr << ConsoleText(text) << "\n";
    if (yes_)
        return true;
    if (!platform::IsConsole(platform::StdStream::In)) {
        std::cerr << "(no terminal to answer: Cancel; use --yes to answer OK)\n";
        return false;
    }
    std::cerr << "OK? [y/N] " << std::flush;
    // At a question Ctrl+C ends the program as usual: nothing has been changed yet.
    CatchCancelSignals(false);
    std::string answer;
    const bool read = static_cast<bool>(std::getline(std::cin, answer));
    CatchCancelSignals(true);
    if (!read)
        return false;
    return answer == "y" || answer == "Y" || answer == "yes";
}

void ConsoleUi::Message(const std::string& text) {
    ClearBar();
    std::cerr << ConsoleText(text) << "\n";
    lastPercent_ = -1;
}

void ConsoleUi::Report(const std::string& text, const th::Failure& why) {
    ClearBar();
    if (!text.empty())
        std::cerr << ConsoleText(text) << "\n";
    if (!why.empty())
        std::cerr << ConsoleText(th::FailureText(why)) << "\n";
    lastPercent_ = -1;
}

void ConsoleUi::FileWritten(const std::string& path) {
    if (verbosity_ != Verbosity::Verbose)
        return;
    ClearBar();
    std::cerr << "Written: " << platform::DisplayPath(path) << "\n";
    lastPercent_ = -1;
}

void ConsoleUi::ShowProgress() {
    shown_ = true;
    SetCancelled(false);
}

void ConsoleUi::CloseProgress() {
    ClearBar();
    std::cerr << std::flush;
    shown_ = false;
}

void ConsoleUi::SetLabel(const std::string& text) {
    label_ = text;
    lastPercent_ = -1;
    Draw(true);
}

void ConsoleUi::SetPosition(std::uint32_t v) {
    pos_ = v;
    Draw(false);
}

// While Cancel is disabled (an export, which can't be cancelled) Ctrl+C is noted but waits.
bool ConsoleUi::Cancelled() const {
    return cancelEnabled_ && interrupted != 0;
}

// A press of Ctrl+C is never forgotten: the run stops at the next look, whatever track it is
// on.
void ConsoleUi::SetCancelled(bool c) {
    if (c)
        interrupted = 1;
}

void ConsoleUi::Complete() {
    if (verbosity_ == Verbosity::Quiet)
        return;
    // The progress line gives way to the message, as before any other text.
    ClearBar();
    std::cerr << std::flush;
    std::cout << "Complete!" << std::endl;
}

void ConsoleUi::Draw(bool force) {
    if (!shown_ || !tty_ || verbosity_ == Verbosity::Quiet)
        return;
    const std::uint64_t span = max_ > min_ ? max_ - min_ : 0;
    const std::uint64_t done = pos_ > min_ ? pos_ - min_ : 0;
    const int percent =
        span ? static_cast<int>(std::min<std::uint64_t>(100, done * 100 / span)) : 0;
    if (!force && percent == lastPercent_)
        return;
    lastPercent_ = percent;
    const int width = 30;
    const int filled = percent * width / 100;
    const std::string line = label_ + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                             std::string(static_cast<std::size_t>(width - filled), ' ') + "] " +
                             std::to_string(percent) + "%";
    std::cerr << "\r" << line;
    // Without escapes, blanks cover what is left of a longer earlier line.
    if (escapes_)
        std::cerr << "\033[K";
    else if (line.size() < drawnWidth_)
        std::cerr << std::string(drawnWidth_ - line.size(), ' ');
    drawnWidth_ = std::max(drawnWidth_, line.size());
    std::cerr << std::flush;
}

} // namespace cli
