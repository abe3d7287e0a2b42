#pragma once
// The session's request to end the program (SIGTERM at logout or shutdown,
// SIGHUP when its terminal goes, SIGINT for Ctrl+C), turned into an ordinary
// call on the event loop.
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace dervix {

class EndSignals : public QObject {
public:
    // At most one at a time: the signal handler has only one pipe to write to.
    explicit EndSignals(std::function<void()> onEnd, QObject* parent = nullptr);
    ~EndSignals() override;

private:
    std::function<void()> onEnd_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace dervix
