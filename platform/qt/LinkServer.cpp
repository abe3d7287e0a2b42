#include "platform/qt/LinkServer.h"

#include <sys/stat.h>

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <cerrno>
#include <cstring>
#include <deque>

namespace dervix {

namespace {

// Lines waiting per connection before reading from the client pauses; the
// kernel then holds the rest and the client waits.
constexpr std::size_t kMaxQueuedLines = 64;
constexpr qint64 kReadBufferBytes = 64 * 1024;
// Answers a client leaves unread beyond this end its connection.
constexpr qint64 kMaxUnreadAnswerBytes = 4 * 1024 * 1024;

class LinkConnection : public QObject {
public:
    LinkConnection(QLocalSocket* socket, std::shared_ptr<const LinkServer::Handler> handler, QObject* parent)
        : QObject(parent), socket_(socket), handler_(std::move(handler)) {
        socket_->setParent(this);
        socket_->setReadBufferSize(kReadBufferBytes);
        connect(socket_, &QLocalSocket::readyRead, this, [this] { readLines(); });
        connect(socket_, &QLocalSocket::disconnected, this, [this] { onDisconnected(); });
        readLines();  // anything that came with the connection
    }

private:
    struct Entry {
        QByteArray line;
        bool overlong = false;
    };

    void readLines() {
        while (queue_.size() < kMaxQueuedLines && socket_->bytesAvailable() > 0) {
            const QByteArray chunk = socket_->read(qMin<qint64>(socket_->bytesAvailable(), 16384));
            if (chunk.isEmpty()) break;
            split(chunk);
        }
        scheduleNext();
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
        if (!closed_ && socket_->state() == QLocalSocket::ConnectedState) {
            socket_->write(answer.data(), qint64(answer.size()));
            socket_->write("\n", 1);
            if (socket_->bytesToWrite() > kMaxUnreadAnswerBytes) {
                socket_->abort();  // a client that never reads its answers
                return;
            }
        }
        if (closed_ && queue_.empty()) {
            deleteLater();
            return;
        }
        if (!closed_) readLines();  // reading paused while the queue was full
        scheduleNext();
    }

    void onDisconnected() {
        if (closed_) return;
        readLines();
        closed_ = true;
        partial_.clear();  // a line cut off by the client is no request
        // Whole lines the client sent before leaving are still requests (a
        // client may send "KILL" and go); their answers have nowhere to go.
        if (!busy_ && queue_.empty()) deleteLater();
    }

    QLocalSocket* socket_;
    std::shared_ptr<const LinkServer::Handler> handler_;
    std::deque<Entry> queue_;
    QByteArray partial_;
    bool discarding_ = false;
    bool busy_ = false;
    bool closed_ = false;
};

}  // namespace

LinkServer::LinkServer(Handler handler, QObject* parent)
    : QObject(parent),
      handler_(std::make_shared<const Handler>(std::move(handler))),
      server_(new QLocalServer(this)) {
    connect(server_, &QLocalServer::newConnection, this, [this] { acceptConnections(); });
}

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

void LinkServer::acceptConnections() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        int open = 0;
        for (QObject* child : children())
            if (dynamic_cast<LinkConnection*>(child)) ++open;
        if (open >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        new LinkConnection(socket, handler_, this);
    }
}

}  // namespace dervix
