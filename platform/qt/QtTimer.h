#pragma once
#include <QObject>
#include <QTimer>
#include <functional>

#include "platform/Timer.h"

namespace dervix {

// The response timer, and the pace of reopening a returned device. A precise
// timer: the default coarse one may fire 5 % early, which would cut a
// module's 190 ms of grace short.
class QtTimer : public QObject, public OneShotTimer {
    Q_OBJECT

public:
    explicit QtTimer(QObject* parent = nullptr);

    void setInterval(int milliseconds) override;
    int interval() const override { return timer_.interval(); }
    void start() override { timer_.start(); }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }
    void setHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

private:
    QTimer timer_;
    std::function<void()> handler_;
};

}  // namespace dervix
