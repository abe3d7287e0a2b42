#include "support/SerialContract.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QtTest>

#include <algorithm>

namespace dervix::test {

std::optional<SerialError> OpenLikeTheProgram(SerialPort& port, const std::string& device, LineSettings line) {
    if (auto e = port.setDevice(device)) return e;
    if (auto e = port.setLineSettings(line)) return e;
    if (auto e = port.setNoHandshaking()) return e;
    if (auto e = port.setDtr(true)) return e;
    if (auto e = port.setBufferSizes(128, 128)) return e;
    return port.open();
}

namespace contract {

void FailureRows() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("description");
    QTest::newRow("absent device") << "absent" << 8002 << "Invalid port number";
    QTest::newRow("no device set") << "unset" << 8002 << "Invalid port number";
    QTest::newRow("open twice") << "twice" << 8005 << "Port already open";
    QTest::newRow("device changed while open") << "rename" << 8005 << "Port already open";
    QTest::newRow("four data bits") << "bits" << 380 << "Invalid property value";
    QTest::newRow("unknown parity") << "parity" << 380 << "Invalid property value";
    QTest::newRow("write while closed") << "write" << 8018 << "Operation valid only when the port is open";
    QTest::newRow("discard while closed") << "discard" << 8018 << "Operation valid only when the port is open";
}

void Failure(SerialRig& rig, const QString& what, int number, const QString& description) {
    const std::unique_ptr<SerialPort> port = rig.makePort();
    std::optional<SerialError> e;
    if (what == "absent") {
        e = OpenLikeTheProgram(*port, rig.absent());
    } else if (what == "unset") {
        e = port->open();
    } else if (what == "twice") {
        QVERIFY(!OpenLikeTheProgram(*port, rig.device()));
        e = port->open();
    } else if (what == "rename") {
        QVERIFY(!OpenLikeTheProgram(*port, rig.device()));
        e = port->setDevice(rig.absent());
    } else if (what == "bits") {
        e = OpenLikeTheProgram(*port, rig.device(), LineSettings{19200, 'N', 4, 1});
    } else if (what == "parity") {
        e = OpenLikeTheProgram(*port, rig.device(), LineSettings{19200, 'X', 8, 1});
    } else if (what == "write") {
        e = port->write("G1S\r\n");
    } else if (what == "discard") {
        e = port->discardBuffers();
    }
    QVERIFY(e.has_value());
    QCOMPARE(e->number, number);
    QCOMPARE(QString::fromStdString(e->description), description);
    QCOMPARE(port->isOpen(), what == "twice" || what == "rename");
}

void FrameOutReplyIn(SerialRig& rig) {
    const std::unique_ptr<SerialPort> port = rig.makePort();
    QVERIFY(!OpenLikeTheProgram(*port, rig.device()));
    std::string received;
    QList<int> codes;
    int empty = 0;
    port->setNotificationHandler([&](int code) {
        codes << code;
        const std::string bytes = port->readAll();
        if (bytes.empty()) ++empty;
        received += bytes;
    });
    QVERIFY(!port->discardBuffers());
    QVERIFY(!port->write("G1T\r\n"));
    QTRY_COMPARE(received, std::string("G1DVX-23\r\n"));
    QVERIFY(!codes.isEmpty());
    for (int code : codes) QCOMPARE(code, CommEvent::Receive);
    QCOMPARE(empty, 0);
}

void ReplyWhileTheHandlerWaits(SerialRig& rig) {
    const std::unique_ptr<SerialPort> port = rig.makePort();
    QVERIFY(!OpenLikeTheProgram(*port, rig.device()));
    std::string received;
    int depth = 0, maxDepth = 0;
    port->setNotificationHandler([&](int) {
        maxDepth = std::max(maxDepth, ++depth);
        received += port->readAll();
        if (received == "G1READY\r\n") {
            QVERIFY(!port->write("G1T\r\n"));
            // As a modal box does: serve events until the operator answers.
            QDeadlineTimer answered(5000);
            while (received.find("DVX") == std::string::npos && !answered.hasExpired())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        --depth;
    });
    QVERIFY(!port->write("G1S\r\n"));
    QTRY_COMPARE(received, std::string("G1READY\r\nG1DVX-23\r\n"));
    QCOMPARE(maxDepth, 2);
}

void DiscardRows() {
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("eventsEvery");
    QTest::newRow("back to back") << 1000 << 1;
    QTest::newRow("a reply half in between") << 500 << 2;
    QTest::newRow("bursts of five") << 1000 << 5;
}

void ReadingGoesOnAfterDiscards(SerialRig& rig, int requests, int eventsEvery) {
    const std::unique_ptr<SerialPort> port = rig.makePort();
    QVERIFY(!OpenLikeTheProgram(*port, rig.device()));
    std::string received;
    port->setNotificationHandler([&](int) { received += port->readAll(); });
    for (int i = 0; i < requests; ++i) {
        QVERIFY(!port->discardBuffers());
        QVERIFY(!port->write("G1S\r\n"));
        if (i % eventsEvery == 0) QCoreApplication::processEvents();
    }
    for (int i = 0; i < 5; ++i) {
        QVERIFY(!port->discardBuffers());
        received.clear();
        QVERIFY(!port->write("G1S\r\n"));
        QTRY_VERIFY2(received.find("G1READY\r\n") != std::string::npos, received.c_str());
    }
    QVERIFY(port->isOpen());
}

}  // namespace contract
}  // namespace dervix::test
