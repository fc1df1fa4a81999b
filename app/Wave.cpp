#include "app/Wave.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>

#include <algorithm>
#include <climits>

namespace th {

namespace {

QString DisplayText(const std::string& text) {
    QString s = QString::fromStdString(text);
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return s;
}

// Details longer than this go behind "Show Details..." so that the box keeps its size.
constexpr qsizetype kInformativeChars = 160;

QMessageBox::StandardButton ShowBox(const std::string& text, QMessageBox::StandardButtons buttons,
                                    const std::string& details = {}) {
    const std::unique_ptr<QMessageBox> box =
        MakeMessageBox(text, buttons, QApplication::activeWindow());
    const QString more = DisplayText(details);
    if (more.size() > kInformativeChars)
        box->setDetailedText(more);
    else
        box->setInformativeText(more);
    return static_cast<QMessageBox::StandardButton>(box->exec());
}

} // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(const std::string& text,
                                            QMessageBox::StandardButtons buttons, QWidget* parent) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, QString::fromLatin1(kCaption),
                                             DisplayText(text), buttons, parent);
    // A title bar with the close box only. The progress dialog stays on top; its questions
    // must not hide behind it.
    box->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                        Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    // The box sizes itself to its text; a short text would cut the caption short.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
        grid->addItem(new QSpacerItem(MessageBoxWidthFor(box->windowTitle(), box->font()), 0,
                                      QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
    if (buttons & QMessageBox::Cancel)
        box->setDefaultButton(QMessageBox::Ok);
    return box;
}

int MessageBoxWidthFor(const QString& caption, const QFont& font) {
    QFont title = font;
    title.setBold(true);
    const QFontMetrics metrics(title);
    // A close box and margins of about two lines' height each side.
    return std::max(kMessageBoxMinWidth, metrics.horizontalAdvance(caption) + 6 * metrics.height());
}

bool MessageBoxes::Ask(const std::string& text) {
    return ShowBox(text, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void MessageBoxes::Message(const std::string& text) {
    ShowBox(text, QMessageBox::Ok);
}

void MessageBoxes::MessageWithNotes(const std::string& text,
                                    const std::vector<std::string>& notes) {
    // The first few notes show under the message; a longer list is all behind "Show
    // Details...".
    constexpr std::size_t kShownNotes = 4;
    std::string shown, all;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (i < kShownNotes)
            shown += (i ? "\n" : "") + notes[i];
        all += (i ? "\n" : "") + notes[i];
    }
    if (notes.size() > kShownNotes)
        shown += "\n(" + std::to_string(notes.size()) + " warnings in all)";
    const std::unique_ptr<QMessageBox> box =
        MakeMessageBox(text, QMessageBox::Ok, QApplication::activeWindow());
    box->setInformativeText(DisplayText(shown));
    if (notes.size() > kShownNotes)
        box->setDetailedText(DisplayText(all));
    box->exec();
}

void MessageBoxes::Report(const std::string& text, const Failure& why) {
    if (text.empty())
        ShowBox(FailureText(why), QMessageBox::Ok);
    else
        ShowBox(text, QMessageBox::Ok, FailureText(why));
}

TWAVE_FORM::TWAVE_FORM(UserMessages& messages, const Selection& sel, const SongEventTable& table,
                       QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint),
      Renderer(*this, sel, table), messages_(messages) {
    setObjectName("WAVE_FORM");
    setWindowTitle(QString::fromLatin1(kCaption));
    setModal(false);
    setFixedSize(292, 123);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    setFont(font);

    Label1 = new QLabel(QStringLiteral("text"), this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(24, 16, 18, 15);
    Label1->adjustSize();

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setGeometry(24, 48, 241, 16);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setFocusPolicy(Qt::TabFocus);

    BTN_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
    BTN_Cancel->setObjectName("BTN_Cancel");
    BTN_Cancel->setGeometry(112, 88, 75, 25);
    connect(BTN_Cancel, &QPushButton::clicked, this, [this] { BTN_CancelClick(); });

    setTabOrder(ProgressBar1, BTN_Cancel);
    UpdateBar();
}

TWAVE_FORM::~TWAVE_FORM() = default;

void TWAVE_FORM::FormShow() {
    cancelled_ = false;
}

void TWAVE_FORM::BTN_CancelClick() {
    cancelled_ = true;
}

void TWAVE_FORM::ShowProgress() {
    if (isVisible()) {
        FormShow();
    } else {
        CentreOnScreen();
        show();
    }
    raise();
    PaintNow(true);
}

void TWAVE_FORM::CloseProgress() {
    hide();
}

void TWAVE_FORM::SetLabel(const std::string& text) {
    Label1->setText(QString::fromStdString(text));
    Label1->adjustSize();
    Label1->repaint();
    PaintNow(true);
}

void TWAVE_FORM::SetMin(std::uint32_t value) {
    min_ = value;
    UpdateBar();
}

void TWAVE_FORM::SetMax(std::uint32_t value) {
    max_ = value;
    UpdateBar();
}

void TWAVE_FORM::SetPosition(std::uint32_t value) {
    pos_ = value;
    UpdateBar();
    PaintNow(false);
}

void TWAVE_FORM::PaintNow(bool force) {
    if (!isVisible() || (!force && lastPaint_.isValid() && lastPaint_.elapsed() < kPaintInterval))
        return;
    lastPaint_.start();
    // Expose and update requests of the dialog (and of the window under a box that has just
    // closed) are handled here; clicks, keys and close requests wait in the queue.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TWAVE_FORM::SetCancelEnabled(bool enabled) {
    BTN_Cancel->setEnabled(enabled);
}

bool TWAVE_FORM::CancelEnabled() const {
    return BTN_Cancel->isEnabled();
}

void TWAVE_FORM::ProcessMessages() {
    QCoreApplication::processEvents();
    if (OnProcessMessages)
        OnProcessMessages();
}

void TWAVE_FORM::UpdateBar() {
    const std::uint32_t top = std::max(min_, max_);
    int shift = 0;
    while ((top >> shift) > static_cast<std::uint32_t>(INT_MAX))
        ++shift;
    const int lo = static_cast<int>(min_ >> shift);
    // An empty range would make the bar a busy indicator; show it as empty instead.
    const int hi = std::max(static_cast<int>(max_ >> shift), lo + 1);
    const int value =
        std::clamp(static_cast<int>(std::min<std::uint32_t>(pos_ >> shift, INT_MAX)), lo, hi);
    ProgressBar1->setRange(lo, hi);
    ProgressBar1->setValue(value);
}

void TWAVE_FORM::CentreOnScreen() {
    if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        const QRect area = s->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void TWAVE_FORM::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TWAVE_FORM::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        // The Cancel button is the dialog's cancel button, but only while it is enabled.
        if (BTN_Cancel->isEnabled())
            BTN_Cancel->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TWAVE_FORM::closeEvent(QCloseEvent* event) {
    // No close box: the user can't close the dialog under a running transfer.
    if (event->spontaneous())
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void TWAVE_FORM::reject() {}

} // namespace th
