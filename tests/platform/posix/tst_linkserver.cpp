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

#include "platform/qt/posix/LinkServer.h"
#include "shell/LinkProtocol.h"
#include "support/Rig.h"
#include "platform/posix/LinkTestClient.h"

using dervix::LinkServer;

using namespace linktest;

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
    void sentThenClosedIsDropped();
    void oneReadQueuesOnlyTheLimit();
    void watchersTakeTheLatestAtTheirPace();

private:
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestLinkServer::init() { dir_ = std::make_unique<QTemporaryDir>(); }

void TestLinkServer::requestAndPokeThroughProtocol() {
    dervix::test::Rig rig;
    dervix::LinkProtocol protocol(*rig.w);
    std::vector<std::string> flowRates;
    rig.w->txtFlowRate.setHandler([&] { flowRates.push_back(rig.w->txtFlowRate.text()); });
    LinkServer server(Serving(protocol));
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
    LinkServer server(Serving(protocol));
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
    b.send("after\n");
    QCOMPARE(b.answer(), QByteArray("OK echo after at depth 0"));
    // The line the client sent before leaving had nobody left to answer.
    QCOMPARE(r.lines, (std::vector<std::string>{"hold", "release", "after"}));
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

// A client that sends and closes at once is gone before its request is
// begun: it is dropped, and the next client is served.
void TestLinkServer::sentThenClosedIsDropped() {
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
    Client next(server.socketPath());
    next.send("next\n");
    QCOMPARE(next.answer(), QByteArray("OK echo next at depth 0"));
    QCOMPARE(r.lines, std::vector<std::string>{"next"});
}

// Many short lines in one read: they wait as bytes, never more than the
// queue's limit as requests, and all are answered in order.
void TestLinkServer::oneReadQueuesOnlyTheLimit() {
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    Client c(server.socketPath());
    QByteArray lines;
    for (int i = 0; i < 3000; ++i) lines += QByteArray::number(i) + "\n";
    std::size_t queued = 0;
    r.whileHeld = [&] {
        c.send(lines);
        QTRY_VERIFY_WITH_TIMEOUT(server.queuedRequests() > 0, kWait);
        queued = server.queuedRequests();
        r.release = true;
    };
    c.send("hold\n");
    QCOMPARE(c.answer(), QByteArray("OK held"));
    QCOMPARE(queued, LinkServer::kMaxQueuedRequests);
    for (int i = 0; i < 3000; ++i) QCOMPARE(c.answer(), "OK echo " + QByteArray::number(i) + " at depth 0");
}

// Two clients watch a field that changes 2000 times (8 MB of texts) while
// neither reads: their sockets fill, and then only the latest text waits for
// each. One reads all it has while the other reads nothing, then the other:
// each gets whole lines, the changes in order and the latest last; an answer
// asked for meanwhile comes after the changes made before it.
void TestLinkServer::watchersTakeTheLatestAtTheirPace() {
    dervix::test::Rig rig;
    dervix::LinkProtocol protocol(*rig.w);
    rig.w->txtFlowRate.setHandler([] {});
    LinkServer server(Serving(protocol));
    QVERIFY(server.listen(dir_->path()));
    // What arrives until it ends with end, the server served meanwhile.
    const auto readUntil = [](int fd, const QByteArray& end) {
        QByteArray got;
        QElapsedTimer timer;
        timer.start();
        while (!got.endsWith(end) && !got.endsWith("<end>") && timer.elapsed() < kWait) {
            QTest::qWait(1);
            got += Take(fd);
        }
        return got;
    };
    int fds[2];
    for (int& fd : fds) {
        fd = ConnectTo(server.socketPath());
        QVERIFY(fd >= 0 && ::send(fd, "WATCH txtFlowRate\n", 18, 0) == 18);
        QCOMPARE(readUntil(fd, "\n"), QByteArray("OK 0.00\n"));
    }
    auto closeFds = qScopeGuard([&] { for (int fd : fds) ::close(fd); });
    const std::string filler(4000, 'x');
    for (int i = 0; i < 2000; ++i) rig.w->txtFlowRate.setText(std::to_string(i) + filler);
    QVERIFY(::send(fds[0], "REQUEST Label3\n", 15, 0) == 15);
    const QByteArray latest = "CHANGED txtFlowRate 1999" + QByteArray::fromStdString(filler) + "\n";
    for (const QByteArray& got : {readUntil(fds[1], latest), readUntil(fds[0], latest + "OK Flow Rate\n")}) {
        QList<QByteArray> lines = got.split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        if (lines.last() == "OK Flow Rate") lines.removeLast();
        QVERIFY2(lines.size() < 1000, qPrintable(QString::number(lines.size())));
        int last = -1;
        for (const QByteArray& line : lines) {
            QVERIFY2(line.startsWith("CHANGED txtFlowRate ") && line.endsWith(filler.c_str()), line.left(40));
            const int n = line.mid(20, line.size() - 20 - int(filler.size())).toInt();
            QVERIFY(n > last);
            last = n;
        }
        QCOMPARE(last, 1999);
    }
}

QTEST_GUILESS_MAIN(TestLinkServer)
#include "tst_linkserver.moc"
