#pragma once
// The link for other programs on a local socket "<runtime folder>/Server"
// (mode 0600, never a network port), served from the main thread's event
// loop. Each connection is handled one line at a time, and never from inside
// the socket's own notification: a request may open a modal box, and other
// requests, of the same client or of others, must still be read while it is
// open. A client that asks ahead is answered at the pace it reads: while its
// unread answers pass a limit, its requests wait in the kernel. A client that
// watches items gets each change pushed between its answers, never inside
// one; one that reads slowly makes no change wait for others, and holds no
// more here than the latest text of each item it watches. Plain POSIX
// sockets watched by the event loop: Qt's network module would bring a dozen
// libraries (Kerberos, proxies) into every start.
#include <QObject>
#include <QString>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/LinkProtocol.h"

class QSocketNotifier;

namespace dervix {

class LinkConnection;

class LinkServer : public QObject {
public:
    // One request line (without its LF) in, one answer (without its LF) out;
    // client is the connection, for the items it watches.
    using Handler = std::function<std::string(const std::string& line, LinkWatcher& client)>;

    // Longest socket path: the kernel takes 107 bytes, but Qt 6.4's local
    // socket, which dervix-link and other Qt clients connect with, refuses
    // anything past 106 with a bare "Name error".
    static constexpr int kMaxPathBytes = 106;
    // Clients served at once; a further one is closed at once. A client that
    // has gone (closed its end, not only its sending side) leaves room at
    // once, even before the event loop has noticed and while its running
    // request still has a box open; its requests not yet begun are dropped.
    static constexpr int kMaxConnections = 32;
    // Requests inside the handler at once, the ones of clients that have
    // gone included: each may hold a box's event loop on the stack, which
    // clients coming and going must not deepen without end. Further
    // requests wait their turn.
    static constexpr int kMaxRunningRequests = kMaxConnections;
    // Request lines read and waiting per connection; reading from a client
    // pauses while its queue is full, and the kernel holds the rest.
    static constexpr std::size_t kMaxQueuedRequests = 64;

    explicit LinkServer(Handler handler, QObject* parent = nullptr);
    ~LinkServer() override;

    // Listens on <runtimeFolder>/Server. Only while this instance holds the
    // instance lock: a socket found there is then a crashed instance's, and
    // is removed first. False with errorString() when it cannot listen.
    bool listen(const QString& runtimeFolder);
    void close();
    bool isListening() const;
    QString socketPath() const { return path_; }
    QString errorString() const { return error_; }
    // Requests read from the clients and not yet begun, of all connections.
    std::size_t queuedRequests() const;

private:
    friend class LinkConnection;

    void acceptConnections();
    // What the connections tell their server.
    bool mayStartRequest() const { return running_ < kMaxRunningRequests; }
    void requestStarted() { ++running_; }
    void requestDone();
    void stoppedServing(LinkConnection& connection);

    std::shared_ptr<const Handler> handler_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QString path_;
    QString error_;
    // The connections serving their clients, oldest first, each taking a
    // client's place. One that stops serving (its client has gone, or all
    // is done) leaves for the object tree as this server's child: its
    // request may still be inside the handler, with a box open for minutes,
    // and one of its own calls on the stack. It deletes itself through the
    // event loop once no request of it runs, or goes with the server.
    std::vector<std::unique_ptr<LinkConnection>> serving_;
    // Requests inside the handler now, of connections serving or not.
    int running_ = 0;
};

}  // namespace dervix
