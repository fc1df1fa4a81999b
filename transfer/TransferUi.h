#pragma once
// How the transfer engines reach the user: questions, messages and the progress display.
// The window's dialog, the command-line tool and the tests each implement it, so they all
// drive the same engines.
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
