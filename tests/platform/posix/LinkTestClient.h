#pragma once
// What the link server tests share: a raw client of the socket, a recorder
// of the requests the server hands on, and socket helpers.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <QLocalSocket>
#include <QPointer>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include "platform/qt/posix/LinkServer.h"
#include "shell/LinkProtocol.h"
#include "support/Rig.h"

#include <QtTest>

namespace linktest {

constexpr int kWait = 5000;  // ms; only ever waited out on failure

class Client {
public:
    explicit Client(const QString& path) {
        socket.connectToServer(path);
        socket.waitForConnected(kWait);
    }
    bool connected() const { return socket.state() == QLocalSocket::ConnectedState; }
    void send(const QByteArray& bytes) {
        socket.write(bytes);
        socket.flush();
    }
    // The next answer line, serving the server meanwhile; empty on time-out.
    QByteArray answer() {
        QElapsedTimer timer;
        timer.start();
        while (!socket.canReadLine() && timer.elapsed() < kWait) QTest::qWait(1);
        if (!socket.canReadLine()) return {};
        QByteArray line = socket.readLine();
        line.chop(1);
        return line;
    }
    // Serves events for a while and tells whether an answer came meanwhile.
    bool answeredWithin(int ms) {
        QTest::qWait(ms);
        return socket.bytesAvailable() > 0;
    }
    QLocalSocket socket;
};

// The program's own handler: the window's logic behind the protocol.
inline dervix::LinkServer::Handler Serving(dervix::LinkProtocol& protocol) {
    return [&protocol](const std::string& line, dervix::LinkWatcher& client) { return protocol.handle(line, &client); };
}

// A test handler: echoes, records, and can hold a request open in a nested
// event loop until released by another request.
struct Recorder {
    std::vector<std::string> lines;
    int depth = 0;
    int deepest = 0;
    bool release = false;
    std::function<void()> whileHeld;

    dervix::LinkServer::Handler handler() {
        return [this](const std::string& line, dervix::LinkWatcher&) -> std::string {
            lines.push_back(line);
            if (line == "hold") {
                ++depth;
                deepest = std::max(deepest, depth);
                QEventLoop loop;
                QTimer poll;
                QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
                    if (whileHeld) std::exchange(whileHeld, nullptr)();
                    if (release) loop.quit();
                });
                poll.start(1);
                loop.exec();
                release = false;
                --depth;
                return "OK held";
            }
            if (line == "release") {
                release = true;
                return "OK released";
            }
            return "OK echo " + line + " at depth " + std::to_string(depth);
        };
    }
};

// A client on a plain socket, for what Qt's would hide: that one takes in
// everything that arrives whenever the event loop runs.
inline int ConnectTo(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// What has arrived on a plain socket; "<end>" once the server closed it.
inline QByteArray Take(int fd) {
    QByteArray taken;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            taken.append(buffer, qsizetype(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return taken + "<end>";
        } else if (errno != EINTR) {
            return taken;
        }
    }
}

inline mode_t SocketMode(const QString& path, bool* isSocket) {
    struct stat st {};
    if (::stat(path.toLocal8Bit().constData(), &st) != 0) return 0;
    *isSocket = S_ISSOCK(st.st_mode);
    return st.st_mode & 07777;
}

}  // namespace linktest
