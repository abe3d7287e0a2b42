#include "platform/qt/posix/LinkConnection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace dervix {

namespace {

constexpr std::size_t kReadChunkBytes = 16384;
// An answer buffer grown past this by a backlog is given back once it has
// drained; ordinary answers never come near it.
constexpr std::size_t kKeptAnswerBufferBytes = 16 * 1024;

// Changes and unwatched items come by name, one of kLinkItems; a change
// waiting here keeps the item's place in that table.
std::size_t ItemIndex(std::string_view item) {
    return static_cast<std::size_t>(std::find(kLinkItems.begin(), kLinkItems.end(), item) - kLinkItems.begin());
}

}  // namespace

LinkConnection::LinkConnection(int fd, std::shared_ptr<const LinkServer::Handler> handler, LinkServer& server)
    : fd_(fd),
      handler_(std::move(handler)),
      server_(server),
      reader_(new QSocketNotifier(fd, QSocketNotifier::Read, this)),
      writer_(new QSocketNotifier(fd, QSocketNotifier::Write, this)) {
    writer_->setEnabled(false);
    connect(reader_, &QSocketNotifier::activated, this, [this] { readLines(); });
    connect(writer_, &QSocketNotifier::activated, this, [this] { flush(); });
}

LinkConnection::~LinkConnection() {
    // The notifiers must let go of the descriptor before it is closed.
    delete reader_;
    delete writer_;
    ::close(fd_);
}

// Every change of stage goes through here, and with it what the server
// counts: a connection that stops serving gives its client's place back.
void LinkConnection::moveTo(Stage next) {
    Q_ASSERT(CanMove(stage_, next));
    const bool wasServing = serving();
    stage_ = next;
    if (wasServing && !serving()) server_.stoppedServing(*this);
    if (next == Stage::Gone || next == Stage::Ended) {
        reader_->setEnabled(false);
        writer_->setEnabled(false);
    }
    // Not at once: one of its own calls is on the stack (its notifier's, or
    // its request's that has just returned).
    if (next == Stage::Ended) deleteLater();
}

// End of input: the client has sent all it will. After a half-close it is
// still waiting for its answers, so they are written before the connection
// ends. A line cut off by the client is no request.
void LinkConnection::endInput() {
    line_ = {};
    moveTo(Stage::InputEnded);
}

// A client that has gone gives its place back at once, whatever its running
// request is doing; its requests not yet begun are dropped, as their answers
// would have nowhere to go, and so is what it held here. The connection is
// deleted once its running request, if any, returns.
void LinkConnection::abandon() {
    unreachable_ = true;
    std::deque<Entry>().swap(queue_);
    std::string().swap(in_);
    inAt_ = 0;
    line_ = {};
    std::string().swap(out_);
    sent_ = 0;
    std::vector<PendingChange>().swap(pending_);
    endWatches();
    moveTo(Stage::Gone);
    endIfDone();
}

void LinkConnection::endIfDone() {
    // A client that has shut down its sending side and still watches keeps
    // its connection until it closes it.
    const bool inputOver = stage_ == Stage::InputEnded || stage_ == Stage::Gone;
    if (inputOver && !handling_ && queue_.empty() && out_.empty() && !watching()) moveTo(Stage::Ended);
}

void LinkConnection::catchUp() {
    if (!serving()) return;
    if (hungUp()) return abandon();
    if (!out_.empty()) flush();
    if (serving()) readLines();
}

void LinkConnection::changed(std::string_view item, const std::string& line) {
    if (unreachable_) return;
    if (out_.empty()) {
        out_.append(line).push_back('\n');
        return flush();
    }
    const std::size_t index = ItemIndex(item);
    std::erase_if(pending_, [index](const PendingChange& waiting) { return waiting.item == index; });
    pending_.push_back({index, line});
}

void LinkConnection::unwatched(std::string_view item) {
    const std::size_t index = ItemIndex(item);
    std::erase_if(pending_, [index](const PendingChange& waiting) { return waiting.item == index; });
}

void LinkConnection::takePending() {
    for (const PendingChange& waiting : pending_) out_.append(waiting.line).push_back('\n');
    pending_.clear();
}

void LinkConnection::readLines() {
    // Lines kept from an earlier read come first: the socket is read again
    // only once they are all queued.
    if (inAt_ < in_.size()) inAt_ += split(in_.data() + inAt_, in_.size() - inAt_);
    if (inAt_ == in_.size() && !in_.empty()) {
        std::string().swap(in_);
        inAt_ = 0;
    }
    char chunk[kReadChunkBytes];
    while (readable()) {
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n > 0) {
            const std::size_t taken = split(chunk, static_cast<std::size_t>(n));
            in_.assign(chunk + taken, static_cast<std::size_t>(n) - taken);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else if (n < 0 || hungUp()) {
            return abandon();  // gone, not only done sending
        } else {
            endInput();
        }
    }
    // A full queue or a backlog of answers pauses reading: the notifier
    // would otherwise fire for the bytes left in the kernel again and again.
    reader_->setEnabled(readable());
    scheduleNext();
    endIfDone();
}

// Takes whole lines into the queue while it has room; returns the bytes
// taken, the rest waits for room. A line longer than the protocol takes is
// never held whole: it is answered with the protocol's refusal, and skipped
// up to its LF.
std::size_t LinkConnection::split(const char* data, std::size_t size) {
    constexpr std::size_t kMaxLine = LinkProtocol::kMaxLine;
    std::size_t at = 0;
    while (at < size && queue_.size() < LinkServer::kMaxQueuedRequests) {
        const void* found = std::memchr(data + at, '\n', size - at);
        const std::size_t end = found ? static_cast<std::size_t>(static_cast<const char*>(found) - data) : size;
        if (!line_.overlong) {
            line_.bytes.append(data + at, std::min(end - at, kMaxLine + 1 - line_.bytes.size()));
            if (line_.bytes.size() > kMaxLine) {
                queue_.push_back({{}, true});
                std::string().swap(line_.bytes);
                line_.overlong = true;
            }
        }
        if (!found) return size;
        if (line_.overlong) {
            line_.overlong = false;  // the overlong line ends here
        } else {
            queue_.push_back({std::move(line_.bytes), false});
            line_.bytes.clear();
        }
        at = end + 1;
    }
    return at;
}

bool LinkConnection::readable() const {
    return stage_ == Stage::Reading && in_.empty() && queue_.size() < LinkServer::kMaxQueuedRequests && !backlogged();
}

// The client has closed its end, not only its sending side (as one that
// still waits for its answers does): nothing can reach it any more.
bool LinkConnection::hungUp() const {
    pollfd p{fd_, 0, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
}

void LinkConnection::scheduleNext() {
    if (startable()) QMetaObject::invokeMethod(this, [this] { processNext(); }, Qt::QueuedConnection);
}

// A backlog holds the requests back until the client has read enough; the
// write notifier's flush resumes them.
bool LinkConnection::startable() const {
    return !handling_ && serving() && !queue_.empty() && !backlogged() && server_.mayStartRequest();
}

void LinkConnection::processNext() {
    if (!startable()) return;
    // Lines a client sent before it went are no longer requests: nobody is
    // left to take their answers.
    if (hungUp()) return abandon();
    handling_ = true;
    server_.requestStarted();
    const Entry entry = std::move(queue_.front());
    queue_.pop_front();
    // The handler may serve events for a long while; meanwhile the server and
    // this connection with it may be deleted. The shared handler stays alive
    // for this call. Nothing else deletes a connection with a request inside
    // the handler, so while this one lives, so does its server.
    QPointer<LinkConnection> self(this);
    const auto handler = handler_;
    const std::string answer =
        entry.overlong ? std::string(LinkProtocol::kLineTooLong) : (*handler)(entry.line, *this);
    if (!self) return;
    handling_ = false;
    server_.requestDone();
    if (stage_ == Stage::Gone) return endIfDone();
    send(answer + "\n");
    readLines();  // reading paused while the queue was full
}

void LinkConnection::send(const std::string& bytes) {
    // The client no longer reads (it shut down its receiving side, or has
    // gone and is noticed before its next request): the answer has nowhere
    // to go.
    if (unreachable_) return;
    // The changes pushed before this answer was made go before it.
    takePending();
    out_.append(bytes);
    flush();
}

void LinkConnection::flush() {
    const bool wasBacklogged = backlogged();
    for (;;) {
        while (!unreachable_ && sent_ < out_.size()) {
            const ssize_t n = ::send(fd_, out_.data() + sent_, out_.size() - sent_, MSG_NOSIGNAL);
            if (n > 0) {
                sent_ += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            } else {
                unreachable_ = true;  // the client reads no more
            }
        }
        // All has gone: the changes that waited behind it follow.
        if (unreachable_ || sent_ < out_.size() || pending_.empty()) break;
        takePending();
    }
    if (unreachable_ && watching()) {
        pending_.clear();
        endWatches();
    }
    if (sent_ == out_.size() || unreachable_) {
        sent_ = 0;
        if (out_.capacity() > kKeptAnswerBufferBytes)
            std::string().swap(out_);  // clear() would keep the backlog's memory
        else
            out_.clear();
    } else if (sent_ >= out_.size() - sent_) {
        // What was sent goes as it goes, not only once the client has taken
        // everything: a client that keeps asking ahead never lets the buffer
        // drain. Moving the rest forward only once it is no longer than what
        // went keeps the copying in proportion to the bytes sent.
        out_.erase(0, sent_);
        sent_ = 0;
    }
    writer_->setEnabled(!out_.empty());
    if (wasBacklogged && !backlogged()) {
        readLines();  // resumes reading and the requests waiting
        return;       // (it ends the connection if that is all)
    }
    endIfDone();
}

}  // namespace dervix
