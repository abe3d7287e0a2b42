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

    // Takes the connected socket fd. The server holds the connection while it
    // serves its client and hands it over when it stops serving
    // (LinkServer::stoppedServing); it never outlives the server.
    LinkConnection(int fd, std::shared_ptr<const LinkServer::Handler> handler, LinkServer& server);
    ~LinkConnection() override;

    // Takes in what came with the connection; once the server holds it, as
    // this may end it at once.
    void start() { readLines(); }

    // True until the connection has ended or its client has gone (its
    // deletion may then still wait for the event loop, or for its running
    // request to return): until then it takes a client's place.
    bool serving() const { return stage_ == Stage::Reading || stage_ == Stage::InputEnded; }
    std::size_t queued() const { return queue_.size(); }

    // Sends and takes in what it can without waiting for the notifiers: a
    // client that has gone, or has everything answered after a half-close,
    // ends its connection.
    void catchUp();
    // Starts its next request from the event loop, if one waits and may
    // start; the server calls it when a running request makes room.
    void scheduleNext();

    // A change of an item this client watches: sent at once when nothing
    // waits to go before it; else it waits, in place of an older text of the
    // same item still waiting.
    void changed(std::string_view item, const std::string& line) override;
    void unwatched(std::string_view item) override;

private:
    // The connection's life; the transitions are in moveTo():
    //   Reading    -> InputEnded  the client has sent all it will (a
    //                             half-close); its answers and the changes
    //                             it watches still go
    //   Reading,
    //   InputEnded -> Gone        the client has closed its end: nothing more
    //                             is read or sent, what it sent is dropped,
    //                             and only its running request is waited for
    //   InputEnded,
    //   Gone       -> Ended       nothing is left to do and no request of it
    //                             runs: the event loop deletes it
    // Reading and InputEnded take a client's place in the server.
    enum class Stage { Reading, InputEnded, Gone, Ended };
    static constexpr bool CanMove(Stage from, Stage to) {
        switch (from) {
        case Stage::Reading: return to == Stage::InputEnded || to == Stage::Gone;
        case Stage::InputEnded: return to == Stage::Gone || to == Stage::Ended;
        case Stage::Gone: return to == Stage::Ended;
        case Stage::Ended: return false;
        }
        return false;
    }

    struct Entry {
        std::string line;
        bool overlong = false;
    };
    // The line being read. Skipping the rest of an over-long one is a matter
    // of reading alone, not a stage: its requests go on meanwhile, and it ends
    // at the line's LF.
    struct PartialLine {
        std::string bytes;
        bool overlong = false;
    };
    // A change that waits to go: kLinkItems' index of its item, and its line.
    struct PendingChange {
        std::size_t item;
        std::string line;
    };

    void moveTo(Stage next);
    void endInput();
    void abandon();
    void endIfDone();

    void readLines();
    std::size_t split(const char* data, std::size_t size);
    bool readable() const;
    bool backlogged() const { return out_.size() - sent_ > kMaxUnsentAnswerBytes; }
    bool hungUp() const;
    bool startable() const;
    void processNext();
    void send(const std::string& bytes);
    void takePending();
    void flush();

    const int fd_;
    std::shared_ptr<const LinkServer::Handler> handler_;
    LinkServer& server_;
    QSocketNotifier* reader_;
    QSocketNotifier* writer_;
    Stage stage_ = Stage::Reading;
    // Neither of these is a stage of the life above. A request may be inside
    // the handler whatever the client does meanwhile (it may even go); it only
    // holds off the end. And a client may stop reading (shut down its
    // receiving side) while it still sends requests, which are then handled
    // without their answers; Gone implies it.
    bool handling_ = false;
    bool unreachable_ = false;
    std::deque<Entry> queue_;
    // Bytes of the last read that did not fit in the queue, from inAt_ on.
    std::string in_;
    std::size_t inAt_ = 0;
    PartialLine line_;
    std::string out_;
    std::size_t sent_ = 0;
    // Changes that came while answers or earlier changes were still waiting
    // to go: the latest line of each item, oldest change first. They follow
    // once out_ has gone, or go ahead of the next answer.
    std::vector<PendingChange> pending_;
};

}  // namespace dervix
