// Applying a split with Set or the grid's pick gesture.
#include <QtTest>

#include "support/Rig.h"

using namespace dervix;
using dervix::test::Rig;

namespace {

const char* const kRunningMessage = "Cannot change split ratio while splitter is running!";

// Started with no saved split (row 4 green), CHECK answered, code 19 sent.
struct ApplyRig : Rig {
    ApplyRig() {
        startAndAnswerCheck();
        profile.writes.clear();
        logFile.lines.clear();
    }
    void choose(int row) { w->vaSplit.operatorSelects(2, row); }
    void startValve() {
        w->cmdStart.click();
        serial.deliver("G1\r\n");
    }
    std::vector<std::string> lastWrites(std::size_t n) const {
        if (profile.writes.size() < n) return profile.writes;
        return {profile.writes.end() - static_cast<std::ptrdiff_t>(n), profile.writes.end()};
    }
};

}  // namespace

class ApplySplitTest : public QObject {
    Q_OBJECT

private slots:
    void setOnRow_data();
    void setOnRow();
    void pickAppliesTheSameWay();
    void setTwiceSendsTwice();
    void setAfterTheFlowWasRefused();
    void pickWhileRunningIsRefused();
    void pickBeforeTheStartReplyIsAccepted();
    void setWhileRunningAfterAFlowEntry();
    void damagedRowChangesNothing();
};

void ApplySplitTest::setOnRow_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QString>("mult");
    QTest::addColumn<QString>("code");
    QTest::addColumn<float>("freq");
    QTest::newRow("row 4") << 4 << "G1F2\r\n" << "50.000" << "2" << 1.111f;
    QTest::newRow("row 20") << 20 << "G1F57\r\n" << "1666.667" << "57" << 0.455f;
    QTest::newRow("row 1, grid's frequency text") << 1 << "G1F3\r\n" << "25.000" << "3" << 2.222f;
    QTest::newRow("row 23") << 23 << "G1F55\r\n" << "3333.333" << "55" << 0.227f;
}

void ApplySplitTest::setOnRow() {
    QFETCH(int, row);
    QFETCH(QString, mult);
    QFETCH(QString, code);
    ApplyRig rig;
    rig.w->g.LogEnabled = 1;
    const std::size_t framesBefore = rig.serial.frames.size();
    rig.choose(row);
    rig.w->cmdSetSplit.click();

    QCOMPARE(rig.serial.frames.size(), framesBefore + 1);
    QTEST(QString::fromStdString(rig.lastFrame()), "frame");
    bool placed = false;  // the code request carries its leading blank
    for (const std::string& line : rig.logFile.lines)
        placed = placed || line.find("Send Command - [ " + code.toStdString() + "]") != std::string::npos;
    QVERIFY(placed);
    for (int r = 1; r <= 23; ++r)
        QVERIFY2((rig.w->vaSplit.backColor(r) == kPureGreen) == (r == row) &&
                     (r == row || rig.w->vaSplit.backColor(r) == kWhite),
                 qPrintable(QString("row %1").arg(r)));
    QCOMPARE(rig.w->vaSplit.activeRow(), row);
    QCOMPARE(rig.w->vaSplit.activeCol(), 1);
    QCOMPARE(rig.lastWrites(3), (std::vector<std::string>{"FlowRate=20", "SplitMult=" + mult.toStdString(),
                                                          "SplitCode=" + code.toStdString()}));
    QCOMPARE(rig.w->g.CurSplitMult, mult.toFloat());
    QCOMPARE(int(rig.w->g.CurSplitCode), code.toInt());
    QTEST(rig.w->g.CurValveFreq, "freq");
}

void ApplySplitTest::pickAppliesTheSameWay() {
    ApplyRig rig;
    rig.choose(9);
    rig.w->vaSplit.pick(3, 9);
    QVERIFY(rig.dialogs.boxes.empty());
    QCOMPARE(rig.lastFrame(), std::string("G1F15\r\n"));
    QVERIFY(rig.w->vaSplit.backColor(9) == kPureGreen);
    QCOMPARE(rig.profile.get("SplitCode"), std::string("15"));
    QCOMPARE(rig.profile.get("SplitMult"), std::string("166.667"));
    QCOMPARE(rig.w->g.CurValveFreq, 1.0f);
}

void ApplySplitTest::setTwiceSendsTwice() {
    ApplyRig rig;
    rig.choose(12);
    rig.w->cmdSetSplit.click();
    rig.w->cmdSetSplit.click();
    const std::size_t n = rig.serial.frames.size();
    QCOMPARE(rig.serial.frames[n - 1], std::string("G1F27\r\n"));
    QCOMPARE(rig.serial.frames[n - 2], std::string("G1F27\r\n"));
    QCOMPARE(rig.profile.writes,
             (std::vector<std::string>{"FlowRate=20", "SplitMult=266.667", "SplitCode=27", "FlowRate=20",
                                       "SplitMult=266.667", "SplitCode=27"}));
}

void ApplySplitTest::setAfterTheFlowWasRefused() {
    ApplyRig rig;
    rig.w->txtFlowRate.setText("101");
    QCOMPARE(rig.w->txtFlowRate.text(), std::string("0"));
    QVERIFY(rig.w->cmdSetSplit.enabled());
    rig.choose(2);
    rig.w->cmdSetSplit.click();
    QCOMPARE(rig.lastFrame(), std::string("G1F10\r\n"));
    QCOMPARE(rig.lastWrites(3),
             (std::vector<std::string>{"FlowRate=0", "SplitMult=33.333", "SplitCode=10"}));
}

void ApplySplitTest::pickWhileRunningIsRefused() {
    ApplyRig rig;
    rig.startValve();
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Stop"));
    const std::size_t frames = rig.serial.frames.size();
    const auto writes = rig.profile.writes;
    rig.choose(10);
    rig.w->vaSplit.pick(1, 10);

    QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(rig.dialogs.boxes[0].prompt, std::string(kRunningMessage));
    QCOMPARE(rig.dialogs.boxes[0].flags, 64);
    QCOMPARE(rig.dialogs.boxes[0].title, std::string("Dervix"));
    QCOMPARE(rig.serial.frames.size(), frames);
    QCOMPARE(rig.profile.writes, writes);
    QVERIFY(rig.w->vaSplit.backColor(4) == kPureGreen);
    QVERIFY(rig.w->vaSplit.backColor(10) == kWhite);
    QCOMPARE(int(rig.w->g.CurSplitCode), 19);
    QCOMPARE(rig.w->g.CurValveFreq, 1.11111f);
}

void ApplySplitTest::pickBeforeTheStartReplyIsAccepted() {
    ApplyRig rig;
    rig.w->cmdStart.click();
    QCOMPARE(rig.lastFrame(), std::string("G1C\r\n"));
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Start"));
    rig.choose(5);
    rig.w->vaSplit.pick(1, 5);
    QVERIFY(rig.dialogs.boxes.empty());
    QCOMPARE(int(rig.w->g.CurSplitCode), 8);
    // The code follows START's reply, which must not be taken for the
    // code's: Start/Stop ends in the valve's true state.
    QCOMPARE(rig.lastFrame(), std::string("G1C\r\n"));
    rig.serial.deliver("G1\r\n");
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Stop"));
    QVERIFY(rig.w->cmdStart.enabled());
    QCOMPARE(rig.lastFrame(), std::string("G1F8\r\n"));
}

void ApplySplitTest::setWhileRunningAfterAFlowEntry() {
    ApplyRig rig;
    rig.startValve();
    QVERIFY(!rig.w->cmdSetSplit.enabled());
    rig.choose(14);
    const std::size_t frames = rig.serial.frames.size();
    rig.w->cmdSetSplit.click();  // greyed out: nothing happens
    QCOMPARE(rig.serial.frames.size(), frames);
    rig.w->txtFlowRate.setText("10");
    QVERIFY(rig.w->cmdSetSplit.enabled());
    rig.w->cmdSetSplit.click();
    QVERIFY(rig.dialogs.boxes.empty());
    QCOMPARE(rig.lastFrame(), std::string("G1F26\r\n"));
    QCOMPARE(rig.lastWrites(3), (std::vector<std::string>{"FlowRate=10", "SplitMult=378.788", "SplitCode=26"}));
}

void ApplySplitTest::damagedRowChangesNothing() {
    ApplyRig rig;
    rig.w->g.LogEnabled = 1;
    rig.w->vaSplit.setText(4, 6, "300");
    rig.choose(6);
    const std::size_t frames = rig.serial.frames.size();
    rig.w->cmdSetSplit.click();
    QCOMPARE(rig.serial.frames.size(), frames);
    QVERIFY(rig.profile.writes.empty());
    QVERIFY(rig.w->vaSplit.backColor(4) == kPureGreen);
    QCOMPARE(int(rig.w->g.CurSplitCode), 19);
    QCOMPARE(rig.logFile.lines.size(), std::size_t(1));
    QVERIFY(rig.logFile.lines[0].find("Set - row 6 holds no split setting") != std::string::npos);
}

QTEST_GUILESS_MAIN(ApplySplitTest)
#include "tst_applysplit.moc"
