// The POSIX serial adapter and the Qt timer against the simulated module on
// a real pseudo-terminal.
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/qt/posix/QtSerialDevices.h"
#include "platform/qt/posix/PosixSerialPort.h"
#include "platform/qt/QtTimer.h"
#include "simulator/qt/posix/InProcessSimulator.h"
#include "simulator/qt/posix/PtySimulator.h"
#include "support/SerialContract.h"

using dervix::CommEvent::Dcb;
using dervix::CommEvent::Receive;
using dervix::LineSettings;
using dervix::PosixSerialPort;
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

std::optional<SerialError> OpenLikeTheProgram(PosixSerialPort& port, const QString& device,
                                              LineSettings line = LineSettings{}) {
    return dervix::test::OpenLikeTheProgram(port, device.toStdString(), line);
}

// The simulated module behind a pseudo-terminal, for the contract every
// system's adapter keeps.
struct PosixRig : dervix::test::SerialRig {
    explicit PosixRig(const QString& path) : path_(path) {}
    std::unique_ptr<dervix::SerialPort> makePort() override { return std::make_unique<PosixSerialPort>(); }
    std::string device() override { return path_.toStdString(); }
    std::string absent() override { return path_.toStdString() + "-gone"; }
    const QString& path_;
};

}  // namespace

class TstPosixSerialPort : public QObject {
    Q_OBJECT

    InProcessSimulator sim_;
    QString path_;
    FrameLog log_;
    PosixRig rig_{path_};

private slots:
    void init() {
        path_ = sim_.start();
        QVERIFY2(!path_.isEmpty(), qPrintable(sim_.errorString()));
        log_.frames.clear();
        log_.attach(sim_.simulator());
    }
    void cleanup() { sim_.stop(); }

    void opensAPseudoTerminalWithDtrOn() {
        PosixSerialPort port;
        auto e = OpenLikeTheProgram(port, path_);
        QVERIFY2(!e, e ? e->description.c_str() : "");
        QVERIFY(port.isOpen());
        port.close();
        QVERIFY(!port.isOpen());
        QVERIFY(!port.open());  // the recorded settings are applied again
    }

    // Other programs are kept off the line while it is ours, and only then:
    // the terminal stays exclusive while any descriptor of it is open (the
    // simulator's own end), and would refuse our next open as another user.
    void exclusiveOnlyWhileOpen() {
        const int other = ::open(path_.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(other >= 0);
        const auto exclusive = [other] {
            int on = -1;
            return ::ioctl(other, TIOCGEXCL, &on) == 0 ? on : -1;
        };
        PosixSerialPort port;
        QVERIFY(!OpenLikeTheProgram(port, path_));
        QCOMPARE(exclusive(), 1);
        port.close();
        QCOMPARE(exclusive(), 0);
        ::close(other);
    }

    void failures_data() { dervix::test::contract::FailureRows(); }
    void failures() {
        QFETCH(QString, what);
        QFETCH(int, number);
        QFETCH(QString, description);
        dervix::test::contract::Failure(rig_, what, number, description);
    }

    void failuresOfAPseudoTerminal_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("description");
        QTest::newRow("held by another") << "other" << dervix::SerialFailure::Held
                                         << "Permission error while locking the device";
        QTest::newRow("parity refused by a pty") << "parity" << dervix::SerialFailure::SettingRefused << "";
    }
    void failuresOfAPseudoTerminal() {
        QFETCH(QString, what);
        QFETCH(int, number);
        QFETCH(QString, description);
        PosixSerialPort port, other;
        std::optional<SerialError> e;
        if (what == "other") {
            QVERIFY(!OpenLikeTheProgram(other, path_));
            e = OpenLikeTheProgram(port, path_);
        } else if (what == "parity") {
            e = OpenLikeTheProgram(port, path_, LineSettings{19200, 'E', 8, 1});
        }
        QVERIFY(e.has_value());
        QCOMPARE(e->number, number);
        if (!description.isEmpty()) QCOMPARE(QString::fromStdString(e->description), description);
        QVERIFY(!e->description.empty());
        QVERIFY(!port.isOpen());
    }

    void frameOutReplyIn() { dervix::test::contract::FrameOutReplyIn(rig_); }

    // More than the 128-byte receive buffer at once: nothing is lost, and a
    // notification never comes without bytes.
    void burstBeyondTheBufferSize() {
        PosixSerialPort port;
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

    void replyArrivingWhileTheHandlerWaits() { dervix::test::contract::ReplyWhileTheHandlerWaits(rig_); }

    // The line is cleared before each frame: a late reply to the previous
    // request must not be taken for the next one's.
    void discardDropsWhatWasNotRead() {
        PosixSerialPort port;
        QVERIFY(!OpenLikeTheProgram(port, path_));
        std::string received;
        port.setNotificationHandler([&](int) { received += port.readAll(); });
        sim_.sendRaw("stale\r\n");  // returns once the bytes are with the terminal
        QVERIFY(!port.discardBuffers());
        QVERIFY(!port.write("G1S\r\n"));
        QTRY_COMPARE(received, std::string("G1READY\r\n"));
    }

    void readingGoesOnAfterDiscards_data() { dervix::test::contract::DiscardRows(); }
    void readingGoesOnAfterDiscards() {
        QFETCH(int, requests);
        QFETCH(int, eventsEvery);
        dervix::test::contract::ReadingGoesOnAfterDiscards(rig_, requests, eventsEvery);
    }

    // The event loop learns of an arrival and, in the same round, serves a
    // request that discards (a poller's next request): before the line's
    // notice has read anything, or after it has read and announced what came,
    // more than the receive buffer holds among it. Reading must go on.
    void readingGoesOnWhenADiscardComesBetween_data() {
        QTest::addColumn<bool>("discardFirst");
        QTest::addColumn<int>("bytes");
        QTest::newRow("discard before the read, a reply") << true << 9;
        QTest::newRow("discard before the read, more than the buffer") << true << 300;
        QTest::newRow("discard after the read, a reply") << false << 9;
        QTest::newRow("discard after the read, more than the buffer") << false << 300;
    }
    void readingGoesOnWhenADiscardComesBetween() {
        QFETCH(bool, discardFirst);
        QFETCH(int, bytes);
        int pipeEnds[2];
        QVERIFY(::pipe(pipeEnds) == 0);
        // Of two notifiers ready in one round, the one made first is served first.
        std::unique_ptr<QSocketNotifier> request;
        if (discardFirst) request = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
        PosixSerialPort port;
        QVERIFY(!OpenLikeTheProgram(port, path_));
        if (!discardFirst) request = std::make_unique<QSocketNotifier>(pipeEnds[0], QSocketNotifier::Read);
        std::string received;
        port.setNotificationHandler([&](int) { received += port.readAll(); });
        int discards = 0;
        connect(request.get(), &QSocketNotifier::activated, this, [&] {
            char byte;
            QCOMPARE(::read(pipeEnds[0], &byte, 1), ssize_t(1));
            QVERIFY(!port.discardBuffers());
            ++discards;
        });
        for (int i = 0; i < 100; ++i) {
            sim_.sendRaw(std::string(static_cast<std::size_t>(bytes), 'x'));
            QCOMPARE(::write(pipeEnds[1], "r", 1), ssize_t(1));
            const int before = discards;
            while (discards == before) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        for (int i = 0; i < 5; ++i) {
            QVERIFY(!port.discardBuffers());
            received.clear();
            QVERIFY(!port.write("G1S\r\n"));
            QTRY_VERIFY2(received.find("G1READY\r\n") != std::string::npos, received.c_str());
        }
        request.reset();
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
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
        // Opened by a name of the test's own, as a USB adapter's by-id link
        // is: the name goes when the test says, not when the kernel lets go
        // of the hung-up terminal's node.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString name = dir.filePath("usb-adapter");
        QVERIFY(QFile::link(path_, name));
        PosixSerialPort port;
        QVERIFY(!OpenLikeTheProgram(port, name));
        QList<int> codes;
        const auto pull = [&] {
            sim_.hangUp();
            QVERIFY(QFile::remove(name));
        };
        port.setNotificationHandler([&](int code) {
            codes << code;
            port.readAll();
            if (code == Receive && when == "in a box") {
                pull();
                QDeadlineTimer answered(5000);
                while (!codes.contains(Dcb) && !answered.hasExpired())
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            }
        });
        if (when == "in a box") {
            sim_.sendRaw("first\r\n");
        } else {
            pull();
            if (when == "at a write") QVERIFY(port.write("G1S\r\n").has_value());
        }
        QTRY_VERIFY(codes.contains(Dcb));
        QVERIFY(!port.isOpen());
        // One report: whatever else was under way when the line went is not
        // told again (a discard, a write, the closed line's own notices).
        QCOMPARE(port.discardBuffers()->number, 8018);
        auto e = port.write("G1S\r\n");
        QVERIFY(e.has_value());
        QCOMPARE(e->number, 8018);
        e = port.open();
        QVERIFY(e.has_value());
        QCOMPARE(e->number, 8002);
        QCoreApplication::processEvents();
        QCOMPARE(codes, expected);

        const QString next = sim_.replug();
        QVERIFY2(!next.isEmpty(), qPrintable(sim_.errorString()));
        QVERIFY(QFile::link(next, name));
        QVERIFY(!OpenLikeTheProgram(port, name));
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

QTEST_GUILESS_MAIN(TstPosixSerialPort)
#include "tst_posix_serial_port.moc"
