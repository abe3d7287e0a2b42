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

QTEST_GUILESS_MAIN(TransmitterTest)
#include "tst_transmitter.moc"
