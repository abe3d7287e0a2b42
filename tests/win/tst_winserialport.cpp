// The Windows serial adapters against the simulated module on a real COM
// port: run through scripts/wine-serial-rig.sh, which maps the port (in
// DERVIX_TEST_COM) to the simulator's terminal and hands over its input.
#include <QtTest>

#include "platform/qt/win/WinSerialDevices.h"
#include "platform/qt/win/WinSerialPort.h"

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

// Opens a port on the device the way the program configures it.
std::optional<SerialError> OpenLikeTheProgram(WinSerialPort& port, const QString& device,
                                              LineSettings line = LineSettings{}) {
    if (auto e = port.setDevice(device.toStdString())) return e;
    if (auto e = port.setLineSettings(line)) return e;
    if (auto e = port.setNoHandshaking()) return e;
    if (auto e = port.setDtr(true)) return e;
    if (auto e = port.setBufferSizes(128, 128)) return e;
    return port.open();
}

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

    void failures_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("description");
        QTest::newRow("absent port") << "absent" << 8002 << "Invalid port number";
        QTest::newRow("no device set") << "unset" << 8002 << "Invalid port number";
        QTest::newRow("open twice") << "twice" << 8005 << "Port already open";
        QTest::newRow("device changed while open") << "rename" << 8005 << "Port already open";
        QTest::newRow("four data bits") << "bits" << 380 << "Invalid property value";
        QTest::newRow("unknown parity") << "parity" << 380 << "Invalid property value";
        QTest::newRow("write while closed") << "write" << 8018 << "Operation valid only when the port is open";
        QTest::newRow("discard while closed") << "discard" << 8018 << "Operation valid only when the port is open";
    }
    void failures() {
        QFETCH(QString, what);
        QFETCH(int, number);
        QFETCH(QString, description);
        WinSerialPort port;
        std::optional<SerialError> e;
        if (what == "absent") {
            e = OpenLikeTheProgram(port, "COM9");
        } else if (what == "unset") {
            e = port.open();
        } else if (what == "twice") {
            QVERIFY(!OpenLikeTheProgram(port, Com()));
            e = port.open();
        } else if (what == "rename") {
            QVERIFY(!OpenLikeTheProgram(port, Com()));
            e = port.setDevice("COM9");
        } else if (what == "bits") {
            e = OpenLikeTheProgram(port, Com(), LineSettings{19200, 'N', 4, 1});
        } else if (what == "parity") {
            e = OpenLikeTheProgram(port, Com(), LineSettings{19200, 'X', 8, 1});
        } else if (what == "write") {
            e = port.write("G1S\r\n");
        } else if (what == "discard") {
            e = port.discardBuffers();
        }
        QVERIFY(e.has_value());
        QCOMPARE(e->number, number);
        QCOMPARE(QString::fromStdString(e->description), description);
        QCOMPARE(port.isOpen(), what == "twice" || what == "rename");
    }

    void frameOutReplyIn() {
        WinSerialPort port;
        QVERIFY(!OpenLikeTheProgram(port, Com()));
        Collector in;
        in.attach(port);
        QVERIFY(!port.discardBuffers());
        QVERIFY(!port.write("G1T\r\n"));
        QTRY_COMPARE(in.received, std::string("G1DVX-23\r\n"));
        QVERIFY(!in.codes.isEmpty());
        for (int code : in.codes) QCOMPARE(code, Receive);
        QCOMPARE(in.empty, 0);
    }

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

    // A modal box inside the receive handler runs a nested event loop: the
    // next reply is announced there, not after the box closes.
    void replyArrivingWhileTheHandlerWaits() {
        WinSerialPort port;
        QVERIFY(!OpenLikeTheProgram(port, Com()));
        std::string received;
        int depth = 0, maxDepth = 0;
        port.setNotificationHandler([&](int) {
            maxDepth = std::max(maxDepth, ++depth);
            received += port.readAll();
            if (received == "G1READY\r\n") {
                QVERIFY(!port.write("G1T\r\n"));
                QDeadlineTimer answered(5000);
                while (received.find("DVX") == std::string::npos && !answered.hasExpired())
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            }
            --depth;
        });
        QVERIFY(!port.write("G1S\r\n"));
        QTRY_COMPARE(received, std::string("G1READY\r\nG1DVX-23\r\n"));
        QCOMPARE(maxDepth, 2);
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
