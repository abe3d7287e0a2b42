#pragma once
#include <functional>

namespace dervix {

// A one-shot timer: start() (re)arms it for the interval from now; it fires
// once and is inactive again before the handler runs.
class OneShotTimer {
public:
    virtual ~OneShotTimer() = default;
    virtual void setInterval(int milliseconds) = 0;
    virtual int interval() const = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    virtual void setHandler(std::function<void()> handler) = 0;
};

}  // namespace dervix
