#pragma once
// One client of the link server (LinkServer.h): its request lines, handled
// one at a time from the event loop, and its answers, sent at the pace the
// client reads them, with the changes of the items it watches pushed between
// them. What it holds is bounded: a queue of kMaxQueuedRequests lines and the
// rest of one read, kMaxUnsentAnswerBytes of answers, and one text of each
// item it watches.
#include <QObject>

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/qt/posix/LinkServer.h"

class QSocketNotifier;

namespace dervix {

class LinkConnection : public QObject, public LinkWatcher {
public:
    // Answers not yet taken by the client past which its connection stops
    // reading and handling its requests until the client catches up: a
    // client that asks ahead and reads slowly is answered at the pace it
    // reads, and one that never reads holds no more than this and one answer
    // here (its further requests wait in the kernel). The kernel's socket
    // buffer, some 200 kB, is full before this one fills, so a client that
    // keeps reading always has answers to read.
    static constexpr std::size_t kMaxUnsentAnswerBytes = 64 * 1024;

    // Takes the connected socket fd; the server it serves is its parent.
    LinkConnection(int fd, std::shared_ptr<const LinkServer::Handler> handler, LinkServer* parent);
    ~LinkConnection() override;

    // False from the moment the connection has ended or its client has
    // gone (its deletion may then still wait for the event loop, or for its
    // running request to return): it no longer takes a client's place.
    bool serving() const { return !ending_ && !gone_; }
    std::size_t queued() const { return queue_.size(); }

    // Sends and takes in what it can without waiting for the notifiers: a
    // client that has gone, or has everything answered after a half-close,
    // ends its connection.
    void catchUp();

    // A change of an item this client watches: sent at once when nothing
    // waits to go before it; else it waits, in place of an older text of the
    // same item still waiting.
    void changed(std::string_view item, const std::string& line) override;
    void unwatched(std::string_view item) override;

private:
    struct Entry {
        std::string line;
        bool overlong = false;
    };

    void readLines();
    std::size_t split(const char* data, std::size_t size);
    bool readable() const;
    bool backlogged() const { return out_.size() - sent_ > kMaxUnsentAnswerBytes; }
    bool hungUp() const;
    void abandon();
    void scheduleNext();
    bool startable() const;
    int running() const;
    void processNext();
    void send(const std::string& bytes);
    void takePending();
    void flush();
    void endIfDone();

    const int fd_;
    std::shared_ptr<const LinkServer::Handler> handler_;
    QSocketNotifier* reader_;
    QSocketNotifier* writer_;
    std::deque<Entry> queue_;
    // Bytes of the last read that did not fit in the queue, from inAt_ on.
    std::string in_;
    std::size_t inAt_ = 0;
    std::string partial_;
    std::string out_;
    std::size_t sent_ = 0;
    // Changes that came while answers or earlier changes were still waiting
    // to go: the latest line of each item, oldest change first. They follow
    // once out_ has gone, or go ahead of the next answer.
    std::vector<std::pair<std::string_view, std::string>> pending_;
    bool discarding_ = false;
    bool busy_ = false;
    bool inputEnded_ = false;
    bool broken_ = false;
    bool gone_ = false;
    bool ending_ = false;
};

}  // namespace dervix
