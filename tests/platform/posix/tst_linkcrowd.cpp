// The link socket under a crowd: the cap on clients served at once, and
// clients that ask ahead of reading their answers.
#include <QtTest>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QPointer>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/qt/posix/LinkServer.h"
#include "shell/LinkProtocol.h"
#include "support/Rig.h"
#include "platform/posix/LinkTestClient.h"

using dervix::LinkServer;

using namespace linktest;

class TestLinkCrowd : public QObject {
    Q_OBJECT
private slots:
    void init();
    void tooManyClients();
    void endedClientsLeaveRoomAtOnce_data();
    void endedClientsLeaveRoomAtOnce();
    void boxesOfGoneClientsStayBounded();
    void clientReadingLateIsAnsweredAtItsPace();
    void clientThatNeverReadsHoldsOnlyItsPlace();

private:
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestLinkCrowd::init() { dir_ = std::make_unique<QTemporaryDir>(); }

void TestLinkCrowd::tooManyClients() {
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
// and finds the newcomer first; or its own request has the box open, and
// what it sent after that request is dropped.
void TestLinkCrowd::endedClientsLeaveRoomAtOnce_data() {
    QTest::addColumn<bool>("seen");
    QTest::addColumn<bool>("ownBox");
    QTest::newRow("gone and seen, connection not yet deleted") << true << false;
    QTest::newRow("gone, not yet seen") << false << false;
    QTest::newRow("gone while its request has a box open") << false << true;
}

void TestLinkCrowd::endedClientsLeaveRoomAtOnce() {
    QFETCH(bool, seen);
    QFETCH(bool, ownBox);
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

    QByteArray answer;
    const auto leaveAndCome = [&] {
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
        QEventLoop box;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &box, [&] {
            answer += Take(newcomer);
            if (answer.endsWith('\n') || answer.endsWith("<end>")) box.quit();
        });
        poll.start(1);
        QTimer::singleShot(kWait, &box, &QEventLoop::quit);
        box.exec();
    };
    if (ownBox) {
        r.whileHeld = [&] {
            leaveAndCome();
            r.release = true;
        };
        QCOMPARE(::send(fds.back(), "hold\nqueued\n", 12, MSG_NOSIGNAL), ssize_t(12));
        QTRY_VERIFY_WITH_TIMEOUT(!answer.isEmpty() && r.depth == 0, kWait);
    } else {
        leaveAndCome();
    }
    QCOMPARE(answer, QByteArray("OK echo newcomer at depth ") + (ownBox ? "1\n" : "0\n"));
    QTest::qWait(20);
    QVERIFY(std::find(r.lines.begin(), r.lines.end(), "queued") == r.lines.end());
}

// Clients that go while their requests have boxes open leave their places,
// but the boxes stay on the stack until closed: no more requests than
// kMaxRunningRequests run at once, and a further one waits its turn.
void TestLinkCrowd::boxesOfGoneClientsStayBounded() {
    Recorder r;
    LinkServer server(r.handler());
    QVERIFY(server.listen(dir_->path()));
    std::vector<int> fds;
    auto closeFds = qScopeGuard([&fds] {
        for (int fd : fds) ::close(fd);
    });
    const auto holds = [&r] { return int(std::count(r.lines.begin(), r.lines.end(), "hold")); };
    int holdsMeanwhile = 0;
    QTimer releaser;
    QObject::connect(&releaser, &QTimer::timeout, [&r] { r.release = true; });
    const auto come = [&] {
        fds.push_back(ConnectTo(server.socketPath()));
        QCOMPARE(::send(fds.back(), "hold\n", 5, MSG_NOSIGNAL), ssize_t(5));
    };
    std::function<void()> goAndCome = [&] {  // inside the holds, once the newest one runs
        const bool newestRuns = holds() == int(fds.size());
        if (newestRuns) {
            ::close(std::exchange(fds.back(), -1));
            come();
        }
        if (!newestRuns || fds.size() <= std::size_t(LinkServer::kMaxRunningRequests)) {
            r.whileHeld = goAndCome;
            return;
        }
        r.whileHeld = [&releaser] { releaser.start(1); };  // the further hold, whenever it runs
        QTRY_VERIFY_WITH_TIMEOUT(server.queuedRequests() > 0 || holds() > LinkServer::kMaxRunningRequests, kWait);
        holdsMeanwhile = holds();
        releaser.start(1);
    };
    r.whileHeld = goAndCome;
    come();
    QTRY_COMPARE_WITH_TIMEOUT(holds(), LinkServer::kMaxRunningRequests + 1, kWait);
    QCOMPARE(holdsMeanwhile, LinkServer::kMaxRunningRequests);
    QCOMPARE(r.deepest, LinkServer::kMaxRunningRequests);
    QByteArray answer;  // the last client is still there
    QTRY_VERIFY_WITH_TIMEOUT((answer += Take(fds.back())).endsWith('\n'), kWait);
    QCOMPARE(answer, QByteArray("OK held\n"));
}

// A client that asks far ahead and does not read its answers: the server
// stops reading and answering it once its unread answers pass a limit, so
// they cannot pile up, and goes on as the client reads. Nothing is lost or
// reordered, and other clients are served all along.
void TestLinkCrowd::clientReadingLateIsAnsweredAtItsPace() {
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
// not cut off. When it goes, the requests it sent and were not begun go
// with it.
void TestLinkCrowd::clientThatNeverReadsHoldsOnlyItsPlace() {
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

    const std::size_t handled = r.lines.size();
    QVERIFY(server.queuedRequests() > 0);
    ::close(fd);
    closeFd.dismiss();
    QTRY_COMPARE_WITH_TIMEOUT(server.queuedRequests(), std::size_t(0), kWait);
    QTest::qWait(20);
    QCOMPARE(r.lines.size(), handled);
}

QTEST_GUILESS_MAIN(TestLinkCrowd)
#include "tst_linkcrowd.moc"
