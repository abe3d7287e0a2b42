// Receiving replies, deciding when they are complete, retrying silence.
#include <QtTest>

#include <algorithm>

#include "support/Rig.h"
#include "support/TestText.h"

using namespace dervix;
using namespace dervix::test;

namespace {
const std::string kNotResponding =
    "Dervantix is not responding!\r\r1. Check that dervantix is connected\r2. Check that dervantix is powered\r"
    "3. Check module address is set correctly\r4. Check that the correct serial port is selected";

// A started program with logging on, waiting for the reply to a STATUS request.
void AwaitStatus(Rig& rig) {
    rig.startAndAnswerCheck();
    rig.w->g.LogEnabled = 1;
    rig.logFile.lines.clear();
    rig.w->txtDVXScmd.setText("STATUS");
}
}  // namespace

class InterpreterTest : public QObject {
    Q_OBJECT
private slots:
    void replyInPieces();
    void completeReplyRules_data();
    void completeReplyRules();
    void checkWithUpperGSendsSplitCode();
    void checkWithLowerGAsksRetryOrCancel();
    void cancelEndsTheProgram();
    void silentModuleIsRetriedFifteenTimes();
    void silentCheckBringsNotRespondingMessage();
    void whileTimeoutBoxIsOpen_data();
    void whileTimeoutBoxIsOpen();
    void replyResetsRetryCount();
    void strayNoResponseWhileIdleIsFirstRetry();
    void lineErrorDuringReply();
    void ctsChangeIsOnlyLogged();
    void unknownEventIsLogged();
    void emptyNotificationDoesNothing();
    void streamWithoutLineEndStaysBounded();
    void filterAndStrip();
};

void InterpreterTest::replyInPieces() {
    Rig rig;
    AwaitStatus(rig);
    rig.serial.deliver("S");
    rig.serial.deliver("1");
    QVERIFY(rig.timer.active);
    rig.serial.deliver("\r\n");
    QVERIFY(!rig.timer.active);
    QVERIFY(rig.w->DervixResp.text().empty());
    QCOMPARE(rig.w->g.LinkState, kReady);
    std::vector<std::string> receive;
    for (const auto& line : rig.logFile.lines)
        if (line.find("Receive - ") != std::string::npos) receive.push_back(line.substr(line.find("Receive - ")));
    QCOMPARE(receive.size(), 3u);
    QCOMPARE(Q(receive[0]), QByteArray("Receive - RSP=[S] ERR=[] EVN=[]\r\n"));
    QCOMPARE(Q(receive[1]), QByteArray("Receive - RSP=[S1] ERR=[] EVN=[]\r\n"));
    QCOMPARE(Q(receive[2]), QByteArray("Receive - RSP=[] ERR=[] EVN=[]\r\n"));
    QCOMPARE(CountContaining(rig.logFile.lines, "Response String = [S1]"), 1);
}

void InterpreterTest::completeReplyRules_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("complete");
    QTest::newRow("CR LF") << QByteArray("G1READY\r\n") << true;
    QTest::newRow("CR then 254") << QByteArray("G1READY\r\xFE") << true;
    QTest::newRow("CR LF then 15") << QByteArray("G1READY\r\n\x0F") << true;
    QTest::newRow("CR LF then 225") << QByteArray("G1READY\r\n\xE1") << true;
    QTest::newRow("LF CR") << QByteArray("G1READY\n\r") << false;
    QTest::newRow("CR only") << QByteArray("G1READY\r") << false;
    QTest::newRow("LF only") << QByteArray("\n") << false;
}

void InterpreterTest::completeReplyRules() {
    QFETCH(QByteArray, reply);
    QFETCH(bool, complete);
    Rig rig;
    AwaitStatus(rig);
    rig.serial.deliver(Bytes(reply));
    QCOMPARE(rig.w->DervixResp.text().empty(), complete);
    QCOMPARE(rig.timer.active, !complete);
    QCOMPARE(rig.w->g.LinkState, complete ? kReady : kWaiting);
}

void InterpreterTest::checkWithUpperGSendsSplitCode() {
    Rig rig;
    rig.configure();
    rig.profile.write("Dervix", "SplitCode", "7");
    rig.w->Form_Load();
    QCOMPARE(rig.serial.frames.size(), 1u);
    rig.serial.deliver("G1 SN 40213\r\n");
    QCOMPARE(rig.serial.frames.size(), 2u);
    QCOMPARE(Q(rig.lastFrame()), QByteArray("G1F7\r\n"));
    QVERIFY(rig.dialogs.boxes.empty());
}

void InterpreterTest::checkWithLowerGAsksRetryOrCancel() {
    Rig rig;
    rig.startAndAnswerCheck();
    const auto frames = rig.serial.frames.size();
    rig.w->txtDVXScmd.setText("CHECK");
    rig.serial.deliver("g1\r\n");
    QCOMPARE(rig.dialogs.boxes.size(), 1u);
    QCOMPARE(Q(rig.dialogs.boxes[0].prompt), Q(kNotResponding));
    QCOMPARE(rig.dialogs.boxes[0].flags, MsgBox::RetryCancel);
    QCOMPARE(rig.serial.frames.size(), frames + 1);  // no split code follows
}

void InterpreterTest::cancelEndsTheProgram() {
    Rig rig;
    rig.startAndAnswerCheck();
    rig.w->txtDVXScmd.setText("CHECK");
    rig.dialogs.answers.push_back([](const ShownBox&) { return MsgBox::ResultCancel; });
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, rig.serial.deliver("g1\r\n"));
}

void InterpreterTest::silentModuleIsRetriedFifteenTimes() {
    Rig rig;
    AwaitStatus(rig);
    const auto before = rig.serial.frames.size();
    for (int i = 0; i < 15; ++i) {
        rig.timer.fire();
        QCOMPARE(rig.w->g.RetryCount, static_cast<std::uint8_t>(i + 1));
    }
    QCOMPARE(rig.serial.frames.size(), before + 15);
    QVERIFY(rig.dialogs.boxes.empty());
    rig.timer.fire();
    QCOMPARE(rig.serial.frames.size(), before + 15);  // 16 frames in all
    QCOMPARE(rig.dialogs.boxes.size(), 1u);
    QCOMPARE(Q(rig.dialogs.boxes[0].prompt), QByteArray("STATUS Timeout after  15 retries"));
    QCOMPARE(rig.dialogs.boxes[0].flags, MsgBox::Information);
    QCOMPARE(rig.profile.get("ErrorStatus"), std::string("STATUS"));
    QCOMPARE(rig.w->g.RetryCount, static_cast<std::uint8_t>(0));
    QCOMPARE(rig.w->g.LinkState, kReady);
    QVERIFY(rig.w->DervixResp.text().empty());
    QVERIFY(!rig.timer.active);
}

void InterpreterTest::silentCheckBringsNotRespondingMessage() {
    Rig rig;
    rig.configure();
    rig.w->Form_Load();
    rig.w->g.LogEnabled = 1;
    for (int i = 0; i < 16; ++i) rig.timer.fire();
    QCOMPARE(rig.serial.frames.size(), 16u);
    QCOMPARE(rig.dialogs.boxes.size(), 2u);
    QCOMPARE(Q(rig.dialogs.boxes[0].prompt), QByteArray("CHECK Timeout after  15 retries"));
    QCOMPARE(Q(rig.dialogs.boxes[1].prompt), Q(kNotResponding));
    QCOMPARE(rig.profile.get("ErrorStatus"), std::string("CHECK"));
    QCOMPARE(CountContaining(rig.logFile.lines, "Response String = [NO RESPONSE]"), 1);
    // After the nested handling the outer one goes on with the emptied slot.
    QCOMPARE(CountContaining(rig.logFile.lines, "Response String Original = []"), 1);
    QVERIFY(rig.w->DervixResp.text().empty());
}

// While the time-out box of STATUS is open, a client of the link places
// CHECK: what follows the box is decided for CHECK, the request now awaited.
// Or the adapter is pulled: its line error is the silence already being
// told, not a second give-up in a box on top of the first.
void InterpreterTest::whileTimeoutBoxIsOpen_data() {
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<int>("boxes");
    QTest::newRow("CHECK placed through the link") << "CHECK" << 2;
    QTest::newRow("adapter pulled") << "pulled" << 1;
    QTest::newRow("stray byte, then a line error") << "stray" << 1;
}

void InterpreterTest::whileTimeoutBoxIsOpen() {
    QFETCH(QString, meanwhile);
    QFETCH(int, boxes);
    Rig rig;
    AwaitStatus(rig);
    rig.dialogs.answers.push_back([&](const ShownBox&) {
        if (meanwhile == "CHECK") {
            rig.w->txtDVXScmd.setText("CHECK");
        } else if (meanwhile == "stray") {
            rig.serial.deliver("x");
            rig.serial.raise(CommEvent::Frame);
        } else {
            rig.serial.close();
            rig.serial.raise(CommEvent::Dcb);
        }
        return MsgBox::ResultOk;
    });
    for (int i = 0; i < 16; ++i) rig.timer.fire();
    QCOMPARE(rig.profile.get("ErrorStatus"), std::string("STATUS"));
    QCOMPARE(int(std::count(rig.profile.writes.begin(), rig.profile.writes.end(), "ErrorStatus=STATUS")), 1);
    QCOMPARE(rig.dialogs.boxes.size(), std::size_t(boxes));
    QCOMPARE(Q(rig.dialogs.boxes[0].prompt), QByteArray("STATUS Timeout after  15 retries"));
    if (boxes == 2) QCOMPARE(Q(rig.dialogs.boxes[1].prompt), Q(kNotResponding));
}

void InterpreterTest::replyResetsRetryCount() {
    Rig rig;
    AwaitStatus(rig);
    rig.timer.fire();
    rig.timer.fire();
    QCOMPARE(rig.w->g.RetryCount, static_cast<std::uint8_t>(2));
    rig.serial.deliver("G1READY\r\n");
    QCOMPARE(rig.w->g.RetryCount, static_cast<std::uint8_t>(0));
    QCOMPARE(rig.w->g.LinkState, kReady);
}

void InterpreterTest::strayNoResponseWhileIdleIsFirstRetry() {
    Rig rig;
    rig.startAndAnswerCheck();
    rig.serial.deliver("G1\r\n");  // the split code's reply
    const auto frames = rig.serial.frames.size();
    rig.serial.raise(CommEvent::Overrun);
    QCOMPARE(rig.serial.frames.size(), frames + 1);
    QCOMPARE(Q(rig.lastFrame()), QByteArray("G1F19\r\n"));
    QCOMPARE(rig.w->g.RetryCount, static_cast<std::uint8_t>(1));
    QCOMPARE(rig.dialogs.beeps, 1);
}

void InterpreterTest::lineErrorDuringReply() {
    Rig rig;
    AwaitStatus(rig);
    rig.serial.deliver("G1");
    rig.serial.raise(CommEvent::Frame);
    QCOMPARE(CountContaining(rig.logFile.lines, "Receive - RSP=[G1] ERR=[Framing Error] EVN=[]"), 1);
    QCOMPARE(rig.dialogs.beeps, 1);
    QCOMPARE(Q(rig.lastFrame()), QByteArray("G1S\r\n"));  // re-sent
    QCOMPARE(rig.w->g.RetryCount, static_cast<std::uint8_t>(1));
    // The retry's lines come after the error's own log line.
    std::size_t errorAt = 0, retryAt = 0;
    for (std::size_t i = 0; i < rig.logFile.lines.size(); ++i) {
        if (rig.logFile.lines[i].find("Framing Error") != std::string::npos) errorAt = i;
        if (rig.logFile.lines[i].find("DervixResp_Change NO RESPONSE") != std::string::npos) retryAt = i;
    }
    QVERIFY(retryAt > errorAt);
}

void InterpreterTest::ctsChangeIsOnlyLogged() {
    Rig rig;
    AwaitStatus(rig);
    rig.serial.deliver("G1");
    const auto frames = rig.serial.frames.size();
    rig.serial.raise(CommEvent::CtsChange);
    QCOMPARE(rig.w->DervixResp.text(), std::string("G1"));
    QCOMPARE(rig.serial.frames.size(), frames);
    QCOMPARE(CountContaining(rig.logFile.lines, "Receive - RSP=[G1] ERR=[] EVN=[Change in CTS Detected]"), 1);
    QCOMPARE(rig.dialogs.beeps, 0);
}

void InterpreterTest::unknownEventIsLogged() {
    Rig rig;
    AwaitStatus(rig);
    rig.serial.raise(CommEvent::Ring);
    QCOMPARE(CountContaining(rig.logFile.lines, "MScomm_OnComm - Unknown error or event :  6\r\n"), 1);
    QCOMPARE(CountContaining(rig.logFile.lines, "Receive - RSP=[] ERR=[] EVN=[]"), 1);
    QCOMPARE(rig.w->g.LinkState, kWaiting);
}

void InterpreterTest::emptyNotificationDoesNothing() {
    Rig rig;
    AwaitStatus(rig);
    const auto lines = rig.logFile.lines.size();
    rig.w->DervixResp.setText("");
    QCOMPARE(rig.logFile.lines.size(), lines);
    QCOMPARE(rig.w->g.LinkState, kWaiting);
}

void InterpreterTest::streamWithoutLineEndStaysBounded() {
    Rig rig;
    AwaitStatus(rig);
    for (int i = 0; i < 100; ++i) rig.serial.deliver(std::string(1000, 'x'));
    QVERIFY(rig.w->DervixResp.text().size() <= DeviceLink::kMaxPendingReply);
    QVERIFY(CountContaining(rig.logFile.lines, " dropped) +") > 0);
    // The tail is kept, so a reply that finally ends still completes.
    rig.serial.deliver("\r\n");
    QVERIFY(rig.w->DervixResp.text().empty());
    QCOMPARE(rig.w->g.LinkState, kReady);
}

void InterpreterTest::filterAndStrip() {
    QCOMPARE(Q(DeviceLink::FilterReplyBytes("a\xFE" "b\x0F" "c\xE1")), QByteArray("a\nbc"));
    QCOMPARE(Q(DeviceLink::StripControlChars("\x01G\x1A" "1\x1B \r\n")), QByteArray("G1\x1B "));
}

QTEST_GUILESS_MAIN(InterpreterTest)
#include "tst_interpreter.moc"
