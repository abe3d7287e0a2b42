#include "platform/qt/QtDesktop.h"

#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "platform/qt/QtText.h"

namespace dervix {

namespace {

struct ButtonChoice {
    QMessageBox::StandardButton button;
    int result;
};

std::vector<ButtonChoice> ButtonsFor(int flags) {
    using B = QMessageBox;
    switch (flags & 7) {
        case 1: return {{B::Ok, 1}, {B::Cancel, 2}};
        case 2: return {{B::Abort, 3}, {B::Retry, 4}, {B::Ignore, 5}};
        case 3: return {{B::Yes, 6}, {B::No, 7}, {B::Cancel, 2}};
        case 4: return {{B::Yes, 6}, {B::No, 7}};
        case 5: return {{B::Retry, 4}, {B::Cancel, 2}};
        default: return {{B::Ok, 1}};
    }
}

QMessageBox::Icon IconFor(int flags) {
    switch (flags & 0x70) {
        case 16: return QMessageBox::Critical;
        case 32: return QMessageBox::Question;
        case 48: return QMessageBox::Warning;
        case 64: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

}  // namespace

int QtDialogs::messageBox(const std::string& prompt, int flags, const std::string& title) {
    QMessageBox box(IconFor(flags), title.empty() ? QStringLiteral("Dervix") : ToQ(title), ToQMessage(prompt),
                    QMessageBox::NoButton, parent_);
    // Prompts carry texts from the module and from other programs ("<h1>x
    // Timeout after  15 retries"): shown as they are, never as markup.
    box.setTextFormat(Qt::PlainText);
    const auto choices = ButtonsFor(flags);
    QMessageBox::StandardButtons buttons;
    for (const auto& c : choices) buttons |= c.button;
    box.setStandardButtons(buttons);
    box.setDefaultButton(choices.front().button);
    box.exec();
    const auto clicked = box.standardButton(box.clickedButton());
    for (const auto& c : choices)
        if (c.button == clicked) return c.result;
    // Closed through the frame or Escape: the box's cancelling answer.
    for (const auto& c : choices)
        if (c.button == QMessageBox::Cancel) return c.result;
    return choices.front().result;
}

std::optional<std::string> QtDialogs::inputBox(const std::string& prompt, const std::string& title,
                                               const std::string& defaultText) {
    // On the heap and watched, as QInputDialog::getText does: the parent may
    // go while the dialog's event loop runs, taking the dialog with it.
    QPointer<QInputDialog> dialog = new QInputDialog(parent_);
    dialog->setWindowTitle(ToQ(title));
    dialog->setInputMode(QInputDialog::TextInput);
    dialog->setLabelText(ToQMessage(prompt));
    dialog->setTextValue(ToQ(defaultText));
    // The dialog offers no text format of its own; its prompt is its label.
    for (QLabel* label : dialog->findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (!dialog) return std::nullopt;
    const QString text = dialog->textValue();
    delete dialog.data();
    if (!accepted) return std::nullopt;
    return FromQ(text);
}

void QtDialogs::beep() { QApplication::beep(); }

void QtEventPump::serveEvents() {
    // Blocks until something happens instead of spinning: whatever ends the
    // wait (a reply, a timer tick) is an event.
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtEventPump::post(std::function<void()> work) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

double TwipsPerPixel(const QWidget* widget) {
    const QScreen* screen = widget ? widget->screen() : QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
    return 1440.0 / (dpi > 0 ? dpi : 96.0);
}

ScreenSize QtScreen::size() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return {};
    const double tpp = TwipsPerPixel();
    const QRect geometry = screen->geometry();
    return {static_cast<int>(geometry.width() * tpp), static_cast<int>(geometry.height() * tpp)};
}

void QtProcess::terminate() {
    // At once: no window closing steps. Every setting is already on disk,
    // each write having been made durable when it was made.
    if (lastWork_) lastWork_();
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(0);
}

}  // namespace dervix
