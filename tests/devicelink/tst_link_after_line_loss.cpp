// The line lost while a request is outstanding: the re-send cannot leave,
// and nobody may be left waiting for a reply to it.
#include <QtTest>

#include "support/Rig.h"

using dervix::CommEvent::Dcb;
using dervix::kReady;
using dervix::kWaiting;
using dervix::test::Rig;

namespace {
const std::string kSendFailureHead = "Error occurred while sending a command to the Corvane Dervantix\r";
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
    }
    void lineLostWhileWaiting() {
        QFETCH(QString, request);
        QFETCH(QString, frame);
        Rig rig;
        rig.startAndAnswerCheck();
        rig.w->txtDVXScmd.setText(request.toStdString());
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
        // Counted as the first re-send, which never left: nothing is outstanding.
        QCOMPARE(int(rig.w->g.RetryCount), 1);
        QCOMPARE(rig.w->g.LinkState, kReady);
        QCOMPARE(rig.w->txtDVXScmd.text(), request.toStdString());

        // The timer of the frame that did leave still runs out: one more
        // re-send that fails, and then all is quiet.
        QVERIFY(rig.timer.isActive());
        rig.timer.fire();
        QCOMPARE(rig.dialogs.boxes.size(), std::size_t(2));
        QCOMPARE(int(rig.w->g.RetryCount), 2);
        QCOMPARE(rig.w->g.LinkState, kReady);
        QVERIFY(!rig.timer.isActive());
        QCOMPARE(rig.serial.frames.size(), frames);
    }

    // An operator's request on a closed port: the same, and the button that
    // sent it comes back.
    void startOnAClosedPort() {
        Rig rig;
        rig.startAndAnswerCheck();
        rig.serial.close();
        const bool timerBefore = rig.timer.isActive();
        const int startsBefore = rig.timer.starts;
        rig.w->cmdStart.click();
        QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
        QCOMPARE(rig.w->g.LinkState, kReady);
        QVERIFY(rig.w->cmdStart.enabled());
        QCOMPARE(rig.w->cmdStart.caption(), std::string("&Start"));
        QCOMPARE(rig.timer.isActive(), timerBefore);
        QCOMPARE(rig.timer.starts, startsBefore);
    }
};

QTEST_GUILESS_MAIN(TstLinkAfterLineLoss)
#include "tst_link_after_line_loss.moc"
