// The link socket with real clients: requests, rude clients, several
// clients, and requests served while another one's handler has a nested
// event loop open.
#include <QtTest>

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

#include "platform/qt/LinkServer.h"
#include "shell/LinkProtocol.h"
#include "support/Rig.h"

using dervix::LinkServer;

namespace {

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

// A test handler: echoes, records, and can hold a request open in a nested
// event loop until released by another request.
struct Recorder {
    std::vector<std::string> lines;
    int depth = 0;
    int deepest = 0;
    bool release = false;
    std::function<void()> whileHeld;

    LinkServer::Handler handler() {
        return [this](const std::string& line) -> std::string {
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
int ConnectTo(const QString& path) {
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
QByteArray Take(int fd) {
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

mode_t SocketMode(const QString& path, bool* isSocket) {
    struct stat st {};
    if (::stat(path.toLocal8Bit().constData(), &st) != 0) return 0;
    *isSocket = S_ISSOCK(st.st_mode);
    return st.st_mode & 07777;
}

}  // namespace

class TestLinkServer : public QObject {
    Q_OBJECT
private slots:
    void init();
    void requestAndPokeThroughProtocol();
    void socketIsPrivate();
    void staleSocketReplaced();
    void pathTooLong();
    void linesInOrderAndSplitWrites();
    void silentClientHarmsNoOne();
    void garbageAnsweredAndConnectionGoesOn();
    void disconnectMidLineIsNoRequest();
    void overlongLineAnsweredAndSkipped_data();
    void overlongLineAnsweredAndSkipped();
    void twoClients();
    void nestedLoopServesOthers();
    void clientLeavesDuringNestedLoop();
    void serverDeletedInsideHandler();
    void sentThenClosedStillHandled();
    void tooManyClients();
    void endedClientsLeaveRoomAtOnce_data();
    void endedClientsLeaveRoomAtOnce();
    void clientReadingLateIsAnsweredAtItsPace();
    void clientThatNeverReadsHoldsOnlyItsPlace();

private:
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestLinkServer::init() { dir_ = std::make_unique<QTemporaryDir>(); }

void TestLinkServer::requestAndPokeThroughProtocol() {
    dervix::test::Rig rig;
    dervix::LinkProtocol protocol(*rig.w);
    std::vector<std::string> flowRates;
    rig.w->txtFlowRate.setHandler([&] { flowRates.push_back(rig.w->txtFlowRate.text()); });
    LinkServer server([&](const std::string& line) { return protocol.handle(line); });
    QVERIFY2(server.listen(dir_->path()), qPrintable(server.errorString()));

    Client c(server.socketPath());
    QVERIFY(c.connected());
    c.send("REQUEST Label3\n");
    QCOMPARE(c.answer(), QByteArray("OK Flow Rate"));
    c.send("POKE txtFlowRate 12.5\n");
    QCOMPARE(c.answer(), QByteArray("OK"));
    QCOMPARE(flowRates, std::vector<std::string>{"12.5"});
    c.send("POKE txtFlowRate caf\xc3\xa9\\r\\n\nREQUEST txtFlowRate\nPOKE Label3 x\n");
    QCOMPARE(c.answer(), QByteArray("OK"));
    QCOMPARE(c.answer(), QByteArray("OK caf\xc3\xa9\\r\\n"));
    QCOMPARE(c.answer(), QByteArray("ERR Label3 cannot be set"));
    QCOMPARE(rig.w->txtFlowRate.text(), std::string("caf\xe9\r\n"));
}

void TestLinkServer::socketIsPrivate() {
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    QCOMPARE(server.socketPath(), dir_->path() + "/Server");
    bool isSocket = false;
    QCOMPARE(SocketMode(server.socketPath(), &isSocket), mode_t(0600));
    QVERIFY(isSocket);
    server.close();
    QVERIFY(!QFileInfo::exists(dir_->path() + "/Server"));
}

void TestLinkServer::staleSocketReplaced() {
    // What a crashed instance leaves: a bound socket file nobody listens on.
    const QByteArray path = (dir_->path() + "/Server").toLocal8Bit();
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    ::close(fd);
    QVERIFY(QFileInfo::exists(dir_->path() + "/Server"));

    Recorder r;
    LinkServer server(r.handler());
    QVERIFY2(server.listen(dir_->path()), qPrintable(server.errorString()));
    Client c(server.socketPath());
    c.send("x\n");
    QCOMPARE(c.answer(), QByteArray("OK echo x at depth 0"));
}

void TestLinkServer::pathTooLong() {
    // 106 bytes is the longest socket path Qt takes; "/Server" is 7 of them.
    const QString base = dir_->path() + "/";
    const QString fits = base + QString(99 - base.size(), 'f');
    const QString tooLong = base + QString(100 - base.size(), 'l');
    QVERIFY(QDir().mkdir(fits));
    QVERIFY(QDir().mkdir(tooLong));
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY2(server.listen(fits), qPrintable(server.errorString()));
    QCOMPARE(QFile::encodeName(server.socketPath()).size(), 106);
    Client c(server.socketPath());
    c.send("x\n");
    QCOMPARE(c.answer(), QByteArray("OK echo x at depth 0"));
    LinkServer other(r.handler());
    QVERIFY(!other.listen(tooLong));
    QVERIFY(!other.isListening());
    QVERIFY2(other.errorString().contains("107 bytes") && other.errorString().contains("106"),
             qPrintable(other.errorString()));
}

void TestLinkServer::linesInOrderAndSplitWrites() {
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    Client c(server.socketPath());
    c.send("a\nb\nc");
    QCOMPARE(c.answer(), QByteArray("OK echo a at depth 0"));
    QCOMPARE(c.answer(), QByteArray("OK echo b at depth 0"));
    QVERIFY(!c.answeredWithin(50));  // "c" is not a line yet
    c.send("d\n");
    QCOMPARE(c.answer(), QByteArray("OK echo cd at depth 0"));
    c.send("\n");
    QCOMPARE(c.answer(), QByteArray("OK echo  at depth 0"));  // an empty line is still a request
}

void TestLinkServer::silentClientHarmsNoOne() {
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    auto silent = std::make_unique<Client>(server.socketPath());
    QVERIFY(silent->connected());
    Client talker(server.socketPath());
    talker.send("hello\n");
    QCOMPARE(talker.answer(), QByteArray("OK echo hello at depth 0"));
    silent.reset();
    QTest::qWait(20);
    talker.send("again\n");
    QCOMPARE(talker.answer(), QByteArray("OK echo again at depth 0"));
    QCOMPARE(r.lines.size(), std::size_t(2));
}

void TestLinkServer::garbageAnsweredAndConnectionGoesOn() {
    dervix::test::Rig rig;
    dervix::LinkProtocol protocol(*rig.w);
    LinkServer server([&](const std::string& line) { return protocol.handle(line); });
    QVERIFY(server.listen(dir_->path()));
    Client c(server.socketPath());
    QByteArray garbage;
    for (int i = 0; i < 256; ++i)
        if (i != '\n') garbage.append(char(i));
    c.send(garbage + "\n\xff\xfe\n");
    QCOMPARE(c.answer(), QByteArray("ERR invalid UTF-8"));
    QCOMPARE(c.answer(), QByteArray("ERR invalid UTF-8"));
    c.send("REQUEST Label5\n");
    QCOMPARE(c.answer(), QByteArray("OK mL/min"));
}

void TestLinkServer::disconnectMidLineIsNoRequest() {
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    {
        Client c(server.socketPath());
        c.send("POKE txtFlowRate 12");
        QTest::qWait(20);
        c.socket.disconnectFromServer();
        QTest::qWait(20);
    }
    QTest::qWait(20);
    QVERIFY(r.lines.empty());
    Client next(server.socketPath());
    next.send("ok\n");
    QCOMPARE(next.answer(), QByteArray("OK echo ok at depth 0"));
}

void TestLinkServer::overlongLineAnsweredAndSkipped_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("pieces");
    QTest::addColumn<bool>("refused");
    QTest::newRow("4096 bytes is fine") << 4096 << 1 << false;
    QTest::newRow("4097 bytes") << 4097 << 1 << true;
    QTest::newRow("a megabyte in one write") << (1 << 20) << 1 << true;
    QTest::newRow("a megabyte in many writes") << (1 << 20) << 64 << true;
    QTest::newRow("4096 bytes in many writes") << 4096 << 7 << false;
}

void TestLinkServer::overlongLineAnsweredAndSkipped() {
    QFETCH(int, length);
    QFETCH(int, pieces);
    QFETCH(bool, refused);
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    Client c(server.socketPath());
    const QByteArray line(length, 'x');
    const int piece = (length + pieces - 1) / pieces;
    for (int at = 0; at < length; at += piece) {
        c.send(line.mid(at, piece));
        QTest::qWait(1);
    }
    c.send("\nnext\n");
    const QByteArray first = c.answer();
    QCOMPARE(c.answer(), QByteArray("OK echo next at depth 0"));
    if (refused) {
        QCOMPARE(first, QByteArray("ERR line too long"));
        QCOMPARE(r.lines, std::vector<std::string>{"next"});  // the long line never reached the handler
    } else {
        QVERIFY(first.startsWith("OK echo xxx"));
        QCOMPARE(r.lines.size(), std::size_t(2));
        QCOMPARE(r.lines.front().size(), std::size_t(length));
    }
}

void TestLinkServer::twoClients() {
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    Client a(server.socketPath());
    Client b(server.socketPath());
    a.send("a1\n");
    b.send("b1\n");
    a.send("a2\n");
    QCOMPARE(b.answer(), QByteArray("OK echo b1 at depth 0"));
    QCOMPARE(a.answer(), QByteArray("OK echo a1 at depth 0"));
    QCOMPARE(a.answer(), QByteArray("OK echo a2 at depth 0"));
}

// A request that opens a modal box: the box's event loop runs inside the
// handler, so what happens meanwhile is scripted to run inside that loop.
// Other clients are served inside it; the same client's next line waits its
// turn; lines arriving meanwhile are not lost.
void TestLinkServer::nestedLoopServesOthers() {
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    Client a(server.socketPath());
    Client b(server.socketPath());
    QByteArray otherClient, released;
    bool answeredEarly = true;
    std::size_t handledMeanwhile = 0;
    r.whileHeld = [&] {
        b.send("while held\n");
        otherClient = b.answer();
        a.send("second after hold\n");  // arrives while its own request is open
        answeredEarly = a.answeredWithin(50);
        handledMeanwhile = r.lines.size();
        b.send("release\n");
        released = b.answer();
    };
    a.send("hold\nfirst after hold\n");
    QCOMPARE(a.answer(), QByteArray("OK held"));
    QCOMPARE(otherClient, QByteArray("OK echo while held at depth 1"));
    QVERIFY(!answeredEarly);
    QCOMPARE(handledMeanwhile, std::size_t(2));  // "hold" and "while held" only
    QCOMPARE(released, QByteArray("OK released"));
    QCOMPARE(a.answer(), QByteArray("OK echo first after hold at depth 0"));
    QCOMPARE(a.answer(), QByteArray("OK echo second after hold at depth 0"));
    QCOMPARE(r.deepest, 1);
}

void TestLinkServer::clientLeavesDuringNestedLoop() {
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    auto a = std::make_unique<Client>(server.socketPath());
    Client b(server.socketPath());
    QByteArray released;
    r.whileHeld = [&] {
        a->socket.abort();
        a.reset();
        QTest::qWait(30);  // the server sees the client go while the handler runs
        b.send("release\n");
        released = b.answer();
    };
    a->send("hold\nqueued\n");
    QTRY_VERIFY_WITH_TIMEOUT(!a, kWait);
    QCOMPARE(released, QByteArray("OK released"));
    QTRY_COMPARE_WITH_TIMEOUT(r.depth, 0, kWait);
    // The line the client sent before leaving is still handled.
    QTRY_COMPARE_WITH_TIMEOUT(r.lines.back(), std::string("queued"), kWait);
    b.send("after\n");
    QCOMPARE(b.answer(), QByteArray("OK echo after at depth 0"));
}

void TestLinkServer::serverDeletedInsideHandler() {
    Recorder r;
    QPointer<LinkServer> server = new LinkServer(r.handler());
    QVERIFY(server->listen(dir_->path()));
    auto a = std::make_unique<Client>(server->socketPath());
    r.whileHeld = [&] {
        delete server.data();  // the program tearing down while a box is open
        r.release = true;
    };
    a->send("hold\n");
    QTRY_VERIFY_WITH_TIMEOUT(server.isNull(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(r.depth, 0, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(a->socket.state() == QLocalSocket::UnconnectedState, kWait);
    QCOMPARE(a->socket.bytesAvailable(), qint64(0));  // no answer from a dead server
    QVERIFY(!QFileInfo::exists(dir_->path() + "/Server"));
}

void TestLinkServer::sentThenClosedStillHandled() {
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    {
        QLocalSocket s;
        s.connectToServer(server.socketPath());
        QVERIFY(s.waitForConnected(kWait));
        s.write("fire and forget\n");
        s.flush();
        s.disconnectFromServer();
    }
    QTRY_COMPARE_WITH_TIMEOUT(r.lines.size(), std::size_t(1), kWait);
    QCOMPARE(r.lines[0], std::string("fire and forget"));
}

void TestLinkServer::tooManyClients() {
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < LinkServer::kMaxConnections; ++i) {
        clients.push_back(std::make_unique<Client>(server.socketPath()));
        QTest::qWait(1);
    }
    Client extra(server.socketPath());
    QTRY_VERIFY_WITH_TIMEOUT(extra.socket.state() == QLocalSocket::UnconnectedState, kWait);
    clients.front()->send("still served\n");
    QCOMPARE(clients.front()->answer(), QByteArray("OK echo still served at depth 0"));
    clients.pop_back();  // one leaves: room for a new one
    QTest::qWait(20);
    Client late(server.socketPath());
    late.send("late\n");
    QCOMPARE(late.answer(), QByteArray("OK echo late at depth 0"));
}

// A client that goes leaves room for the next one at once. Its connection
// is deleted when the event loop it ended in comes round again, and a box
// opened before that (a nested event loop) puts the deletion off for as long
// as it is open; or the client has gone and the server has not looked yet,
// and finds the newcomer first.
void TestLinkServer::endedClientsLeaveRoomAtOnce_data() {
    QTest::addColumn<bool>("seen");
    QTest::newRow("gone and seen, connection not yet deleted") << true;
    QTest::newRow("gone, not yet seen") << false;
}

void TestLinkServer::endedClientsLeaveRoomAtOnce() {
    QFETCH(bool, seen);
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    std::vector<int> fds;
    auto closeFds = qScopeGuard([&fds] {
        for (int fd : fds) ::close(fd);
    });
    for (int i = 0; i < LinkServer::kMaxConnections; ++i) {
        fds.push_back(ConnectTo(server.socketPath()));
        QVERIFY(fds.back() >= 0);
        QCOMPARE(::send(fds.back(), "hello\n", 6, MSG_NOSIGNAL), ssize_t(6));
    }
    QByteArray greeted;
    for (int fd : fds) {  // every one has its place
        QByteArray answer;
        QTRY_VERIFY_WITH_TIMEOUT((answer += Take(fd)).endsWith('\n'), kWait);
        greeted += answer;
    }
    QCOMPARE(greeted.count("OK echo hello at depth 0\n"), LinkServer::kMaxConnections);

    ::close(fds.back());
    fds.pop_back();
    // One pass: the server sees the client go; the connection's deletion
    // waits for the next pass at this level.
    if (seen) QCoreApplication::processEvents();
    const int newcomer = ConnectTo(server.socketPath());
    QVERIFY(newcomer >= 0);
    fds.push_back(newcomer);
    QCOMPARE(::send(newcomer, "newcomer\n", 9, MSG_NOSIGNAL), ssize_t(9));

    // The box: its event loop serves the link, but does not delete what
    // ended before it opened.
    QByteArray answer;
    QEventLoop box;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &box, [&] {
        answer += Take(newcomer);
        if (answer.endsWith('\n') || answer.endsWith("<end>")) box.quit();
    });
    poll.start(1);
    QTimer::singleShot(kWait, &box, &QEventLoop::quit);
    box.exec();
    QCOMPARE(answer, QByteArray("OK echo newcomer at depth 0\n"));
}

// A client that asks far ahead and does not read its answers: the server
// stops reading and answering it once its unread answers pass a limit, so
// they cannot pile up, and goes on as the client reads. Nothing is lost or
// reordered, and other clients are served all along.
void TestLinkServer::clientReadingLateIsAnsweredAtItsPace() {
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    const int fd = ConnectTo(server.socketPath());
    QVERIFY(fd >= 0);
    auto closeFd = qScopeGuard([fd] { ::close(fd); });
    constexpr int kRequests = 2000;  // 8 MB of answers
    const QByteArray text(4000, 'x');
    QByteArray requests, expected;
    for (int i = 0; i < kRequests; ++i) {
        const QByteArray line = QByteArray::number(i) + " " + text;
        requests += line + "\n";
        expected += "OK echo " + line + " at depth 0\n";
    }
    qsizetype written = 0;
    auto write = [&] {
        while (written < requests.size()) {
            const ssize_t n = ::send(fd, requests.constData() + written, std::size_t(requests.size() - written),
                                     MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n <= 0) return;
            written += n;
        }
    };

    // Asking without reading, until neither the client nor the server moves.
    QElapsedTimer still;
    still.start();
    while (still.elapsed() < 300) {
        const qsizetype wrote = written;
        const std::size_t handled = r.lines.size();
        write();
        QTest::qWait(5);
        if (written != wrote || r.lines.size() != handled) still.restart();
    }
    const std::size_t handled = r.lines.size();
    // What the kernel holds of both directions and the server's limit: a
    // few hundred kilobytes, some tens of answers. Without the limit every
    // request would be answered into the server's memory.
    QVERIFY2(handled < std::size_t(kRequests / 4), qPrintable(QString::number(handled)));
    QVERIFY(written < requests.size());

    Client other(server.socketPath());
    other.send("other\n");
    QCOMPARE(other.answer(), QByteArray("OK echo other at depth 0"));

    // Reading now: the rest is asked and answered as the client takes it.
    QByteArray answers;
    QElapsedTimer timer;
    timer.start();
    while (answers.size() < expected.size() && !answers.endsWith("<end>") && timer.elapsed() < 6 * kWait) {
        write();
        const QByteArray taken = Take(fd);
        answers += taken;
        if (taken.isEmpty()) QTest::qWait(1);
    }
    QCOMPARE(written, requests.size());
    QCOMPARE(answers.size(), expected.size());
    QVERIFY(answers == expected);  // QCOMPARE would print megabytes
    QCOMPARE(r.lines.size(), std::size_t(kRequests + 1));
}

// With the server answering at the client's pace, a client that never
// reads costs its place and a bounded backlog, as a silent one does; it is
// not cut off. When it goes, the whole lines it sent are still handled.
void TestLinkServer::clientThatNeverReadsHoldsOnlyItsPlace() {
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    const int fd = ConnectTo(server.socketPath());
    QVERIFY(fd >= 0);
    auto closeFd = qScopeGuard([fd] { ::close(fd); });
    const QByteArray requests = QByteArray(4000, 'y').append('\n').repeated(2000);
    qsizetype written = 0;
    QElapsedTimer still;
    still.start();
    while (still.elapsed() < 300) {
        const std::size_t handled = r.lines.size();
        const ssize_t n = ::send(fd, requests.constData() + written, std::size_t(requests.size() - written),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) written += n;
        QTest::qWait(n > 0 ? 0 : 5);
        if (n > 0 || r.lines.size() != handled) still.restart();
    }
    const std::size_t lines = std::size_t(requests.left(written).count('\n'));
    QVERIFY2(r.lines.size() < lines, qPrintable(QString("%1 of %2").arg(r.lines.size()).arg(lines)));
    QVERIFY(written < requests.size());

    QTest::qWait(200);
    pollfd ended{fd, POLLRDHUP, 0};
    QCOMPARE(::poll(&ended, 1, 0), 0);  // the server has not closed the connection
    Client other(server.socketPath());
    other.send("other\n");
    QCOMPARE(other.answer(), QByteArray("OK echo other at depth 0"));

    ::close(fd);
    closeFd.dismiss();
    QTRY_COMPARE_WITH_TIMEOUT(r.lines.size(), lines + 1, kWait);
    QTest::qWait(20);
    QCOMPARE(r.lines.size(), lines + 1);  // a line cut off is no request
}

QTEST_GUILESS_MAIN(TestLinkServer)
#include "tst_linkserver.moc"
