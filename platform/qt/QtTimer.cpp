#include "platform/qt/QtTimer.h"

namespace dervix {

QtTimer::QtTimer(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    // A single-shot QTimer is inactive again before timeout() is emitted, so
    // the handler may re-arm it.
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (handler_) handler_();
    });
}

void QtTimer::setInterval(int milliseconds) {
    // As before: a running timer starts counting the new interval from now.
    timer_.setInterval(milliseconds < 0 ? 0 : milliseconds);
}

}  // namespace dervix
