#pragma once
// The two events a serial adapter hands to the logic, bytes received and the
// device gone. Each is posted to the event loop, never run inside the
// system's notice (the logic may sit in a modal box for minutes), and at most
// one of each waits at a time. A posted event whose line has been closed
// since, and perhaps opened again, is dropped: it belonged to the old line.
#include <QMetaObject>
#include <QObject>
#include <functional>
#include <utility>

namespace dervix {

class LineEvents {
public:
    LineEvents(QObject* owner, std::function<void()> receive, std::function<void()> gone)
        : owner_(owner), receive_(std::move(receive)), gone_(std::move(gone)) {}

    void opened() {
        ++generation_;
        goneQueued_ = false;
    }
    void closed() {
        ++generation_;
        receiveQueued_ = false;
    }
    void postReceive() { post(receiveQueued_, receive_); }
    // Once per open line: the line is closed when it is handled.
    void postGone() { post(goneQueued_, gone_, false); }
    bool goneQueued() const { return goneQueued_; }
    // The line has just been closed because its device was found gone (a
    // write that failed): the event follows, as it would have.
    void closedGone() {
        closed();
        goneQueued_ = false;
        postGone();
    }

private:
    void post(bool& queued, const std::function<void()>& run, bool again = true) {
        if (queued) return;
        queued = true;
        const unsigned generation = generation_;
        QMetaObject::invokeMethod(
            owner_,
            [this, &queued, &run, again, generation] {
                if (generation != generation_) return;
                if (again) queued = false;
                run();
            },
            Qt::QueuedConnection);
    }

    QObject* owner_;
    std::function<void()> receive_;
    std::function<void()> gone_;
    bool receiveQueued_ = false;
    bool goneQueued_ = false;
    unsigned generation_ = 0;
};

}  // namespace dervix
