#pragma once
// The progress dialog that every transfer drives, and the message boxes of the window.
// The dialog is the transfers' TransferUi: it shows the progress itself and hands questions
// and messages to an injected UserMessages, so tests can answer them without a screen.
#include "song/SongEvent.h"
#include "transfer/Renderer.h"
#include "transfer/Selection.h"
#include "transfer/TransferUi.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;

namespace th {

// Message boxes with the caption "Trackhaul".
class UserMessages {
public:
    virtual ~UserMessages() = default;
    // OK and Cancel; true for OK.
    virtual bool Ask(const std::string& text) = 0;
    // OK only.
    virtual void Message(const std::string& text) = 0;
    // OK only: a failure's message with the file and the reason below it (its informative
    // text), or the file and the reason alone when there is no message.
    virtual void Report(const std::string& text, const Failure& why) {
        Message(text.empty() ? FailureText(why) : text);
    }
    // OK only: a message with notes under it (warnings about what the run read), one a line.
    virtual void MessageWithNotes(const std::string& text, const std::vector<std::string>& notes) {
        std::string all = text;
        for (std::size_t i = 0; i < notes.size(); ++i)
            all += (i ? "\r\n" : "\r\n\r\n") + notes[i];
        Message(all);
    }
};

// The least width of a message box: its caption shows in full above a short text.
inline constexpr int kMessageBoxMinWidth = 280;
// The width a box needs for its caption in a title bar drawn in `font` (bold, as most window
// managers draw it), with room for the close box and the bar's margins; never less than
// kMessageBoxMinWidth.
int MessageBoxWidthFor(const QString& caption, const QFont& font);

// A message box as MessageBoxes shows it: caption "Trackhaul", no minimise or maximise button,
// kept above the progress dialog, never narrower than kMessageBoxMinWidth.
std::unique_ptr<QMessageBox> MakeMessageBox(const std::string& text,
                                            QMessageBox::StandardButtons buttons, QWidget* parent);

// The real message boxes (QMessageBox), kept above the progress dialog.
class MessageBoxes : public UserMessages {
public:
    bool Ask(const std::string& text) override;
    void Message(const std::string& text) override;
    void Report(const std::string& text, const Failure& why) override;
    void MessageWithNotes(const std::string& text, const std::vector<std::string>& notes) override;
};

class TWAVE_FORM : public QDialog, public TransferUi {
    Q_OBJECT
public:
    TWAVE_FORM(UserMessages& messages, const Selection& sel, const SongEventTable& table,
               QWidget* parent = nullptr);
    ~TWAVE_FORM() override;

    QLabel* Label1;
    QProgressBar* ProgressBar1;
    QPushButton* BTN_Cancel;

    // The track renderer runs on the dialog: it drives this bar and reads this Cancel flag.
    TrackRenderer Renderer;
    bool RenderTrack(int n) { return Renderer.RenderTrack(n); }

    // Runs on every ProcessMessages, after the pending events (tests press Cancel here).
    std::function<void()> OnProcessMessages;
    // Set when the main window is closed under an import: every question is answered Cancel
    // and messages are not shown, so the program can end.
    bool Quiet = false;

    void FormShow();
    void BTN_CancelClick();

    // TransferUi
    bool Ask(const std::string& text) override { return !Quiet && messages_.Ask(text); }
    void Message(const std::string& text) override {
        if (!Quiet)
            messages_.Message(text);
    }
    void Report(const std::string& text, const Failure& why) override {
        if (!Quiet)
            messages_.Report(text, why);
    }
    void ShowProgress() override;
    void CloseProgress() override;
    void SetLabel(const std::string& text) override;
    void SetMin(std::uint32_t value) override;
    void SetMax(std::uint32_t value) override;
    void SetPosition(std::uint32_t value) override;
    std::uint32_t Min() const override { return min_; }
    std::uint32_t Max() const override { return max_; }
    std::uint32_t Position() const override { return pos_; }
    void SetCancelEnabled(bool enabled) override;
    bool CancelEnabled() const override;
    bool Cancelled() const override { return cancelled_; }
    void SetCancelled(bool cancelled) override { cancelled_ = cancelled; }
    void ProcessMessages() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    // QProgressBar holds int: byte counts are shifted right until the maximum fits.
    void UpdateBar();
    void CentreOnScreen();
    // Brings the dialog's pixels up to date while a transfer runs, also one (the export) that
    // processes no window messages: window-system and paint events are handled, user input
    // is held back. Unless forced, at most every kPaintInterval milliseconds.
    void PaintNow(bool force);
    static constexpr int kPaintInterval = 50;
    QElapsedTimer lastPaint_;

    UserMessages& messages_;
    std::uint32_t min_ = 0;
    std::uint32_t max_ = 0;
    std::uint32_t pos_ = 0;
    bool cancelled_ = false;
};

} // namespace th
