#include "platform/qt/posix/LinkServer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
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

// Only the connections serving have requests waiting: one whose client has
// gone has dropped them, and one that has ended had none.
std::size_t LinkServer::queuedRequests() const {
    std::size_t count = 0;
    for (const auto& connection : serving_) count += connection->queued();
    return count;
}

// Requests held back by the cap may start now that one has returned.
void LinkServer::requestDone() {
    const bool othersHeldBack = running_ >= kMaxRunningRequests;
    --running_;
    if (othersHeldBack)
        for (const auto& connection : serving_) connection->scheduleNext();
}

void LinkServer::stoppedServing(LinkConnection& connection) {
    const auto held = std::find_if(serving_.begin(), serving_.end(),
                                   [&connection](const auto& serving) { return serving.get() == &connection; });
    if (held == serving_.end()) return;
    held->release()->setParent(this);
    serving_.erase(held);
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
        if (serving_.size() >= std::size_t(kMaxConnections)) {
            // Clients that have gone since the event loop last looked wait
            // in the kernel as this one does: their connections end first,
            // and their places are this one's. (A read or two for each
            // connection, and only while they are all taken.) One that ends
            // leaves serving_ meanwhile, but lives on until the event loop.
            std::vector<LinkConnection*> all;
            for (const auto& connection : serving_) all.push_back(connection.get());
            for (LinkConnection* connection : all) connection->catchUp();
            if (serving_.size() >= std::size_t(kMaxConnections)) {
                ::close(fd);
                continue;
            }
        }
        serving_.push_back(std::make_unique<LinkConnection>(fd, handler_, *this));
        serving_.back()->start();
    }
}

}  // namespace dervix
