// The in-memory line to the simulated module: it must behave as a serial
// port does for the logic, announcing replies from the event loop only.
#include <QtTest>

#include "simulator/qt/SimulatedLine.h"

using dervix::sim::SimulatedLine;
namespace CommEvent = dervix::CommEvent;

class TstSimulatedLine : public QObject {
    Q_OBJECT

private slots:
    void exchanges_data() {
        QTest::addColumn<QByteArray>("frames");
        QTest::addColumn<QByteArray>("replies");
        QTest::newRow("model") << QByteArray("G1T\r\n") << QByteArray("G1DVX-23\r\n");
        QTest::newRow("two frames, in order") << QByteArray("G1S\r\nG1C\r\n") << QByteArray("G1READY\r\nG1C\r\n");
        QTest::newRow("another address: silence") << QByteArray("G2S\r\n") << QByteArray();
    }

    void exchanges() {
        QFETCH(QByteArray, frames);
        QFETCH(QByteArray, replies);
        SimulatedLine line(1);
        QVERIFY(!line.setDevice("COM1"));
        QVERIFY(!line.open());
        std::string received;
        bool insideWrite = false, announcedInsideWrite = false;
        line.setNotificationHandler([&](int code) {
            QCOMPARE(code, CommEvent::Receive);
            announcedInsideWrite |= insideWrite;
            received += line.readAll();
        });
        insideWrite = true;
        QVERIFY(!line.write(frames.toStdString()));
        insideWrite = false;
        QTest::qWait(50);
        QCOMPARE(QByteArray::fromStdString(received), replies);
        QVERIFY(!announcedInsideWrite);
        QCOMPARE(line.module().framesAnswered(), std::uint64_t(replies.count('\n')));
    }

    void closedLineRefuses() {
        SimulatedLine line(1);
        auto e = line.write("G1S\r\n");
        QVERIFY(e.has_value());
        QCOMPARE(e->number, 8018);
        QVERIFY(!line.open());
        e = line.open();
        QVERIFY(e.has_value());
        QCOMPARE(e->number, 8005);
        // A reply on its way when the port closes never arrives.
        QVERIFY(!line.write("G1S\r\n"));
        line.close();
        QVERIFY(!line.open());
        QTest::qWait(30);
        QVERIFY(line.readAll().empty());
    }
};

QTEST_GUILESS_MAIN(TstSimulatedLine)
#include "tst_simulated_line.moc"
