#pragma once
// How the transfer engines reach the user: questions, messages and the progress display.
// The window's dialog, the command-line tool and the tests each implement it, so they all
// drive the same engines.
#include "transfer/Failure.h"

#include <cstdint>
#include <string>

namespace th {

// Caption of every message box the program shows.
inline constexpr const char* kCaption = "Trackhaul";

class TransferUi {
public:
    virtual ~TransferUi() = default;

    // A confirmation with OK and Cancel; true for OK.
    virtual bool Ask(const std::string& text) = 0;
    // A plain message with an OK button.
    virtual void Message(const std::string& text) = 0;
    // A question with Yes, No and Cancel. An interface that can't ask answers No, which
    // leaves a run as it is without the question.
    enum class Answer { Yes, No, Cancel };
    virtual Answer AskYesNoCancel(const std::string& text) {
        (void)text;
        return Answer::No;
    }
    // A message about a failure with what is known of its cause: `text` stays the message as
    // it is, the file and the reason follow it. An empty `text` tells the cause alone.
    // Interfaces that show no more than one text show the message, or the cause when there is
    // no message.
    virtual void Report(const std::string& text, const Failure& why) {
        Message(text.empty() ? FailureText(why) : text);
    }
    // A file of the transfer is complete under its final name.
    virtual void FileWritten(const std::string& path) { (void)path; }

    // The progress display. Showing it clears the Cancelled flag.
    virtual void ShowProgress() = 0;
    virtual void CloseProgress() = 0;
    // Sets the label and repaints it at once.
    virtual void SetLabel(const std::string& text) = 0;

    // Bar values are byte counts; a widget that takes int must scale them.
    virtual void SetMin(std::uint32_t value) = 0;
    virtual void SetMax(std::uint32_t value) = 0;
    virtual void SetPosition(std::uint32_t value) = 0;
    virtual std::uint32_t Min() const = 0;
    virtual std::uint32_t Max() const = 0;
    virtual std::uint32_t Position() const = 0;
    void Advance(std::uint32_t bytes) { SetPosition(Position() + bytes); }

    virtual void SetCancelEnabled(bool enabled) = 0;
    virtual bool CancelEnabled() const = 0;
    virtual bool Cancelled() const = 0;
    virtual void SetCancelled(bool cancelled) = 0;

    // Handles pending user input (repaints, a click on Cancel).
    virtual void ProcessMessages() = 0;
};

} // namespace th
