// The device link as the program runs it: real serial port and response
// timer, the simulated module on a real pseudo-terminal.
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <chrono>
#include <utility>

#include "shell/Numbers.h"
#include "support/PtyRig.h"

using dervix::kReady;
using dervix::MsgBox::Critical;
using dervix::MsgBox::Information;
using dervix::test::PtyRig;

namespace {

const std::string kSendFailure =
    "Error occurred while sending a command to the Corvane Dervantix\r"
    "Operation valid only when the port is open\r"
    "Either the serial port needs configuration or it is possible that the\r"
    "Corvane Dervantix needs to be power-cycled.";

// Serves events until done() holds or the time is up; for waits inside a
// box's answer, where QTRY cannot return.
bool ServeUntil(const std::function<bool()>& done, int ms = 5000) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) QTest::qWait(10);
    return done();
}

// The frame of the split code the program restored at start-up.
QByteArray SplitFrame(const PtyRig& rig) {
    return "G1F" + QByteArray::number(rig.w->g.CurSplitCode);
}

}  // namespace

class TstPtyEndToEnd : public QObject {
    Q_OBJECT

private slots:
    // Start-up: CHECK goes out, its reply makes the program send the stored
    // split code, whatever the module's address.
    void startupCheckThenSplitCode_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<QByteArray>("prefix");
        QTest::newRow("address 1") << 1 << QByteArray("G1");
        QTest::newRow("address 0") << 0 << QByteArray("G0");
        QTest::newRow("address 10") << 10 << QByteArray("GA");
        QTest::newRow("address 16") << 16 << QByteArray("G10");
    }
    void startupCheckThenSplitCode() {
        QFETCH(int, address);
        QFETCH(QByteArray, prefix);
        PtyRig rig;
        QVERIFY2(rig.startModule(address, std::to_string(address)), qPrintable(rig.sim.errorString()));
        rig.profile.write("Dervix", "SplitCode", "12");
        rig.w->Form_Load();
        QVERIFY(rig.serial.isOpen());
        QTRY_COMPARE(rig.frameList(), (QList<QByteArray>{prefix + "%", prefix + "F12"}));
        int code = -1;
        QTRY_VERIFY(!rig.timer.isActive());  // the split code's reply was taken
        rig.sim.withModule([&](dervix::sim::ModuleSimulator& m) { code = m.splitCode(); });
        QCOMPARE(code, 12);
        QCOMPARE(rig.w->g.LinkState, kReady);
        QCOMPARE(rig.w->DervixResp.text(), std::string());
        QVERIFY(rig.dialogs.boxes.empty());
        QCOMPARE(rig.profile.get("ErrorStatus"), std::string());
    }

    // A module that answers with faults the program is built to survive.
    void survivableFaults_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("split into pieces") << "split";
        QTest::newRow("stray bytes") << "stray";
        QTest::newRow("slow but in time") << "delay";
    }
    void survivableFaults() {
        QFETCH(QString, fault);
        PtyRig rig;
        QVERIFY(rig.startModule());
        rig.sim.withModule([&](dervix::sim::ModuleSimulator& m) {
            if (fault == "split") m.setSplitPieces(4, 10);
            if (fault == "stray") m.setStrayBytes(true);
            if (fault == "delay") m.setExtraDelayMs(120);
        });
        rig.w->Form_Load();
        QTRY_COMPARE(rig.count(SplitFrame(rig)), 1);
        QTRY_VERIFY(!rig.timer.isActive());
        QCOMPARE(rig.count("G1%"), 1);  // no retry was needed
        QVERIFY(rig.dialogs.boxes.empty());
    }

    // A CHECK reply that does not begin with "G" is a module not responding.
    void lowerCaseCheckReply() {
        PtyRig rig;
        QVERIFY(rig.startModule());
        rig.sim.withModule([](dervix::sim::ModuleSimulator& m) { m.setLowercaseCheck(true); });
        rig.w->Form_Load();
        QTRY_COMPARE(rig.dialogs.boxes.size(), std::size_t(1));
        QVERIFY(rig.dialogs.boxes[0].prompt.rfind("Dervantix is not responding!", 0) == 0);
        QTest::qWait(50);
        QCOMPARE(rig.frameList(), QList<QByteArray>{"G1%"});
    }

    void startStopCountsRotations() {
        PtyRig rig;
        QVERIFY(rig.startModule());
        rig.w->Form_Load();
        QTRY_VERIFY(rig.count(SplitFrame(rig)) == 1 && !rig.timer.isActive());
        rig.w->g.CurValveFreq = 10.0f;

        rig.w->cmdStart.click();
        QVERIFY(!rig.w->cmdStart.enabled());
        QVERIFY(!rig.w->cmdSetSplit.enabled());
        QTRY_COMPARE(rig.w->cmdStart.caption(), std::string("&Stop"));
        const auto started = std::chrono::steady_clock::now();
        QVERIFY(rig.w->cmdStart.enabled());
        QVERIFY(!rig.profile.get("Running").empty());
        bool running = false;
        rig.sim.withModule([&](dervix::sim::ModuleSimulator& m) { running = m.valveRunning(); });
        QVERIFY(running);

        QTest::qWait(2100);
        rig.w->cmdStart.click();
        QTRY_COMPARE(rig.w->cmdStart.caption(), std::string("&Start"));
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        QVERIFY(rig.w->cmdStart.enabled());
        QVERIFY(rig.w->cmdSetSplit.enabled());
        QCOMPARE(rig.profile.get("Running"), std::string());
        rig.sim.withModule([&](dervix::sim::ModuleSimulator& m) { running = m.valveRunning(); });
        QVERIFY(!running);

        const double rotations = rig.w->g.ValveRotations;
        QCOMPARE(dervix::NumericValue(rig.profile.get("Rotations")), rotations);
        // Whole seconds between two clock readings taken to the second.
        const double seconds = rotations / 10.0;
        QCOMPARE(seconds, std::floor(seconds));
        QVERIFY2(std::fabs(seconds - elapsed) <= 1.0,
                 qPrintable(QStringLiteral("counted %1 s, ran %2 s").arg(seconds).arg(elapsed)));
        QCOMPARE(rig.count("G1C"), 1);
        QCOMPARE(rig.count("G1D"), 1);
    }

    // Switched off: the request goes out 16 times, 190 ms apart, then the
    // program gives up and says so.
    void silentModuleTimesOut() {
        PtyRig rig;
        QVERIFY(rig.startModule());
        rig.w->Form_Load();
        QTRY_VERIFY(rig.count(SplitFrame(rig)) == 1 && !rig.timer.isActive());
        rig.sim.withModule([](dervix::sim::ModuleSimulator& m) { m.setSilent(true); });

        rig.w->txtDVXScmd.setText("STATUS");
        QTRY_VERIFY_WITH_TIMEOUT(!rig.dialogs.boxes.empty(), 10000);
        QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
        QCOMPARE(rig.dialogs.boxes[0].prompt, std::string("STATUS Timeout after  15 retries"));
        QCOMPARE(rig.dialogs.boxes[0].flags, Information);
        QCOMPARE(rig.profile.get("ErrorStatus"), std::string("STATUS"));
        QCOMPARE(rig.w->g.LinkState, kReady);
        QCOMPARE(int(rig.w->g.RetryCount), 0);
        QVERIFY(!rig.timer.isActive());
        QTRY_COMPARE(rig.count("G1S"), 16);
        QTest::qWait(400);
        QCOMPARE(rig.count("G1S"), 16);
        // Spaced by the response time, never sent in a burst.
        std::vector<qint64> times;
        for (const auto& f : rig.frames)
            if (f.frame == "G1S") times.push_back(f.firstByteNs);
        for (std::size_t i = 1; i < times.size(); ++i) QVERIFY(times[i] - times[i - 1] >= 150'000'000);
    }

    // Pulled while a request waits for its reply: the program must not go on
    // waiting for a reply to a re-send that never left.
    void modulePulledWhileWaiting() {
        PtyRig rig;
        QVERIFY(rig.startModule());
        rig.w->Form_Load();
        QTRY_VERIFY(rig.count(SplitFrame(rig)) == 1 && !rig.timer.isActive());
        rig.sim.withModule([](dervix::sim::ModuleSimulator& m) { m.setExtraDelayMs(150); });
        rig.w->txtDVXScmd.setText("STATUS");
        QTRY_COMPARE(rig.count("G1S"), 1);
        QCOMPARE(rig.w->g.LinkState, dervix::kWaiting);
        rig.sim.hangUp();
        QTRY_VERIFY(!rig.dialogs.boxes.empty());
        QCOMPARE(rig.dialogs.boxes[0].prompt, kSendFailure);
        QCOMPARE(rig.w->g.LinkState, kReady);
        QTest::qWait(400);  // the first frame's response time runs out
        QVERIFY(rig.dialogs.boxes.size() <= 2);
        QCOMPARE(rig.w->g.LinkState, kReady);
        QVERIFY(!rig.timer.isActive());
        QCOMPARE(rig.count("G1S"), 1);
    }

    // The line lost while STOP waits for its reply: the re-send cannot
    // leave. One box says so, and the operator can press Stop again.
    void lineLostWhileStopIsOutstanding() {
        PtyRig rig;
        QVERIFY(rig.startModule());
        rig.w->Form_Load();
        QTRY_VERIFY(rig.count(SplitFrame(rig)) == 1 && !rig.timer.isActive());
        rig.w->cmdStart.click();
        QTRY_COMPARE(rig.w->cmdStart.caption(), std::string("&Stop"));

        rig.sim.withModule([](dervix::sim::ModuleSimulator& m) { m.setSilent(true); });
        // Pulled the moment the module has the STOP frame, long before its
        // response time runs out.
        bool pulled = false;
        QObject::connect(rig.sim.simulator(), &dervix::sim::PtySimulator::frameReceived, &rig.receiver,
                         [&rig, &pulled](const QByteArray& frame, qint64) {
                             if (frame != "G1D" || std::exchange(pulled, true)) return;
                             rig.sim.hangUp();
                         });
        rig.w->cmdStart.click();
        QVERIFY(!rig.w->cmdStart.enabled());
        QTRY_VERIFY(!rig.dialogs.boxes.empty());
        QCOMPARE(rig.dialogs.boxes[0].prompt, kSendFailure);
        QVERIFY(!rig.serial.isOpen());
        QVERIFY(rig.w->cmdStart.enabled());
        QCOMPARE(rig.w->cmdStart.caption(), std::string("&Stop"));
        QVERIFY(!rig.timer.isActive());
        QCOMPARE(int(rig.w->g.RetryCount), 0);
        QTest::qWait(400);  // past the STOP frame's response time
        QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
        QCOMPARE(rig.count("G1D"), 1);
    }

    // The adapter pulled out while the valve runs.
    void modulePulledMidRun() {
        PtyRig rig;
        QVERIFY(rig.startModule(1, "1", true));
        rig.w->Form_Load();
        QTRY_VERIFY(rig.count(SplitFrame(rig)) == 1 && !rig.timer.isActive());
        rig.w->cmdStart.click();
        QTRY_COMPARE(rig.w->cmdStart.caption(), std::string("&Stop"));

        rig.sim.hangUp();
        const std::string lineError = "Receive - RSP=[] ERR=[Error retrieving DCB] EVN=[]";
        QTRY_COMPARE(rig.logLines(lineError), 1);
        QVERIFY(!rig.serial.isOpen());
        // The line error counts as silence: the re-send finds the port closed.
        QTRY_COMPARE(rig.dialogs.boxes.size(), std::size_t(1));
        QCOMPARE(rig.dialogs.boxes[0].prompt, kSendFailure);
        QCOMPARE(rig.dialogs.boxes[0].flags, Critical);
        const std::size_t linesAfter = rig.logFile.lines.size();
        QTest::qWait(300);
        QCOMPARE(rig.logLines(lineError), 1);
        QCOMPARE(rig.dialogs.beeps, 1);
        QCOMPARE(rig.logFile.lines.size(), linesAfter);  // calm: nothing more happens

        // The operator stops: the request cannot leave, and says so.
        rig.w->cmdStart.click();
        QCOMPARE(rig.dialogs.boxes.size(), std::size_t(2));
        QCOMPARE(rig.dialogs.boxes[1].prompt, kSendFailure);
        QVERIFY(rig.w->cmdStart.enabled());
        bool served = false;
        QTimer::singleShot(10, [&served] { served = true; });
        QTRY_VERIFY(served);

        // Plugged in again, the port opens as after the configuration dialog.
        const QString next = rig.sim.replug();
        QVERIFY(!next.isEmpty());
        rig.profile.write("Ports", "Com1", next.toStdString());
        QCOMPARE(rig.w->link.OpenPort(), std::string());
        rig.w->txtDVXScmd.setText("CHECK");
        QTRY_COMPARE(rig.count(SplitFrame(rig)), 2);
    }

    // An adapter reached through its stable link (a link in a folder of the
    // test's own stands in for /dev/serial/by-id): pulled, the link and the
    // device go; plugged in again, both come back and the program carries on
    // by itself, with no box for a short absence, and also when the absence
    // has lasted until the time-out box of the retries is open.
    void replugThroughAStableLink_data() {
        QTest::addColumn<bool>("whileBoxOpen");
        QTest::newRow("back at once") << false;
        QTest::newRow("back while the time-out box is open") << true;
    }
    void replugThroughAStableLink() {
        QFETCH(bool, whileBoxOpen);
        QTemporaryDir byId;
        QVERIFY(byId.isValid());
        const QString link = byId.filePath("usb-Corvane_Dervantix_SIM0001-if00-port0");
        PtyRig rig;
        QVERIFY(rig.startModule(1, "1", true));
        QVERIFY(QFile::link(rig.path, link));
        rig.profile.write("Ports", "Com1", link.toStdString());
        rig.w->Form_Load();
        QTRY_VERIFY(rig.count(SplitFrame(rig)) == 1 && !rig.timer.isActive());

        qint64 linkedNs = 0;
        bool replugged = false;
        auto replug = [&] {
            const QString next = rig.sim.replug();
            replugged = !next.isEmpty() && QFile::link(next, link);
            linkedNs = dervix::sim::MonotonicNs();
        };
        bool splitInBox = false;
        if (whileBoxOpen)
            rig.dialogs.answers.push_back([&](const dervix::test::ShownBox&) {
                replug();
                splitInBox = ServeUntil([&] { return rig.count(SplitFrame(rig)) == 2; });
                return dervix::MsgBox::ResultOk;
            });

        QVERIFY(QFile::remove(link));
        rig.sim.hangUp();
        QTRY_COMPARE(rig.logLines("Port lost - waiting for " + link.toStdString() + " to come back"), 1);
        if (whileBoxOpen) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.dialogs.boxes.size(), std::size_t(1), 10000);
            QVERIFY(QString::fromStdString(rig.dialogs.boxes[0].prompt).endsWith(" Timeout after  15 retries"));
            QVERIFY(splitInBox);
        } else {
            QVERIFY(rig.dialogs.boxes.empty());
            QVERIFY(!rig.serial.isOpen());
            replug();
        }
        QVERIFY(replugged);

        QTRY_COMPARE_WITH_TIMEOUT(rig.count("G1%"), 2, 5000);
        qint64 checkNs = 0;
        for (const auto& f : rig.frames)
            if (f.frame == "G1%") checkNs = f.firstByteNs;
        QVERIFY2(checkNs - linkedNs < 2'000'000'000, qPrintable(QString::number((checkNs - linkedNs) / 1e6)));
        // The module's "G" answer brings the split code, as at start-up.
        QTRY_COMPARE(rig.count(SplitFrame(rig)), 2);
        QVERIFY(rig.serial.isOpen());
        QCOMPARE(rig.logLines("Port reopened - " + link.toStdString()), 1);
        QCOMPARE(rig.dialogs.boxes.size(), std::size_t(whileBoxOpen ? 1 : 0));
    }
};

QTEST_GUILESS_MAIN(TstPtyEndToEnd)
#include "tst_pty_end_to_end.moc"
