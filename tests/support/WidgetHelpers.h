#pragma once
// For widget tests of modal dialogs: exec() blocks the test, so the
// operator's part runs from the event loop once the dialog is up.
#include <QApplication>
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

}  // namespace dervix::test
