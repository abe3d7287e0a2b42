#include "platform/qt/QtTimer.h"

namespace dervix {

QtTimer::QtTimer(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        due_ = true;
        const unsigned armed = armed_;
        QMetaObject::invokeMethod(
            this,
            [this, armed] {
                if (armed != armed_ || !due_) return;
                // Inactive again before the handler runs, so it may re-arm it.
                due_ = false;
                if (handler_) handler_();
            },
            Qt::QueuedConnection);
    });
}

void QtTimer::setInterval(int milliseconds) {
    // As before: a running timer starts counting the new interval from now.
    timer_.setInterval(milliseconds < 0 ? 0 : milliseconds);
}

void QtTimer::start() {
    ++armed_;
    due_ = false;
    timer_.start();
}

void QtTimer::stop() {
    ++armed_;
    due_ = false;
    timer_.stop();
}

}  // namespace dervix
