// The Qt serial and timer adapters against the simulated module on a real
// pseudo-terminal.
#include <QTemporaryDir>
#include <QtTest>

#include "platform/qt/posix/QtSerialDevices.h"
#include "platform/qt/posix/QtSerialPort.h"
#include "platform/qt/QtTimer.h"
#include "simulator/qt/posix/InProcessSimulator.h"
#include "simulator/qt/posix/PtySimulator.h"

using dervix::CommEvent::Dcb;
using dervix::CommEvent::Receive;
using dervix::LineSettings;
using dervix::QtSerialPort;
using dervix::QtTimer;
using dervix::SerialError;
using dervix::sim::InProcessSimulator;
using dervix::sim::ModuleSimulator;
using dervix::sim::PtySimulator;

namespace {

// Frames the simulator saw, collected on the test's thread.
struct FrameLog : QObject {
    QStringList frames;
    void attach(PtySimulator* sim) {
        connect(sim, &PtySimulator::frameReceived, this,
                [this](const QByteArray& frame, qint64) { frames << QString::fromLatin1(frame); });
    }
};

// Opens a port on the device the way the program configures it.
std::optional<SerialError> OpenLikeTheProgram(QtSerialPort& port, const QString& device,
                                              LineSettings line = LineSettings{}) {
    if (auto e = port.setDevice(device.toStdString())) return e;
    if (auto e = port.setLineSettings(line)) return e;
    if (auto e = port.setNoHandshaking()) return e;
    if (auto e = port.setDtr(true)) return e;
    if (auto e = port.setBufferSizes(128, 128)) return e;
    return port.open();
}

}  // namespace

class TstQtSerialPort : public QObject {
    Q_OBJECT

    InProcessSimulator sim_;
    QString path_;
    FrameLog log_;

private slots:
    void init() {
        path_ = sim_.start();
        QVERIFY2(!path_.isEmpty(), qPrintable(sim_.errorString()));
        log_.frames.clear();
        log_.attach(sim_.simulator());
    }
    void cleanup() { sim_.stop(); }

    void opensAPseudoTerminalWithDtrOn() {
        QtSerialPort port;
        auto e = OpenLikeTheProgram(port, path_);
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
        QTest::newRow("missing device") << "missing" << 8002 << "Invalid port number";
        QTest::newRow("no device set") << "unset" << 8002 << "Invalid port number";
        QTest::newRow("open twice") << "twice" << 8005 << "Port already open";
        QTest::newRow("device changed while open") << "rename" << 8005 << "Port already open";
        QTest::newRow("held by another") << "other" << QtSerialPort::kErrorBase + 2 << "";
        QTest::newRow("parity refused by a pty") << "parity" << QtSerialPort::kErrorBase + 7 << "";
        QTest::newRow("four data bits") << "bits" << 380 << "Invalid property value";
        QTest::newRow("write while closed") << "write" << 8018 << "Operation valid only when the port is open";
        QTest::newRow("discard while closed") << "discard" << 8018 << "Operation valid only when the port is open";
    }
    void failures() {
        QFETCH(QString, what);
        QFETCH(int, number);
        QFETCH(QString, description);
        QtSerialPort port, other;
        std::optional<SerialError> e;
        if (what == "missing") {
            e = OpenLikeTheProgram(port, path_ + "-gone");
        } else if (what == "unset") {
            e = port.open();
        } else if (what == "twice") {
            QVERIFY(!OpenLikeTheProgram(port, path_));
            e = port.open();
        } else if (what == "rename") {
            QVERIFY(!OpenLikeTheProgram(port, path_));
            e = port.setDevice("/dev/null");
        } else if (what == "other") {
            QVERIFY(!OpenLikeTheProgram(other, path_));
            e = OpenLikeTheProgram(port, path_);
        } else if (what == "parity") {
            e = OpenLikeTheProgram(port, path_, LineSettings{19200, 'E', 8, 1});
        } else if (what == "bits") {
            e = OpenLikeTheProgram(port, path_, LineSettings{19200, 'N', 4, 1});
        } else if (what == "write") {
            e = port.write("G1S\r\n");
        } else if (what == "discard") {
            e = port.discardBuffers();
        }
        QVERIFY(e.has_value());
        QCOMPARE(e->number, number);
        if (!description.isEmpty()) QCOMPARE(QString::fromStdString(e->description), description);
        QVERIFY(!e->description.empty());
        if (what != "twice" && what != "rename") QVERIFY(!port.isOpen());
    }

    void frameOutReplyIn() {
        QtSerialPort port;
        QVERIFY(!OpenLikeTheProgram(port, path_));
        QList<int> codes;
        std::string received;
        port.setNotificationHandler([&](int code) {
            codes << code;
            received += port.readAll();
        });
        QVERIFY(!port.discardBuffers());
        QVERIFY(!port.write("G1T\r\n"));
        QTRY_COMPARE(received, std::string("G1DVX-23\r\n"));
        QCOMPARE(log_.frames, QStringList{"G1T"});
        QVERIFY(!codes.isEmpty());
        for (int code : codes) QCOMPARE(code, Receive);
    }

    // More than the 128-byte receive buffer at once: nothing is lost, and a
    // notification never comes without bytes.
    void burstBeyondTheBufferSize() {
        QtSerialPort port;
        QVERIFY(!OpenLikeTheProgram(port, path_));
        std::string expected;
        for (int i = 0; i < 3000; ++i) expected.push_back(static_cast<char>('0' + i % 75));
        std::string received;
        int empty = 0;
        port.setNotificationHandler([&](int) {
            std::string chunk = port.readAll();
            if (chunk.empty()) ++empty;
            received += chunk;
        });
        sim_.sendRaw(expected);
        QTRY_COMPARE(received.size(), expected.size());
        QCOMPARE(received, expected);
        QCOMPARE(empty, 0);
    }

    // A modal box inside the receive handler runs a nested event loop: bytes
    // arriving meanwhile are announced there, or at the latest right after.
    void bytesArrivingWhileTheHandlerWaits() {
        QtSerialPort port;
        QVERIFY(!OpenLikeTheProgram(port, path_));
        std::string received;
        int depth = 0, maxDepth = 0, calls = 0;
        port.setNotificationHandler([&](int) {
            ++calls;
            ++depth;
            maxDepth = std::max(maxDepth, depth);
            received += port.readAll();
            if (calls == 1) {
                sim_.sendRaw("second\r\n");
                // As a modal box does: serve events until the operator answers.
                QDeadlineTimer answered(5000);
                while (received.find("second") == std::string::npos && !answered.hasExpired())
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            }
            --depth;
        });
        sim_.sendRaw("first\r\n");
        QTRY_COMPARE(received, std::string("first\r\nsecond\r\n"));
        QCOMPARE(maxDepth, 2);
    }

    // The line is cleared before each frame: a late reply to the previous
    // request must not be taken for the next one's.
    void discardDropsWhatWasNotRead() {
        QtSerialPort port;
        QVERIFY(!OpenLikeTheProgram(port, path_));
        std::string received;
        port.setNotificationHandler([&](int) { received += port.readAll(); });
        sim_.sendRaw("stale\r\n");  // returns once the bytes are with the terminal
        QVERIFY(!port.discardBuffers());
        QVERIFY(!port.write("G1S\r\n"));
        QTRY_COMPARE(received, std::string("G1READY\r\n"));
    }

    // A pulled adapter: one line error, the port closed, no flood, and a new
    // device can be opened later; whether the loss is met by the event loop,
    // inside a box the receive handler opened, or by a write that comes first.
    void deviceDisappears_data() {
        QTest::addColumn<QString>("when");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("idle") << "idle" << QList<int>{Dcb};
        QTest::newRow("while the receive handler waits in a box") << "in a box" << QList<int>{Receive, Dcb};
        QTest::newRow("at a write") << "at a write" << QList<int>{Dcb};
    }

    void deviceDisappears() {
        QFETCH(QString, when);
        QFETCH(QList<int>, expected);
        QtSerialPort port;
        QVERIFY(!OpenLikeTheProgram(port, path_));
        QList<int> codes;
        port.setNotificationHandler([&](int code) {
            codes << code;
            port.readAll();
            if (code == Receive && when == "in a box") {
                sim_.hangUp();
                QDeadlineTimer answered(5000);
                while (!codes.contains(Dcb) && !answered.hasExpired())
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            }
        });
        if (when == "in a box") {
            sim_.sendRaw("first\r\n");
        } else {
            sim_.hangUp();
            if (when == "at a write") QVERIFY(port.write("G1S\r\n").has_value());
        }
        QTRY_VERIFY(codes.contains(Dcb));
        QTest::qWait(200);
        QCOMPARE(codes, expected);
        QVERIFY(!port.isOpen());
        auto e = port.write("G1S\r\n");
        QVERIFY(e.has_value());
        QCOMPARE(e->number, 8018);
        // A hung-up terminal's node goes a moment after the hang-up, once
        // the kernel has let go of it; until then an open may still reach it.
        QTRY_VERIFY(!QFileInfo::exists(path_));
        e = port.open();
        QVERIFY(e.has_value());
        QCOMPARE(e->number, 8002);

        const QString next = sim_.replug();
        QVERIFY2(!next.isEmpty(), qPrintable(sim_.errorString()));
        QVERIFY(!OpenLikeTheProgram(port, next));
        std::string received;
        port.setNotificationHandler([&](int) { received += port.readAll(); });
        QVERIFY(!port.write("G1S\r\n"));
        QTRY_COMPARE(received, std::string("G1READY\r\n"));
        QCOMPARE(log_.frames, QStringList{"G1S"});
    }

    // What the reopening and the dialog's "not present" rest on: only a path
    // that reaches a device node now counts.
    void resolveReachesOnlyDevices_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("reaches");
        QTest::newRow("the terminal") << "terminal" << true;
        QTest::newRow("a link to it") << "link" << true;
        QTest::newRow("a dangling link") << "dangling" << false;
        QTest::newRow("a plain file") << "file" << false;
        QTest::newRow("a folder") << "folder" << false;
        QTest::newRow("nothing") << "absent" << false;
    }
    void resolveReachesOnlyDevices() {
        QFETCH(QString, kind);
        QFETCH(bool, reaches);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString path = dir.filePath(kind);
        if (kind == "terminal") path = path_;
        if (kind == "link") QVERIFY(QFile::link(path_, path));
        if (kind == "dangling") QVERIFY(QFile::link(dir.filePath("gone"), path));
        if (kind == "file") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        if (kind == "folder") QVERIFY(QDir(dir.path()).mkdir(kind));
        dervix::QtSerialDevices devices;
        QCOMPARE(QString::fromStdString(devices.resolve(path.toStdString())), reaches ? path_ : QString());
    }

    void timerFiresOnceAndIsInactiveInItsHandler() {
        QtTimer timer;
        int fired = 0;
        bool activeInHandler = true;
        timer.setHandler([&] {
            ++fired;
            activeInHandler = timer.isActive();
        });
        timer.setInterval(20);
        QCOMPARE(timer.interval(), 20);
        QVERIFY(!timer.isActive());
        timer.start();
        QVERIFY(timer.isActive());
        QTRY_COMPARE(fired, 1);
        QVERIFY(!activeInHandler);
        QTest::qWait(80);
        QCOMPARE(fired, 1);
    }

    void timerStoppedOrRearmed() {
        QtTimer timer;
        int fired = 0;
        timer.setHandler([&] {
            if (++fired == 1) timer.start();  // re-armed from its own tick
        });
        timer.setInterval(30);
        timer.start();
        timer.stop();
        QTest::qWait(80);
        QCOMPARE(fired, 0);
        timer.start();
        QTRY_COMPARE(fired, 2);
        QVERIFY(!timer.isActive());
    }

    // The loop comes late to a reply and to the time-out both (a start-up
    // still busy): the reply, announced first and handed on by a queued call
    // of its own as the serial adapters do, is handled first, and its
    // acceptance stops the time-out that had already run out.
    void timerTickWaitsBehindAnEarlierArrival() {
        QtTimer timer;
        QStringList order;
        timer.setHandler([&] { order << "time-out"; });
        timer.setInterval(20);
        timer.start();
        const auto accept = [&] {
            order << "reply";
            QVERIFY(timer.isActive());
            timer.stop();
        };
        QMetaObject::invokeMethod(
            &timer, [&] { QMetaObject::invokeMethod(&timer, accept, Qt::QueuedConnection); }, Qt::QueuedConnection);
        QThread::msleep(60);
        QTRY_COMPARE(order, QStringList{"reply"});
        QTest::qWait(50);
        QCOMPARE(order, QStringList{"reply"});
    }
};

QTEST_GUILESS_MAIN(TstQtSerialPort)
#include "tst_qt_serial_port.moc"
