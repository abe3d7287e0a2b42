// The line lost while a request is outstanding: the re-send cannot leave,
// and nobody may be left waiting for a reply to it. The device coming back:
// the port reopened and the module asked for CHECK.
#include <QtTest>

#include "support/Rig.h"

using dervix::CommEvent::Dcb;
using dervix::kReady;
using dervix::kWaiting;
using dervix::test::Rig;

namespace {
const std::string kSendFailureHead = "Error occurred while sending a command to the Corvane Dervantix\r";
const std::string kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
const dervix::SerialDeviceInfo kAdapter{"/dev/ttyUSB0", kById, "FT232R USB UART"};

int LogLines(const Rig& rig, const std::string& text) {
    int n = 0;
    for (const std::string& line : rig.logFile.lines) n += line.find(text) != std::string::npos;
    return n;
}
}

class TstLinkAfterLineLoss : public QObject {
    Q_OBJECT

private slots:
    void lineLostWhileWaiting_data() {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("frame");
        QTest::newRow("status") << "STATUS" << "G1S\r\n";
        QTest::newRow("model") << "MODEL" << "G1T\r\n";
        QTest::newRow("self-test") << "TEST" << "G1B\r\n";
        QTest::newRow("stop clicked while running") << "STOP" << "G1D\r\n";
    }
    // A pseudo-terminal never comes back under its name: the loss is told at
    // once, by the re-send that cannot leave.
    void lineLostWhileWaiting() {
        QFETCH(QString, request);
        QFETCH(QString, frame);
        Rig rig;
        rig.profile.content = "[Ports]\nCom1=/dev/pts/3\n";
        rig.startAndAnswerCheck();
        if (request == "STOP") {
            rig.w->cmdStart.setCaption("&Stop");  // the valve runs
            rig.w->cmdStart.click();
            QVERIFY(!rig.w->cmdStart.enabled());
        } else {
            rig.w->txtDVXScmd.setText(request.toStdString());
        }
        QCOMPARE(rig.lastFrame(), frame.toStdString());
        QCOMPARE(rig.w->g.LinkState, kWaiting);
        const std::size_t frames = rig.serial.frames.size();

        // The adapter closes a vanished device and reports one line error.
        rig.serial.close();
        rig.serial.raise(Dcb);

        QCOMPARE(rig.dialogs.beeps, 1);
        QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
        QCOMPARE(rig.dialogs.boxes[0].prompt.substr(0, kSendFailureHead.size()), kSendFailureHead);
        QCOMPARE(rig.serial.frames.size(), frames);
        // The re-send never left: nothing is outstanding, and the time-out of
        // the frame that did leave cannot bring a second box.
        QCOMPARE(int(rig.w->g.RetryCount), 0);
        QCOMPARE(rig.w->g.LinkState, kReady);
        QCOMPARE(rig.w->txtDVXScmd.text(), request.toStdString());
        QVERIFY(!rig.timer.isActive());
        QVERIFY(rig.w->cmdStart.enabled());
        QCOMPARE(rig.w->cmdStart.caption(), std::string(request == "STOP" ? "&Stop" : "&Start"));
    }

    void reopenWhenTheDeviceComesBack_data() {
        QTest::addColumn<int>("presentAtLoss");   // the node goes only after the line error; 2: never
        QTest::addColumn<int>("busy");            // opens that fail once it is back: 0, 1, -1 for all
        QTest::addColumn<bool>("whileBoxOpen");   // away until the retries' time-out box is on screen
        QTest::newRow("gone at once") << 0 << 0 << false;
        QTest::newRow("gone after the line error") << 1 << 0 << false;
        // Taken for lost while its device stayed (a read error that meant nothing).
        QTest::newRow("never gone") << 2 << 0 << false;
        QTest::newRow("back while the time-out box is open") << 0 << 0 << true;
        QTest::newRow("busy for a moment when back") << 0 << 1 << false;
        QTest::newRow("stays busy when back") << 0 << -1 << false;
    }
    void reopenWhenTheDeviceComesBack() {
        QFETCH(int, presentAtLoss);
        QFETCH(int, busy);
        QFETCH(bool, whileBoxOpen);
        Rig rig;
        rig.profile.content = "[Ports]\nCom1=" + kById + "\n[Dervix]\nLogging=1\n";
        rig.devices.plug(kAdapter);
        rig.startAndAnswerCheck();
        QCOMPARE(rig.serial.device, kById);
        const std::size_t before = rig.serial.frames.size();
        auto replug = [&] {
            if (busy != 0) rig.serial.failOpen = dervix::SerialError{8102, "Permission denied"};
            rig.devices.plug(kAdapter);
        };
        if (whileBoxOpen)
            rig.dialogs.answers.push_back([&](const dervix::test::ShownBox&) {
                replug();
                rig.serial.deliver("G1\r\n");
                return dervix::MsgBox::ResultOk;
            });

        rig.serial.close();
        if (presentAtLoss == 0) rig.devices.unplug(kAdapter.path);
        rig.serial.raise(Dcb);
        QCOMPARE(rig.devices.watchedPaths, std::vector<std::string>{kById});
        // Watched for, the loss is no box: the re-send that cannot leave is
        // one more that went unanswered, and only an absence that outlasts
        // the retries is told, by their time-out.
        QVERIFY(rig.dialogs.boxes.empty());
        QCOMPARE(int(rig.w->g.RetryCount), 1);
        QVERIFY(rig.timer.isActive());
        if (whileBoxOpen)
            for (int i = 0; i < 15; ++i) rig.timer.fire();
        if (presentAtLoss) {
            // Not yet gone is not back: nothing is opened before a look a
            // tick later, and by then it has gone.
            rig.devices.notify();
            QVERIFY(!rig.serial.opened);
            QVERIFY(rig.reopenTimer.isActive());
            if (presentAtLoss == 2) rig.reopenTimer.fire();
            else rig.devices.unplug(kAdapter.path);
        }
        if (presentAtLoss == 2) {
            QVERIFY(rig.serial.opened);
            QCOMPARE(rig.lastFrame(), std::string("G1%\r\n"));
            rig.serial.deliver("G1\r\n");
        } else if (!whileBoxOpen) {
            QCOMPARE(rig.devices.liveWatches, 1);
            replug();
            if (busy != 0) {
                QVERIFY(!rig.serial.opened);
                QVERIFY(rig.reopenTimer.isActive());
            }
            if (busy > 0) {
                rig.serial.failOpen.reset();
                rig.reopenTimer.fire();
            } else if (busy < 0) {
                int ticks = 0;
                for (; rig.reopenTimer.isActive() && ticks < 100; ++ticks) {
                    QVERIFY(rig.dialogs.boxes.empty());  // nothing said while it may pass
                    rig.reopenTimer.fire();
                }
                QCOMPARE(ticks * rig.reopenTimer.intervalMs, 5000);
                QVERIFY(!rig.serial.opened);
                QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
                QCOMPARE(rig.dialogs.boxes[0].prompt,
                         "COM1 (" + kById + ") is back but cannot be opened:\r\r8102 Permission denied"
                         "(COM1,19200,N,8,1)\r\rDervix keeps watching the port and opens it as soon as it can.");
                rig.devices.notify();  // said once, tried again
                QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
                rig.serial.failOpen.reset();
                rig.devices.notify();
            }
            QCOMPARE(rig.lastFrame(), std::string("G1%\r\n"));
            rig.serial.deliver("G1\r\n");
        }

        const std::vector<std::string> sent(rig.serial.frames.begin() + static_cast<long>(before),
                                            rig.serial.frames.end());
        QCOMPARE(sent, (std::vector<std::string>{"G1%\r\n", "G1F19\r\n"}));
        QVERIFY(rig.serial.opened);
        QCOMPARE(rig.w->g.LinkState, kReady);
        QCOMPARE(rig.devices.liveWatches, 0);
        QCOMPARE(rig.dialogs.boxes.size(), std::size_t(busy < 0 || whileBoxOpen ? 1 : 0));
        if (whileBoxOpen) QCOMPARE(rig.dialogs.boxes[0].prompt, std::string(" 19 Timeout after  15 retries"));
        QVERIFY(!rig.reopenTimer.isActive());
        QCOMPARE(LogLines(rig, "Port lost - waiting for " + kById + " to come back"), 1);
        QCOMPARE(LogLines(rig, "Port reopened - " + kById + " (/dev/ttyUSB0)"), 1);
        QCOMPARE(LogLines(rig, "Port "), 2);
    }

    // No watching where nothing can come back, or once the port is open again.
    void noWatching_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("openedByHand");
        QTest::newRow("pseudo-terminal") << "/dev/pts/3" << false;
        QTest::newRow("opened again meanwhile") << QString::fromStdString(kById) << true;
    }
    void noWatching() {
        QFETCH(QString, device);
        QFETCH(bool, openedByHand);
        Rig rig;
        rig.profile.content = "[Ports]\nCom1=" + device.toStdString() + "\n";
        rig.devices.plug(kAdapter);
        rig.startAndAnswerCheck();
        rig.serial.close();
        rig.devices.unplug(kAdapter.path);
        rig.serial.raise(Dcb);
        if (openedByHand) {
            QCOMPARE(rig.devices.liveWatches, 1);
            QCOMPARE(rig.w->link.OpenPort(), std::string());  // as the configuration dialog does
        }
        QCOMPARE(rig.devices.liveWatches, 0);
        const std::size_t frames = rig.serial.frames.size();
        rig.devices.plug(kAdapter);
        QCOMPARE(rig.serial.frames.size(), frames);
    }

    // Pollers: one request's write meets the device's loss and closes the
    // port; others meet the closed port before the line error that reports
    // the loss has been handled. They are all part of that one loss.
    void requestsBeforeTheLossIsOnRecord_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("boxes");
        // Watched for: the loss is logged and its return brings CHECK.
        QTest::newRow("an adapter that comes back") << QString::fromStdString(kById) << 0;
        // Never back under its name: the re-send that cannot leave tells it.
        QTest::newRow("a pseudo-terminal") << "/dev/pts/3" << 1;
    }
    void requestsBeforeTheLossIsOnRecord() {
        QFETCH(QString, device);
        QFETCH(int, boxes);
        Rig rig;
        rig.profile.content = "[Ports]\nCom1=" + device.toStdString() + "\n";
        rig.devices.plug(kAdapter);
        rig.startAndAnswerCheck();
        rig.serial.deliver("G1\r\n");
        rig.w->g.LogEnabled = 1;
        rig.serial.goneAtWrite = true;
        rig.devices.unplug(kAdapter.path);
        for (int client = 0; client < 3; ++client) rig.w->txtDVXScmd.setText("STATUS");
        QVERIFY(!rig.serial.isOpen());
        QCOMPARE(rig.dialogs.boxes.size(), std::size_t(0));
        QCOMPARE(LogLines(rig, "not sent, the port is lost"), 3);
        rig.serial.raise(Dcb);
        QCOMPARE(LogLines(rig, "Port lost"), 1);
        QCOMPARE(rig.dialogs.boxes.size(), std::size_t(boxes));
        for (const auto& box : rig.dialogs.boxes)
            QCOMPARE(box.prompt.substr(0, kSendFailureHead.size()), kSendFailureHead);
    }

    // An operator's request on a closed port: the same, and the button that
    // sent it comes back.
    void startOnAClosedPort() {
        Rig rig;
        rig.startAndAnswerCheck();
        rig.serial.close();
        QVERIFY(rig.timer.isActive());  // still awaiting the split code's reply
        const int startsBefore = rig.timer.starts;
        rig.w->cmdStart.click();
        QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
        QCOMPARE(rig.w->g.LinkState, kReady);
        QVERIFY(rig.w->cmdStart.enabled());
        QCOMPARE(rig.w->cmdStart.caption(), std::string("&Start"));
        // START replaced the split code as the request awaited, and START
        // never left: its time-out must not repeat it behind the box.
        QVERIFY(!rig.timer.isActive());
        QCOMPARE(rig.timer.starts, startsBefore);
        QCOMPARE(int(rig.w->g.RetryCount), 0);
    }
};

QTEST_GUILESS_MAIN(TstLinkAfterLineLoss)
#include "tst_link_after_line_loss.moc"
