#include "platform/qt/posix/LinkServer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>

#include "platform/qt/posix/LinkConnection.h"

namespace dervix {

namespace {

QString ErrnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

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

std::size_t LinkServer::queuedRequests() const {
    std::size_t count = 0;
    for (const QObject* child : children())
        if (const auto* connection = dynamic_cast<const LinkConnection*>(child)) count += connection->queued();
    return count;
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
