#pragma once
// The handle a serial device watch gives its owner, for any watcher that is
// a QObject with forget(): the handle may go inside the watcher's own call,
// so the watcher goes later, from the event loop, and says nothing more.
#include <QPointer>

#include "platform/SerialDevices.h"

namespace dervix {

template <typename Watcher>
class WatchHandle : public SerialDevices::Watch {
public:
    explicit WatchHandle(Watcher* watcher) : watcher_(watcher) {}
    ~WatchHandle() override {
        if (!watcher_) return;
        watcher_->forget();
        watcher_->deleteLater();
    }

private:
    QPointer<Watcher> watcher_;
};

}  // namespace dervix
