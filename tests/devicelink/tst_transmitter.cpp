// Frames on the wire, the request vocabulary and send failures.
#include <QtTest>

#include "support/Rig.h"
#include "support/TestText.h"

using namespace dervix;
using namespace dervix::test;

class TransmitterTest : public QObject {
    Q_OBJECT
private slots:
    void frameCarriesAddressInHex_data();
    void frameCarriesAddressInHex();
    void vocabulary_data();
    void vocabulary();
    void requestIsCleanedAndUpperCased();
    void splitCodeFrameKeepsLinkState();
    void killEndsWithoutFrame();
    void loadSendsStoredSplitCode();
    void closedPortReportsAndSendsNothing();
    void slotsAreEmptiedAroundAFrame();
    void sameRequestPlacedTwiceIsSentTwice();
    void heldBehindTheRunRequest_data();
    void heldBehindTheRunRequest();
    void killIsNeverHeld();
    void requestInTheTimeOutBoxIsSent();
};

void TransmitterTest::frameCarriesAddressInHex_data() {
    QTest::addColumn<QString>("moduleId");
    QTest::addColumn<QByteArray>("checkFrame");
    QTest::newRow("0") << "0" << QByteArray("G0%\r\n");
    QTest::newRow("1") << "1" << QByteArray("\x47\x31\x25\x0D\x0A");
    QTest::newRow("10") << "10" << QByteArray("GA%\r\n");
    QTest::newRow("15") << "15" << QByteArray("GF%\r\n");
    QTest::newRow("16") << "16" << QByteArray("G10%\r\n");
    QTest::newRow("255") << "255" << QByteArray("GFF%\r\n");
}

void TransmitterTest::frameCarriesAddressInHex() {
    QFETCH(QString, moduleId);
    QFETCH(QByteArray, checkFrame);
    Rig rig;
    rig.configure(moduleId.toStdString());
    rig.w->Form_Load();
    QCOMPARE(rig.serial.frames.size(), 1u);
    QCOMPARE(Q(rig.serial.frames[0]), checkFrame);
}

void TransmitterTest::vocabulary_data() {
    QTest::addColumn<QString>("request");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("interval");
    QTest::addColumn<bool>("waiting");
    QTest::newRow("START") << "START" << QByteArray("G1C\r\n") << 190 << true;
    QTest::newRow("STOP") << "STOP" << QByteArray("G1D\r\n") << 190 << true;
    QTest::newRow("STATUS") << "STATUS" << QByteArray("G1S\r\n") << 190 << true;
    QTest::newRow("MODEL") << "MODEL" << QByteArray("G1T\r\n") << 190 << true;
    QTest::newRow("ID") << "ID" << QByteArray("G1%\r\n") << 190 << true;
    QTest::newRow("CHECK") << "CHECK" << QByteArray("G1%\r\n") << 190 << true;
    QTest::newRow("TEST") << "TEST" << QByteArray("G1B\r\n") << 6000 << true;
    QTest::newRow("HOME") << "HOME" << QByteArray("G1H\r\n") << 1500 << true;
    QTest::newRow("split code 12") << " 12" << QByteArray("\x47\x31\x46\x31\x32\x0D\x0A") << 190 << false;
    QTest::newRow("unknown word") << "HELLO" << QByteArray("G1FHELLO\r\n") << 190 << false;
    // e acute has a capital; the division sign, sharp s and y diaeresis have none.
    QTest::newRow("Latin-1 lower case") << QString::fromLatin1("f\xe9\xf7\xdf\xff")
                                        << QByteArray("G1FF\xc9\xf7\xdf\xff\r\n") << 190 << false;
}

void TransmitterTest::vocabulary() {
    QFETCH(QString, request);
    QFETCH(QByteArray, frame);
    QFETCH(int, interval);
    QFETCH(bool, waiting);
    Rig rig;
    rig.startAndAnswerCheck();
    QCOMPARE(rig.w->g.LinkState, kReady);
    rig.w->txtDVXScmd.setText(Bytes(request.toLatin1()));  // the module's 8-bit code
    QCOMPARE(Q(rig.lastFrame()), frame);
    QCOMPARE(rig.timer.intervalMs, interval);
    QVERIFY(rig.timer.active);
    QCOMPARE(rig.w->g.LinkState, waiting ? kWaiting : kReady);
}

void TransmitterTest::requestIsCleanedAndUpperCased() {
    Rig rig;
    rig.startAndAnswerCheck();
    rig.w->g.LogEnabled = 1;
    rig.w->txtDVXScmd.setText("st\tart\n");
    QCOMPARE(Q(rig.lastFrame()), QByteArray("G1C\r\n"));
    QCOMPARE(rig.w->g.CurrentCommand, std::string("START"));
    // A client's line break stays on the request's own log line.
    QCOMPARE(CountContaining(rig.logFile.lines, "Send Command - [st\\x09art\\n]"), 1);
}

void TransmitterTest::splitCodeFrameKeepsLinkState() {
    Rig rig;
    rig.startAndAnswerCheck();
    rig.w->txtDVXScmd.setText("STATUS");
    QCOMPARE(rig.w->g.LinkState, kWaiting);
    rig.w->txtDVXScmd.setText(" 7");
    QCOMPARE(Q(rig.lastFrame()), QByteArray("G1F7\r\n"));
    QCOMPARE(rig.w->g.CurrentCommand, std::string(" 7"));
    QCOMPARE(rig.w->g.LinkState, kWaiting);
}

void TransmitterTest::killEndsWithoutFrame() {
    Rig rig;
    rig.startAndAnswerCheck();
    const auto frames = rig.serial.frames.size();
    const int discards = rig.serial.discards;
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, rig.w->txtDVXScmd.setText("kill"));
    QCOMPARE(rig.serial.frames.size(), frames);
    QCOMPARE(rig.serial.discards, discards + 1);
    QCOMPARE(rig.process.terminations, 1);
}

void TransmitterTest::loadSendsStoredSplitCode() {
    Rig rig;
    rig.startAndAnswerCheck();
    rig.profile.write("Dervix", "SplitCode", "12");
    rig.w->txtDVXScmd.setText("LOAD");
    QCOMPARE(Q(rig.lastFrame()), QByteArray("G1F12\r\n"));
    QCOMPARE(rig.w->g.CurrentCommand, std::string(" 12"));
    QCOMPARE(rig.w->g.LinkState, kReady);
}

void TransmitterTest::closedPortReportsAndSendsNothing() {
    Rig rig;
    rig.startAndAnswerCheck();
    rig.serial.close();
    rig.timer.active = false;
    rig.timer.starts = 0;
    const auto frames = rig.serial.frames.size();
    rig.w->cmdStart.click();
    QCOMPARE(rig.serial.frames.size(), frames);
    QCOMPARE(rig.timer.starts, 0);
    QVERIFY(!rig.dialogs.boxes.empty());
    const ShownBox& box = rig.dialogs.boxes.back();
    QCOMPARE(box.flags, MsgBox::Critical);
    QCOMPARE(Q(box.prompt), QByteArray("Error occurred while sending a command to the Corvane Dervantix\r"
                                       "Operation valid only when the port is open\r"
                                       "Either the serial port needs configuration or it is possible that the\r"
                                       "Corvane Dervantix needs to be power-cycled."));
    QCOMPARE(rig.w->txtDVXScmd.text(), std::string("START"));
    // The button does not stay disabled for ever: nothing will answer.
    QVERIFY(rig.w->cmdStart.enabled());
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Start"));
}

void TransmitterTest::slotsAreEmptiedAroundAFrame() {
    Rig rig;
    rig.startAndAnswerCheck();
    rig.serial.pending = "stale";
    rig.w->DervixResp.setText("G1partial");
    rig.w->txtDVXScmd.setText("STATUS");
    QVERIFY(rig.w->txtDVXScmd.text().empty());
    QVERIFY(rig.w->DervixResp.text().empty());
    QVERIFY(rig.serial.pending.empty());
}

void TransmitterTest::sameRequestPlacedTwiceIsSentTwice() {
    Rig rig;
    rig.startAndAnswerCheck();
    const auto frames = rig.serial.frames.size();
    rig.w->txtDVXScmd.setText("STATUS");
    rig.w->txtDVXScmd.setText("STATUS");
    QCOMPARE(rig.serial.frames.size(), frames + 2);
}

void TransmitterTest::heldBehindTheRunRequest_data() {
    QTest::addColumn<QString>("run");
    QTest::addColumn<QStringList>("placed");  // through the link while the run request waits
    QTest::addColumn<QString>("end");         // how the wait ends
    QTest::addColumn<QList<QByteArray>>("after");  // frames that follow, but for the run request's own
    QTest::newRow("status behind START, after its reply") << "START" << QStringList{"STATUS"} << "reply"
                                                          << QList<QByteArray>{"G1S\r\n"};
    QTest::newRow("status behind STOP, after its reply") << "STOP" << QStringList{"STATUS"} << "reply"
                                                         << QList<QByteArray>{"G1S\r\n"};
    QTest::newRow("the latest of two picks") << "START" << QStringList{" 5", " 7"} << "reply"
                                             << QList<QByteArray>{"G1F7\r\n"};
    QTest::newRow("a pick, then the About box's MODEL") << "STOP" << QStringList{" 9", "MODEL"} << "reply"
                                                        << QList<QByteArray>{"G1T\r\n"};
    // Sent after the time-out, a silent module would time it out too, with a
    // second box; nor may the next reply, to another request, bring it.
    QTest::newRow("a pick, dropped when START times out") << "START" << QStringList{" 5"} << "time-out"
                                                          << QList<QByteArray>{"G1S\r\n"};
    QTest::newRow("MODEL, dropped when STOP times out") << "STOP" << QStringList{"MODEL"} << "time-out"
                                                         << QList<QByteArray>{"G1S\r\n"};
    // Nothing left the port and nothing will answer.
    QTest::newRow("a pick, dropped when the send fails") << "START" << QStringList{" 5"} << "send failure"
                                                         << QList<QByteArray>{"G1S\r\n"};
}

// A request placed while START or STOP awaits its reply would take its
// place: the valve's reply would be taken for the other's, and Start/Stop
// would never learn whether the valve runs.
void TransmitterTest::heldBehindTheRunRequest() {
    QFETCH(QString, run);
    QFETCH(QStringList, placed);
    QFETCH(QString, end);
    QFETCH(QList<QByteArray>, after);
    Rig rig;
    rig.startAndAnswerCheck();
    rig.serial.deliver("G1\r\n");  // the split code's
    rig.w->g.CurValveFreq = 2.0f;
    if (run == "STOP") {
        rig.w->cmdStart.click();
        rig.serial.deliver("G1\r\n");
        QCOMPARE(rig.w->cmdStart.caption(), std::string("&Stop"));
        rig.clock.advance(std::chrono::seconds(30));
    }
    const std::size_t first = rig.serial.frames.size();
    const std::string runFrame = run == "START" ? "G1C\r\n" : "G1D\r\n";
    rig.w->cmdStart.click();
    for (const QString& request : placed) rig.w->txtDVXScmd.setText(request.toStdString());
    QCOMPARE(rig.serial.frames.size(), first + 1);  // held, not sent
    QCOMPARE(rig.w->g.CurrentCommand, run.toStdString());

    if (end == "reply") {
        rig.serial.deliver("G1\r\n");
        // The button tells the valve's true state, and the run is counted.
        QVERIFY(rig.w->cmdStart.enabled());
        QCOMPARE(rig.w->cmdStart.caption(), std::string(run == "START" ? "&Stop" : "&Start"));
        QCOMPARE(rig.profile.get("Running").empty(), run == "STOP");
        if (run == "STOP") QCOMPARE(rig.profile.get("Rotations"), std::string("60"));
    } else if (end == "time-out") {
        for (int i = 0; i < 16; ++i) rig.timer.fire();
        QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
        QCOMPARE(Q(rig.dialogs.boxes[0].prompt), Q(run.toStdString() + " Timeout after  15 retries"));
        QCOMPARE(rig.profile.get("ErrorStatus"), run.toStdString());
        QVERIFY(!rig.timer.isActive());
    } else {
        rig.serial.close();
        rig.timer.fire();  // the re-send cannot leave
        QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
        rig.serial.opened = true;
    }
    if (end != "reply") {
        rig.w->txtDVXScmd.setText("STATUS");
        rig.serial.deliver("G1READY\r\n");
    }
    QList<QByteArray> sent;
    for (std::size_t i = first; i < rig.serial.frames.size(); ++i)
        if (rig.serial.frames[i] != runFrame) sent << Q(rig.serial.frames[i]);
    QCOMPARE(sent, after);
}

void TransmitterTest::killIsNeverHeld() {
    Rig rig;
    rig.startAndAnswerCheck();
    rig.w->cmdStart.click();
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, rig.w->txtDVXScmd.setText("KILL"));
    QCOMPARE(rig.process.terminations, 1);
}

// Once the time-out box is open the wait is over: a client's request
// placed meanwhile goes out at once, as it would a moment later.
void TransmitterTest::requestInTheTimeOutBoxIsSent() {
    Rig rig;
    rig.startAndAnswerCheck();
    rig.w->cmdStart.click();
    rig.dialogs.answers.push_back([&rig](const ShownBox&) {
        rig.w->txtDVXScmd.setText("STATUS");
        return MsgBox::ResultOk;
    });
    for (int i = 0; i < 16; ++i) rig.timer.fire();
    QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(Q(rig.lastFrame()), QByteArray("G1S\r\n"));
}

QTEST_GUILESS_MAIN(TransmitterTest)
#include "tst_transmitter.moc"
