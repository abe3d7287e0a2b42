#include "platform/qt/LinkServer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <deque>

namespace dervix {

namespace {

// Lines waiting per connection before reading from the client pauses; the
// kernel then holds the rest and the client waits.
constexpr std::size_t kMaxQueuedLines = 64;
constexpr std::size_t kReadChunkBytes = 16384;
// Answers not yet taken by the client past which its connection stops
// reading and handling its requests until the client catches up: a client
// that asks ahead and reads slowly is answered at the pace it reads, and one
// that never reads holds no more than this and one answer here (its further
// requests wait in the kernel). The kernel's socket buffer, some 200 kB, is
// full before this one fills, so a client that keeps reading always has
// answers to read.
constexpr std::size_t kMaxUnsentAnswerBytes = 64 * 1024;
// An answer buffer grown past this by a backlog is given back once it has
// drained; ordinary answers never come near it.
constexpr std::size_t kKeptAnswerBufferBytes = 16 * 1024;

QString ErrnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

class LinkConnection : public QObject {
public:
    LinkConnection(int fd, std::shared_ptr<const LinkServer::Handler> handler, QObject* parent)
        : QObject(parent),
          fd_(fd),
          handler_(std::move(handler)),
          reader_(new QSocketNotifier(fd, QSocketNotifier::Read, this)),
          writer_(new QSocketNotifier(fd, QSocketNotifier::Write, this)) {
        writer_->setEnabled(false);
        connect(reader_, &QSocketNotifier::activated, this, [this] { readLines(); });
        connect(writer_, &QSocketNotifier::activated, this, [this] { flush(); });
        readLines();  // anything that came with the connection
    }

    // False from the moment the connection has ended (its deletion is then
    // only waiting for the event loop): it no longer takes a client's place.
    bool serving() const { return !ending_; }

    // Sends and takes in what it can without waiting for the notifiers: a
    // client that has gone with everything answered ends its connection.
    void catchUp() {
        if (!ending_ && !out_.empty()) flush();
        if (!ending_) readLines();
    }

    ~LinkConnection() override {
        // The notifiers must let go of the descriptor before it is closed.
        delete reader_;
        delete writer_;
        ::close(fd_);
    }

private:
    struct Entry {
        std::string line;
        bool overlong = false;
    };

    void readLines() {
        char chunk[kReadChunkBytes];
        while (readable()) {
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n > 0) {
                split(chunk, static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            } else {
                // End of input: the client has sent all it will. It may
                // still be waiting for the answers (a half-close), so they
                // are written before the connection ends. A line cut off
                // by the client is no request.
                inputEnded_ = true;
                partial_.clear();
                if (n < 0) broken_ = true;
            }
        }
        // A full queue or a backlog of answers pauses reading: the notifier
        // would otherwise fire for the bytes left in the kernel again and
        // again.
        reader_->setEnabled(readable());
        scheduleNext();
        endIfDone();
    }

    bool readable() const { return !inputEnded_ && queue_.size() < kMaxQueuedLines && !backlogged(); }

    bool backlogged() const { return out_.size() - sent_ > kMaxUnsentAnswerBytes; }

    void split(const char* data, std::size_t size) {
        std::size_t at = 0;
        while (at < size) {
            const void* found = std::memchr(data + at, '\n', size - at);
            const std::size_t end = found ? static_cast<std::size_t>(static_cast<const char*>(found) - data) : size;
            if (!discarding_) partial_.append(data + at, end - at);
            if (!discarding_ && partial_.size() > static_cast<std::size_t>(LinkServer::kMaxLineBytes)) {
                queue_.push_back({{}, true});
                partial_.clear();
                discarding_ = true;
            }
            if (!found) break;
            if (discarding_) {
                discarding_ = false;  // the overlong line ends here
            } else {
                queue_.push_back({std::move(partial_), false});
                partial_.clear();
            }
            at = end + 1;
        }
    }

    void scheduleNext() {
        if (busy_ || queue_.empty() || backlogged()) return;
        QMetaObject::invokeMethod(this, [this] { processNext(); }, Qt::QueuedConnection);
    }

    void processNext() {
        // A backlog holds the requests back until the client has read
        // enough; the write notifier's flush resumes them.
        if (busy_ || queue_.empty() || backlogged()) return;
        busy_ = true;
        const Entry entry = std::move(queue_.front());
        queue_.pop_front();
        // The handler may serve events for a long while; meanwhile the server
        // and this connection with it may be deleted. The shared handler
        // stays alive for this call.
        QPointer<LinkConnection> self(this);
        const auto handler = handler_;
        const std::string answer = entry.overlong ? std::string("ERR line too long") : (*handler)(entry.line);
        if (!self) return;
        busy_ = false;
        send(answer + "\n");
        readLines();  // reading paused while the queue was full
    }

    void send(const std::string& bytes) {
        // Whole lines the client sent before it went are still requests (a
        // client may send "KILL" and go); their answers have nowhere to go.
        if (broken_) return;
        out_.append(bytes);
        flush();
    }

    void flush() {
        const bool wasBacklogged = backlogged();
        while (!broken_ && sent_ < out_.size()) {
            const ssize_t n = ::send(fd_, out_.data() + sent_, out_.size() - sent_, MSG_NOSIGNAL);
            if (n > 0) {
                sent_ += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            } else {
                broken_ = true;  // the client is gone
            }
        }
        if (sent_ == out_.size() || broken_) {
            sent_ = 0;
            if (out_.capacity() > kKeptAnswerBufferBytes)
                std::string().swap(out_);  // clear() would keep the backlog's memory
            else
                out_.clear();
        } else if (sent_ >= out_.size() - sent_) {
            // What was sent goes as it goes, not only once the client has
            // taken everything: a client that keeps asking ahead never lets
            // the buffer drain. Moving the rest forward only once it is no
            // longer than what went keeps the copying in proportion to the
            // bytes sent.
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

    void endIfDone() {
        if (inputEnded_ && !busy_ && queue_.empty() && out_.empty() && !ending_) {
            ending_ = true;
            reader_->setEnabled(false);
            writer_->setEnabled(false);
            deleteLater();
        }
    }

    const int fd_;
    std::shared_ptr<const LinkServer::Handler> handler_;
    QSocketNotifier* reader_;
    QSocketNotifier* writer_;
    std::deque<Entry> queue_;
    std::string partial_;
    std::string out_;
    std::size_t sent_ = 0;
    bool discarding_ = false;
    bool busy_ = false;
    bool inputEnded_ = false;
    bool broken_ = false;
    bool ending_ = false;
};

}  // namespace

LinkServer::LinkServer(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::make_shared<const Handler>(std::move(handler))) {}

LinkServer::~LinkServer() { close(); }

bool LinkServer::isListening() const { return fd_ >= 0; }

bool LinkServer::listen(const QString& runtimeFolder) {
    close();
    error_.clear();
    path_ = runtimeFolder + "/Server";
    const QByteArray encoded = QFile::encodeName(path_);
    if (encoded.size() > kMaxPathBytes) {
        error_ = QStringLiteral("The link socket path is %1 bytes long, more than the %2 a socket path may have: %3")
                     .arg(encoded.size())
                     .arg(kMaxPathBytes)
                     .arg(path_);
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, encoded.constData(), static_cast<std::size_t>(encoded.size()));
    // Safe only because the instance lock is held: any socket here belongs
    // to an instance that has ended. (Removing a live one would cut it off.)
    ::unlink(encoded.constData());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error_ = QStringLiteral("Cannot listen on %1: %2").arg(path_, ErrnoText(errno));
        return false;
    }
    auto fail = [&](const QString& what) {
        error_ = what.arg(path_, ErrnoText(errno));
        ::close(fd);
        ::unlink(encoded.constData());
        return false;
    };
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);  // the path may be another's: it is not removed
        error_ = QStringLiteral("Cannot listen on %1: %2").arg(path_, ErrnoText(error));
        return false;
    }
    // The runtime folder is the owner's alone already; the socket is made so
    // as well, in case the folder ever is not.
    if (::chmod(encoded.constData(), 0600) != 0) return fail(QStringLiteral("Cannot restrict %1 to its owner: %2"));
    if (::listen(fd, SOMAXCONN) != 0) return fail(QStringLiteral("Cannot listen on %1: %2"));
    fd_ = fd;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { acceptConnections(); });
    return true;
}

void LinkServer::close() {
    if (fd_ < 0) return;
    delete notifier_;
    notifier_ = nullptr;
    ::close(fd_);
    fd_ = -1;
    ::unlink(QFile::encodeName(path_).constData());
}

int LinkServer::served() const {
    int count = 0;
    for (QObject* child : children()) {
        const auto* connection = dynamic_cast<const LinkConnection*>(child);
        if (connection && connection->serving()) ++count;
    }
    return count;
}

void LinkServer::acceptConnections() {
    // So many at a time, and the notifier fires again for the rest: clients
    // connecting without end must not keep the event loop, and with it the
    // clients already served, waiting.
    for (int taken = 0; taken < kMaxConnections; ++taken) {
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                // Out of descriptors: the waiting client stays queued, and
                // the notifier would fire for it at once again. Try later.
                notifier_->setEnabled(false);
                QTimer::singleShot(100, notifier_, [notifier = notifier_] { notifier->setEnabled(true); });
            }
            return;
        }
        if (served() >= kMaxConnections) {
            // Clients that have gone since the event loop last looked wait
            // in the kernel as this one does: their connections end first,
            // and their places are this one's. (A read or two for each
            // connection, and only while they are all taken.)
            for (QObject* child : children())
                if (auto* connection = dynamic_cast<LinkConnection*>(child)) connection->catchUp();
            if (served() >= kMaxConnections) {
                ::close(fd);
                continue;
            }
        }
        new LinkConnection(fd, handler_, this);
    }
}

}  // namespace dervix
