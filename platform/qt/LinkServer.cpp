#include "platform/qt/LinkServer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QLocalServer>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <deque>

namespace dervix {

namespace {

// Lines waiting per connection before reading from the client pauses; the
// kernel then holds the rest and the client waits.
constexpr std::size_t kMaxQueuedLines = 64;
constexpr std::size_t kReadChunkBytes = 16384;
// Answers a client leaves unread beyond this end its connection.
constexpr qsizetype kMaxUnreadAnswerBytes = 4 * 1024 * 1024;

// One client on its own socket descriptor. Not a QLocalSocket: that takes
// the end of the client's input for the end of the connection and drops
// every answer still to come, while a client that half-closes (writes its
// requests, then shuts down its sending side) is still reading them.
class LinkConnection : public QObject {
public:
    LinkConnection(int fd, std::shared_ptr<const LinkServer::Handler> handler, QObject* parent)
        : QObject(parent), fd_(fd), handler_(std::move(handler)) {
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
        reader_ = new QSocketNotifier(qintptr(fd_), QSocketNotifier::Read, this);
        writer_ = new QSocketNotifier(qintptr(fd_), QSocketNotifier::Write, this);
        writer_->setEnabled(false);
        connect(reader_, &QSocketNotifier::activated, this, [this] { readLines(); });
        connect(writer_, &QSocketNotifier::activated, this, [this] { flush(); });
        readLines();  // anything that came with the connection
    }

    ~LinkConnection() override {
        // The notifiers go before the descriptor they watch.
        delete reader_;
        delete writer_;
        ::close(fd_);
    }

private:
    struct Entry {
        QByteArray line;
        bool overlong = false;
    };

    void readLines() {
        char buffer[kReadChunkBytes];
        while (!inputEnded_ && queue_.size() < kMaxQueuedLines) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n > 0) {
                split(QByteArray(buffer, qsizetype(n)));
            } else if (n == 0) {
                endInput();  // the client sends no more; it may still read
            } else if (errno == EINTR) {
                continue;
            } else {
                if (errno != EAGAIN && errno != EWOULDBLOCK) lose();
                break;
            }
        }
        reader_->setEnabled(!inputEnded_ && queue_.size() < kMaxQueuedLines);
        scheduleNext();
        finishIfDone();
    }

    void split(const QByteArray& chunk) {
        qsizetype at = 0;
        while (at < chunk.size()) {
            const qsizetype lf = chunk.indexOf('\n', at);
            const qsizetype end = lf < 0 ? chunk.size() : lf;
            if (!discarding_) partial_.append(chunk.constData() + at, end - at);
            if (!discarding_ && partial_.size() > LinkServer::kMaxLineBytes) {
                queue_.push_back({{}, true});
                partial_.clear();
                discarding_ = true;
            }
            if (lf < 0) break;
            if (discarding_) {
                discarding_ = false;  // the overlong line ends here
            } else {
                queue_.push_back({partial_, false});
                partial_.clear();
            }
            at = lf + 1;
        }
    }

    void endInput() {
        inputEnded_ = true;
        partial_.clear();  // a line cut off by the client is no request
    }

    // The client is gone for good: whole lines it sent before leaving are
    // still requests (a client may send "KILL" and go), but their answers
    // have nowhere to go.
    void lose() {
        endInput();
        lost_ = true;
        out_.clear();
        writer_->setEnabled(false);
    }

    void scheduleNext() {
        if (busy_ || queue_.empty()) return;
        QMetaObject::invokeMethod(this, [this] { processNext(); }, Qt::QueuedConnection);
    }

    void processNext() {
        if (busy_ || queue_.empty()) return;
        busy_ = true;
        const Entry entry = std::move(queue_.front());
        queue_.pop_front();
        // The handler may serve events for a long while; meanwhile this
        // connection may be closed by its client and even deleted, and the
        // server with it. The shared handler stays alive for this call.
        QPointer<LinkConnection> self(this);
        const auto handler = handler_;
        const std::string answer =
            entry.overlong ? std::string("ERR line too long") : (*handler)(entry.line.toStdString());
        if (!self) return;
        busy_ = false;
        if (!lost_) {
            out_.append(answer.data(), qsizetype(answer.size()));
            out_.append('\n');
            flush();
            if (out_.size() > kMaxUnreadAnswerBytes) {
                lose();  // a client that never reads its answers
                ::shutdown(fd_, SHUT_RDWR);
            }
        }
        readLines();  // reading paused while the queue was full
    }

    void flush() {
        while (!lost_ && !out_.isEmpty()) {
            const ssize_t n = ::send(fd_, out_.constData(), std::size_t(out_.size()), MSG_NOSIGNAL);
            if (n > 0) {
                out_.remove(0, qsizetype(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            } else {
                lose();
            }
        }
        writer_->setEnabled(!out_.isEmpty());
        finishIfDone();
    }

    // Closed once the client sends no more and every answer has gone out.
    void finishIfDone() {
        if (finished_ || !inputEnded_ || busy_ || !queue_.empty() || !out_.isEmpty()) return;
        finished_ = true;
        reader_->setEnabled(false);
        deleteLater();
    }

    int fd_;
    std::shared_ptr<const LinkServer::Handler> handler_;
    QSocketNotifier* reader_ = nullptr;
    QSocketNotifier* writer_ = nullptr;
    std::deque<Entry> queue_;
    QByteArray partial_;
    QByteArray out_;
    bool discarding_ = false;
    bool busy_ = false;
    bool inputEnded_ = false;
    bool lost_ = false;
    bool finished_ = false;
};

// Hands each accepted descriptor over as it is, instead of a QLocalSocket.
class DescriptorServer : public QLocalServer {
public:
    DescriptorServer(std::function<void(int)> accepted, QObject* parent)
        : QLocalServer(parent), accepted_(std::move(accepted)) {}

protected:
    void incomingConnection(quintptr socketDescriptor) override { accepted_(int(socketDescriptor)); }

private:
    std::function<void(int)> accepted_;
};

}  // namespace

LinkServer::LinkServer(Handler handler, QObject* parent)
    : QObject(parent),
      handler_(std::make_shared<const Handler>(std::move(handler))),
      server_(new DescriptorServer([this](int fd) { acceptConnection(fd); }, this)) {}

LinkServer::~LinkServer() { close(); }

bool LinkServer::isListening() const { return server_->isListening(); }

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
    // Safe only because the instance lock is held: any socket here belongs
    // to an instance that has ended. (Removing a live one would cut it off.)
    QLocalServer::removeServer(path_);
    server_->setSocketOptions(QLocalServer::NoOptions);
    if (!server_->listen(path_)) {
        error_ = QStringLiteral("Cannot listen on %1: %2").arg(path_, server_->errorString());
        return false;
    }
    // The runtime folder is the owner's alone already; the socket is made so
    // as well, in case the folder ever is not.
    if (::chmod(encoded.constData(), 0600) != 0) {
        error_ = QStringLiteral("Cannot restrict %1 to its owner: %2").arg(path_, QString::fromLocal8Bit(std::strerror(errno)));
        close();
        return false;
    }
    return true;
}

void LinkServer::close() {
    if (!server_->isListening()) return;
    server_->close();
    QLocalServer::removeServer(path_);
}

void LinkServer::acceptConnection(int fd) {
    int open = 0;
    for (QObject* child : children())
        if (dynamic_cast<LinkConnection*>(child)) ++open;
    if (open >= kMaxConnections) {
        ::close(fd);
        return;
    }
    new LinkConnection(fd, handler_, this);
}

}  // namespace dervix
