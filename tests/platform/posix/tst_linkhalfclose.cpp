// Link clients that send their requests and then shut down their sending
// side (socat, nc -N, a script calling shutdown): every answer still comes,
// in order, and then the program closes the connection.
#include <QtTest>

#include <string>
#include <vector>

#include "platform/posix/LinkTestClient.h"

namespace {

using linktest::ConnectTo;
using linktest::Serving;
using linktest::kWait;

// Everything the program sends until it closes the connection, serving the
// program meanwhile.
QByteArray ReadToEnd(int fd) {
    QByteArray all;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kWait) {
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            all.append(buffer, qsizetype(n));
        } else if (n == 0) {
            return all;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            QTest::qWait(1);
        } else {
            return all + "<" + std::strerror(errno) + ">";
        }
    }
    return all + "<never closed>";
}

}  // namespace

class TestLinkHalfClose : public QObject {
    Q_OBJECT
private slots:
    void answersAfterHalfClose_data();
    void answersAfterHalfClose();
};

void TestLinkHalfClose::answersAfterHalfClose_data() {
    QTest::addColumn<QByteArray>("requests");
    QTest::addColumn<QByteArray>("answers");
    QTest::newRow("one line") << QByteArray("REQUEST Label3\n") << QByteArray("OK Flow Rate\n");
    QTest::newRow("two lines") << QByteArray("REQUEST Label3\nREQUEST Label5\n")
                               << QByteArray("OK Flow Rate\nOK mL/min\n");
    QTest::newRow("a POKE") << QByteArray("POKE txtFlowRate 12.5\nREQUEST txtFlowRate\n")
                            << QByteArray("OK\nOK 12.5\n");
}

void TestLinkHalfClose::answersAfterHalfClose() {
    QFETCH(QByteArray, requests);
    QFETCH(QByteArray, answers);
    QTemporaryDir dir;
    dervix::test::Rig rig;
    dervix::LinkProtocol protocol(*rig.w);
    std::vector<std::string> handled;  // the field's changes, in order
    rig.w->txtFlowRate.setHandler([&] { handled.push_back(rig.w->txtFlowRate.text()); });
    dervix::LinkServer server(Serving(protocol));
    QVERIFY2(server.listen(dir.path()), qPrintable(server.errorString()));

    const int fd = ConnectTo(server.socketPath());
    QVERIFY(fd >= 0);
    auto closeFd = qScopeGuard([fd] { ::close(fd); });
    QCOMPARE(::send(fd, requests.constData(), std::size_t(requests.size()), MSG_NOSIGNAL), ssize_t(requests.size()));
    QCOMPARE(::shutdown(fd, SHUT_WR), 0);

    QCOMPARE(ReadToEnd(fd), answers);
    QCOMPARE(handled.size(), std::size_t(requests.startsWith("POKE") ? 1 : 0));
}

QTEST_GUILESS_MAIN(TestLinkHalfClose)
#include "tst_linkhalfclose.moc"
