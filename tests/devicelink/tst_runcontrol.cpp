// The Start/Stop button and the run accounting of valve rotations.
#include <QtTest>

#include "shell/DateTime.h"
#include "shell/Numbers.h"
#include "support/Rig.h"
#include "support/TestText.h"

using namespace dervix;
using namespace dervix::test;
using namespace std::chrono_literals;

namespace {
void Started(Rig& rig, float valveFreq = 2.0f) {
    rig.startAndAnswerCheck();
    rig.serial.deliver("G1\r\n");  // the split code's reply
    rig.w->g.CurValveFreq = valveFreq;
}
void FailAll(Rig& rig) {
    for (int i = 0; i < 16; ++i) rig.timer.fire();
}
}  // namespace

class RunControlTest : public QObject {
    Q_OBJECT
private slots:
    void clickStartSendsAndDisables();
    void startReplyRuns();
    void stopAfterNinetySecondsAtTwoHertz();
    void stopWithoutRunningCountsNothing();
    void failedStartStaysStopped();
    void failedStopStaysRunning();
    void testReplyStopsWithoutStop();
    void clockSetBackNeverSubtracts();
    void unreadableRunningIsDropped();
    void runningReadsBackAcrossZoneChange();
    void rotationsAddToStoredTotal();
};

void RunControlTest::clickStartSendsAndDisables() {
    Rig rig;
    Started(rig);
    const auto frames = rig.serial.frames.size();
    rig.w->cmdStart.click();
    QCOMPARE(rig.serial.frames.size(), frames + 1);
    QCOMPARE(Q(rig.lastFrame()), QByteArray("G1C\r\n"));
    QVERIFY(!rig.w->cmdStart.enabled());
    QVERIFY(!rig.w->cmdSetSplit.enabled());
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Start"));
    rig.w->cmdStart.click();  // disabled: ignored
    QCOMPARE(rig.serial.frames.size(), frames + 1);
}

void RunControlTest::startReplyRuns() {
    Rig rig;
    Started(rig);
    rig.clock.offsetSeconds = 3600;
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Stop"));
    QVERIFY(rig.w->cmdStart.enabled());
    QVERIFY(!rig.w->cmdSetSplit.enabled());
    const std::string running = rig.profile.get("Running");
    QCOMPARE(Q(running), Q(FormatIso8601(rig.clock.toLocal(rig.clock.now()))));
    QVERIFY(running.size() == 25 && running.substr(19) == "+01:00");
}

void RunControlTest::stopAfterNinetySecondsAtTwoHertz() {
    Rig rig;
    Started(rig, 2.0f);
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    rig.clock.advance(90s);
    rig.w->cmdStart.click();
    QCOMPARE(Q(rig.lastFrame()), QByteArray("G1D\r\n"));
    QVERIFY(!rig.w->cmdStart.enabled());
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Stop"));
    rig.serial.deliver("G1\r\n");
    QCOMPARE(rig.profile.get("Rotations"), std::string("180"));  // stored as " 180", read trimmed
    QVERIFY(rig.profile.content.find("Rotations= 180") != std::string::npos);
    QCOMPARE(rig.w->g.ValveRotations, 180.0);
    QCOMPARE(rig.profile.get("Running"), std::string());
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Start"));
    QVERIFY(rig.w->cmdStart.enabled());
    QVERIFY(rig.w->cmdSetSplit.enabled());
}

void RunControlTest::stopWithoutRunningCountsNothing() {
    Rig rig;
    Started(rig);
    rig.profile.write("Dervix", "Rotations", " 42");
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    rig.profile.write("Dervix", "Running", "");
    rig.clock.advance(100s);
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    QCOMPARE(rig.profile.get("Rotations"), std::string("42"));
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Start"));
    QVERIFY(rig.w->cmdSetSplit.enabled());
}

void RunControlTest::failedStartStaysStopped() {
    Rig rig;
    Started(rig);
    rig.w->cmdStart.click();
    FailAll(rig);
    QCOMPARE(Q(rig.dialogs.boxes.at(0).prompt), QByteArray("START Timeout after  15 retries"));
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Start"));
    QVERIFY(rig.w->cmdStart.enabled());
    QVERIFY(!rig.w->cmdSetSplit.enabled());
    rig.w->cmdStart.click();
    QCOMPARE(Q(rig.lastFrame()), QByteArray("G1C\r\n"));
}

void RunControlTest::failedStopStaysRunning() {
    Rig rig;
    Started(rig);
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    rig.w->cmdStart.click();
    FailAll(rig);
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Stop"));
    QVERIFY(rig.w->cmdStart.enabled());
    QVERIFY(!rig.profile.get("Running").empty());
    rig.w->cmdStart.click();
    QCOMPARE(Q(rig.lastFrame()), QByteArray("G1D\r\n"));
}

void RunControlTest::testReplyStopsWithoutStop() {
    Rig rig;
    Started(rig);
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    rig.w->txtDVXScmd.setText("TEST");
    rig.serial.deliver("G1\r\n");
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Start"));
    QVERIFY(rig.w->cmdStart.enabled());
    for (const auto& frame : rig.serial.frames) QVERIFY(frame != "G1D\r\n");
    QVERIFY(!rig.profile.get("Running").empty());
}

void RunControlTest::clockSetBackNeverSubtracts() {
    Rig rig;
    Started(rig);
    rig.profile.write("Dervix", "Rotations", " 1000");
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    rig.clock.advance(-3600s);
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    QCOMPARE(rig.profile.get("Rotations"), std::string("1000"));
    QCOMPARE(rig.profile.get("Running"), std::string());
}

void RunControlTest::unreadableRunningIsDropped() {
    Rig rig;
    Started(rig);
    rig.w->g.LogEnabled = 1;
    rig.profile.write("Dervix", "Rotations", " 5");
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    rig.profile.write("Dervix", "Running", "12/7/2026 8:21:23 PM");
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    QCOMPARE(rig.profile.get("Rotations"), std::string("5"));
    QCOMPARE(rig.profile.get("Running"), std::string());
    QCOMPARE(CountContaining(rig.logFile.lines, "12/7/2026 8:21:23 PM"), 1);
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Start"));
}

void RunControlTest::runningReadsBackAcrossZoneChange() {
    Rig rig;
    Started(rig, 1.0f);
    rig.clock.offsetSeconds = 7200;  // summer time
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    rig.clock.offsetSeconds = 3600;  // clocks went back an hour during the run
    rig.clock.advance(600s);
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    QCOMPARE(rig.profile.get("Rotations"), std::string("600"));
}

void RunControlTest::rotationsAddToStoredTotal() {
    Rig rig;
    Started(rig, 1.11111f);
    rig.profile.write("Dervix", "Rotations", " 1234.5");
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    rig.clock.advance(10s);
    rig.clock.advance(999ms);  // whole seconds only
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    const double expected = 1234.5 + static_cast<double>(1.11111f) * 10;
    QCOMPARE(rig.w->g.ValveRotations, expected);
    QCOMPARE(Q(rig.profile.get("Rotations")), Q(SignedForm(expected).substr(1)));
}

QTEST_GUILESS_MAIN(RunControlTest)
#include "tst_runcontrol.moc"
