#pragma once
// For widget tests of modal dialogs: exec() blocks the test, so the
// operator's part runs from the event loop once the dialog is up.
#include <QApplication>
#include <QFont>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace dervix::test {

// Runs act on the application's modal widget as soon as one is visible.
// act must close what it found, or the dialog waits for ever.
inline void WhenModal(std::function<void(QWidget*)> act, int triesLeft = 400) {
    QTimer::singleShot(5, [act, triesLeft] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) act(modal);
        else if (triesLeft > 0) WhenModal(act, triesLeft - 1);
    });
}

// The desktop's font at a size of its own for as long as it lives, as a
// desktop set to that size hands it to the program.
struct DesktopFont {
    explicit DesktopFont(int points) : saved(QApplication::font()) {
        QFont font = saved;
        font.setPointSize(points);
        QApplication::setFont(font);
    }
    ~DesktopFont() { QApplication::setFont(saved); }
    DesktopFont(const DesktopFont&) = delete;
    DesktopFont& operator=(const DesktopFont&) = delete;
    QFont saved;
};

}  // namespace dervix::test
