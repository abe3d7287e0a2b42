// The Windows serial adapters against the simulated module on a real COM
// port: run through scripts/wine-serial-rig.sh, which maps the port (in
// DERVIX_TEST_COM) to the simulator's terminal and hands over its input.
#include <QtTest>

#include "platform/qt/win/WinSerialDevices.h"
#include "platform/qt/win/WinSerialPort.h"
#include "support/SerialContract.h"

using dervix::LineSettings;
using dervix::SerialError;
using dervix::WinSerialPort;
using dervix::CommEvent::Dcb;
using dervix::CommEvent::Receive;

namespace {

QString Com() { return qEnvironmentVariable("DERVIX_TEST_COM"); }

// One command to the simulator, as its operator would type it.
bool TellSimulator(const QByteArray& command) {
    QFile input(qEnvironmentVariable("DERVIX_TEST_SIM_INPUT"));
    return input.open(QIODevice::WriteOnly | QIODevice::Append) && input.write(command + '\n') == command.size() + 1;
}

std::optional<SerialError> OpenLikeTheProgram(WinSerialPort& port, const QString& device,
                                              LineSettings line = LineSettings{}) {
    return dervix::test::OpenLikeTheProgram(port, device.toStdString(), line);
}

// The simulated module behind the rig's COM port, for the contract every
// system's adapter keeps.
struct WinRig : dervix::test::SerialRig {
    std::unique_ptr<dervix::SerialPort> makePort() override { return std::make_unique<WinSerialPort>(); }
    std::string device() override { return Com().toStdString(); }
    std::string absent() override { return "COM9"; }
};

// Every arrival in order; a notification without bytes counts as a fault.
struct Collector {
    std::string received;
    QList<int> codes;
    int empty = 0;
    void attach(WinSerialPort& port) {
        port.setNotificationHandler([this, &port](int code) {
            codes << code;
            const std::string bytes = port.readAll();
            if (code == Receive && bytes.empty()) ++empty;
            received += bytes;
        });
    }
};

}  // namespace

class TstWinSerialPort : public QObject {
    Q_OBJECT

    WinRig rig_;

private slots:
    void initTestCase() {
        if (Com().isEmpty()) QSKIP("needs the simulator behind a COM port: run through scripts/wine-serial-rig.sh");
    }

    void opens_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("as listed") << Com();
        QTest::newRow("lower case") << Com().toLower();
        QTest::newRow("device namespace") << "\\\\.\\" + Com();
    }
    void opens() {
        QFETCH(QString, name);
        WinSerialPort port;
        auto e = OpenLikeTheProgram(port, name);
        QVERIFY2(!e, e ? e->description.c_str() : "");
        QVERIFY(port.isOpen());
        port.close();
        QVERIFY(!port.isOpen());
        QVERIFY(!port.open());  // the recorded settings are applied again
    }

    void failures_data() { dervix::test::contract::FailureRows(); }
    void failures() {
        QFETCH(QString, what);
        QFETCH(int, number);
        QFETCH(QString, description);
        dervix::test::contract::Failure(rig_, what, number, description);
    }

    void frameOutReplyIn() { dervix::test::contract::FrameOutReplyIn(rig_); }

    // The line is cleared before each frame: a reply that came in but was
    // not yet read must go too, wherever it waits.
    void discardDropsWhatWasNotRead() {
        WinSerialPort port;
        QVERIFY(!OpenLikeTheProgram(port, Com()));
        Collector in;
        in.attach(port);
        QVERIFY(!port.write("G1S\r\n"));
        QThread::msleep(300);  // the reply arrives meanwhile, unannounced
        QVERIFY(!port.discardBuffers());
        QTest::qWait(300);
        QCOMPARE(in.codes, QList<int>{});
        QVERIFY(!port.write("G1T\r\n"));
        QTRY_COMPARE(in.received, std::string("G1DVX-23\r\n"));
    }

    void replyArrivingWhileTheHandlerWaits() { dervix::test::contract::ReplyWhileTheHandlerWaits(rig_); }

    void readingGoesOnAfterDiscards_data() { dervix::test::contract::DiscardRows(); }
    void readingGoesOnAfterDiscards() {
        QFETCH(int, requests);
        QFETCH(int, eventsEvery);
        dervix::test::contract::ReadingGoesOnAfterDiscards(rig_, requests, eventsEvery);
    }

    void devicesListTheMappedPort_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("resolved");
        QTest::newRow("as listed") << Com() << Com();
        QTest::newRow("lower case") << Com().toLower() << Com();
        QTest::newRow("device namespace") << "\\\\.\\" + Com() << Com();
        QTest::newRow("not listed") << "COM77" << "";
        QTest::newRow("empty") << "" << "";
    }
    void devicesListTheMappedPort() {
        QFETCH(QString, path);
        QFETCH(QString, resolved);
        dervix::WinSerialDevices devices;
        QCOMPARE(QString::fromStdString(devices.resolve(path.toStdString())), resolved);
        QStringList listed;
        for (const dervix::SerialDeviceInfo& device : devices.present()) {
            listed << QString::fromStdString(device.path);
            QVERIFY(!device.description.empty());
        }
        QVERIFY2(listed.contains(Com()), qPrintable(listed.join(' ')));
    }

    void watchRunsFromTheEventLoopUntilReleased() {
        dervix::WinSerialDevices devices;
        int calls = 0;
        auto watch = devices.watch(Com().toStdString(), [&] { ++calls; });
        QCOMPARE(calls, 0);
        QTRY_VERIFY_WITH_TIMEOUT(calls > 0, 5000);
        watch.reset();
        const int seen = calls;
        QTest::qWait(2 * dervix::WinSerialDevices::kCheckMs);
        QCOMPARE(calls, seen);
    }

    // Last: the simulator's terminal is gone afterwards. A pulled adapter
    // gives one line error and a closed port, no flood.
    void deviceDisappears() {
        WinSerialPort port;
        QVERIFY(!OpenLikeTheProgram(port, Com()));
        Collector in;
        in.attach(port);
        QVERIFY(TellSimulator("hangup"));
        QTRY_VERIFY(in.codes.contains(Dcb));
        QTest::qWait(200);
        QCOMPARE(in.codes, QList<int>{Dcb});
        QVERIFY(!port.isOpen());
        auto e = port.write("G1S\r\n");
        QVERIFY(e.has_value());
        QCOMPARE(e->number, 8018);
    }
};

QTEST_GUILESS_MAIN(TstWinSerialPort)
#include "tst_winserialport.moc"
