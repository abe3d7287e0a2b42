#pragma once
#include <QObject>
#include <QTimer>
#include <functional>

#include "platform/Timer.h"

namespace dervix {

// The response timer, and the pace of reopening a returned device. A precise
// timer: the default coarse one may fire 5 % early, which would cut a
// module's 190 ms of grace short.
//
// Its tick waits behind whatever the event loop already holds, as the
// desktop's own timer message always did: when the loop comes late to a
// reply and to the time-out both (a start-up still busy showing the window
// when the module answered), the reply is handled first, and the time-out's
// re-send cannot discard it.
class QtTimer : public QObject, public OneShotTimer {
    Q_OBJECT

public:
    explicit QtTimer(QObject* parent = nullptr);

    void setInterval(int milliseconds) override;
    int interval() const override { return timer_.interval(); }
    void start() override;
    void stop() override;
    // Also while its tick waits to be handled.
    bool isActive() const override { return timer_.isActive() || due_; }
    void setHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

private:
    QTimer timer_;
    std::function<void()> handler_;
    bool due_ = false;    // ran out; the handler waits its turn
    unsigned armed_ = 0;  // counts start() and stop(): a tick of an earlier arming is dropped
};

}  // namespace dervix
