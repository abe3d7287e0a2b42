// The flow rate field: its key filter, the ratios it gives and their marks.
#include <QtTest>

#include "support/Rig.h"

using namespace dervix;
using dervix::test::Rig;

namespace {

// The grid laid out, nothing restored yet.
struct FlowRig : Rig {
    FlowRig() { w->split.InitSplitTable(); }
    std::string ratio(int row) const { return w->vaSplit.text(1, row); }
    QList<int> marked() const {
        QList<int> rows;
        for (int r = 1; r <= 23; ++r)
            if (w->vaSplit.recommended(r)) rows << r;
        return rows;
    }
    std::vector<std::string> flowRateWrites() const {
        std::vector<std::string> out;
        for (const std::string& wr : profile.writes)
            if (wr.rfind("FlowRate=", 0) == 0) out.push_back(wr);
        return out;
    }
};

QList<int> Range(int first, int last) {
    QList<int> rows;
    for (int r = first; r <= last; ++r) rows << r;
    return rows;
}

const char* const kRangeMessage = "Flow rate must be between 0 and 100 mL/min";

}  // namespace

class FlowRateTest : public QObject {
    Q_OBJECT

private slots:
    void ratiosAndMarks_data();
    void ratiosAndMarks();
    void bounds_data();
    void bounds();
    void outOfRangeIsRefused_data();
    void outOfRangeIsRefused();
    void typingKeyByKey();
    void keyFilter_data();
    void keyFilter();
    void everyChangeIsProcessed();
};

void FlowRateTest::ratiosAndMarks_data() {
    QTest::addColumn<QString>("flow");
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QStringList>("ratios");
    QTest::addColumn<QList<int>>("marked");
    QTest::newRow("20") << "20" << QList<int>{1, 2, 3, 17, 18}
                        << QStringList{" 500:1", " 666:1", " 777:1", " 19696:1", " 25757:1"} << Range(1, 17);
    QTest::newRow("5") << "5" << QList<int>{1, 21, 22, 23}
                       << QStringList{" 125:1", " 9848:1", " 12500:1", " 16666:1"} << Range(1, 21);
    QTest::newRow("25.5") << "25.5" << QList<int>{8, 9, 23} << QStringList{" 3399:1", " 4250:1", " 84999:1"}
                          << Range(9, 23);
    QTest::newRow("1") << "1" << QList<int>{6, 7, 17, 18} << QStringList{" 83:1", " 100:1", " 984:1", " 1287:1"}
                       << Range(7, 17);
    QTest::newRow("100 accepted") << "100" << QList<int>{1, 4, 17, 23}
                                  << QStringList{" 2500:1", " 5000:1", " 98484:1", " 333333:1"} << Range(4, 17);
    QTest::newRow("15, row 2 just below") << "15" << QList<int>{2, 3, 18, 19}
                                          << QStringList{" 499:1", " 583:1", " 19318:1", " 20454:1"} << Range(3, 18);
    // The flow is a 32-bit float: 0.7 is held a little below 0.7.
    QTest::newRow("0.7 as single") << "0.7" << QList<int>{4, 7, 9} << QStringList{" 34:1", " 69:1", " 116:1"}
                                   << Range(9, 19);
    QTest::newRow("empty") << "" << QList<int>{1, 23} << QStringList{" 0:1", " 0:1"} << QList<int>{};
    QTest::newRow("point") << "." << QList<int>{1, 23} << QStringList{" 0:1", " 0:1"} << QList<int>{};
    QTest::newRow("1.2.3 is 1.2") << "1.2.3" << QList<int>{1, 6, 7, 16, 17}
                                  << QStringList{" 30:1", " 99:1", " 120:1", " 818:1", " 1181:1"} << Range(7, 16);
    QTest::newRow("leading blanks") << "  20" << QList<int>{1} << QStringList{" 500:1"} << Range(1, 17);
}

void FlowRateTest::ratiosAndMarks() {
    QFETCH(QString, flow);
    QFETCH(QList<int>, rows);
    QFETCH(QStringList, ratios);
    FlowRig rig;
    rig.w->cmdSetSplit.setEnabled(false);
    rig.w->txtFlowRate.setText(flow.toStdString());
    for (int k = 0; k < rows.size(); ++k)
        QCOMPARE(QString::fromStdString(rig.ratio(rows[k])), ratios[k]);
    for (int r = 1; r <= 23; ++r) QVERIFY(!rig.ratio(r).empty());
    QTEST(rig.marked(), "marked");
    QVERIFY(rig.dialogs.boxes.empty());
    QVERIFY(rig.w->cmdSetSplit.enabled());
    QCOMPARE(rig.profile.get("FlowRate"), flow.trimmed().toStdString());
    QCOMPARE(rig.flowRateWrites().size(), std::size_t(1));
}

void FlowRateTest::bounds_data() {
    QTest::addColumn<float>("flow");
    QTest::addColumn<float>("lo");
    QTest::addColumn<float>("hi");
    QTest::newRow("0") << 0.0f << 100.0f << 1000.0f;
    QTest::newRow("1.5") << 1.5f << 100.0f << 1000.0f;
    QTest::newRow("1.6") << 1.6f << 100.0f << 4000.0f;
    QTest::newRow("3") << 3.0f << 100.0f << 4000.0f;
    QTest::newRow("3.1") << 3.1f << 100.0f << 10000.0f;
    QTest::newRow("5") << 5.0f << 100.0f << 10000.0f;
    QTest::newRow("5.01") << 5.01f << 500.0f << 20000.0f;
    QTest::newRow("25") << 25.0f << 500.0f << 20000.0f;
    QTest::newRow("25.01") << 25.01f << 4000.0f << 100000.0f;
    QTest::newRow("100") << 100.0f << 4000.0f << 100000.0f;
}

void FlowRateTest::bounds() {
    QFETCH(float, flow);
    QTEST(SplitRatio::MinSplitRatio(flow), "lo");
    QTEST(SplitRatio::MaxSplitRatio(flow), "hi");
}

void FlowRateTest::outOfRangeIsRefused_data() {
    QTest::addColumn<QString>("flow");
    QTest::newRow("100.1") << "100.1";
    QTest::newRow("150") << "150";
    QTest::newRow("negative, from a link client") << "-5";
    QTest::newRow("too large for the flow's type") << "1e39";
    QTest::newRow("too small for the flow's type") << "-1e39";
}

void FlowRateTest::outOfRangeIsRefused() {
    QFETCH(QString, flow);
    FlowRig rig;
    rig.w->txtFlowRate.setText("20");
    rig.profile.writes.clear();
    bool setEnabledWhileShown = true;
    std::string fieldWhileShown;
    rig.dialogs.answers.push_back([&](const test::ShownBox&) {
        setEnabledWhileShown = rig.w->cmdSetSplit.enabled();
        fieldWhileShown = rig.w->txtFlowRate.text();
        return MsgBox::ResultOk;
    });
    rig.w->txtFlowRate.setText(flow.toStdString());

    QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(rig.dialogs.boxes[0].prompt, std::string(kRangeMessage));
    QCOMPARE(rig.dialogs.boxes[0].flags, 64);
    QCOMPARE(rig.dialogs.boxes[0].title, std::string("Dervix"));
    QVERIFY(setEnabledWhileShown);  // disabled only after the box is answered
    QCOMPARE(QString::fromStdString(fieldWhileShown), flow);

    QCOMPARE(rig.w->txtFlowRate.text(), std::string("0"));
    QCOMPARE(rig.w->txtFlowRate.selStart(), 0);
    QCOMPARE(rig.w->txtFlowRate.selLength(), 1);
    for (int r = 1; r <= 23; ++r) QCOMPARE(rig.ratio(r), std::string(" 0:1"));
    QVERIFY(rig.marked().isEmpty());
    QVERIFY(rig.w->cmdSetSplit.enabled());
    // The "0" is saved by its own processing, then again by the refused entry's.
    QCOMPARE(rig.flowRateWrites(), (std::vector<std::string>{"FlowRate=0", "FlowRate=0"}));
}

void FlowRateTest::typingKeyByKey() {
    FlowRig rig;
    rig.w->txtFlowRate.setText("");
    rig.profile.writes.clear();
    std::string typed;
    auto type = [&](char key) {
        int code = key;
        rig.w->split.txtFlowRate_KeyPress(code);
        QCOMPARE(code, int(key));
        typed.push_back(key);
        rig.w->txtFlowRate.setText(typed);
    };

    type('1');
    QCOMPARE(rig.ratio(7), std::string(" 100:1"));
    QCOMPARE(rig.marked(), Range(7, 17));
    QCOMPARE(rig.profile.get("FlowRate"), std::string("1"));
    type('5');
    QCOMPARE(rig.ratio(7), std::string(" 1500:1"));
    QCOMPARE(rig.marked(), Range(3, 18));
    QCOMPARE(rig.profile.get("FlowRate"), std::string("15"));
    QVERIFY(rig.dialogs.boxes.empty());
    type('0');
    QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(rig.dialogs.boxes[0].prompt, std::string(kRangeMessage));
    QCOMPARE(rig.w->txtFlowRate.text(), std::string("0"));
    QCOMPARE(rig.w->txtFlowRate.selLength(), 1);
    QCOMPARE(rig.ratio(7), std::string(" 0:1"));
    QCOMPARE(rig.flowRateWrites(),
             (std::vector<std::string>{"FlowRate=1", "FlowRate=15", "FlowRate=0", "FlowRate=0"}));
}

void FlowRateTest::keyFilter_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("passes");
    QTest::newRow("minus") << int('-') << false;
    QTest::newRow("a") << int('a') << false;
    QTest::newRow("comma") << int(',') << false;
    QTest::newRow("space") << int(' ') << false;
    QTest::newRow("plus") << int('+') << false;
    QTest::newRow("e") << int('e') << false;
    QTest::newRow("slash, below 0") << int('/') << false;
    QTest::newRow("colon, above 9") << int(':') << false;
    QTest::newRow("carriage return") << 13 << false;
    QTest::newRow("latin-1 letter") << 0xE9 << false;
    QTest::newRow("0") << int('0') << true;
    QTest::newRow("5") << int('5') << true;
    QTest::newRow("9") << int('9') << true;
    QTest::newRow("point") << int('.') << true;
    QTest::newRow("backspace") << 8 << true;
}

void FlowRateTest::keyFilter() {
    QFETCH(int, key);
    QFETCH(bool, passes);
    FlowRig rig;
    int code = key;
    rig.w->split.txtFlowRate_KeyPress(code);
    QCOMPARE(code, passes ? key : 0);
}

void FlowRateTest::everyChangeIsProcessed() {
    FlowRig rig;
    rig.w->txtFlowRate.setText("20");
    rig.profile.writes.clear();
    // The same text again, as a link client may poke it: processed again.
    rig.w->vaSplit.setText(1, 1, "stale");
    rig.w->txtFlowRate.setText("20");
    QCOMPARE(rig.ratio(1), std::string(" 500:1"));
    QCOMPARE(rig.flowRateWrites().size(), std::size_t(1));
    // Recomputing does not move the chosen row.
    rig.w->vaSplit.setBackColor(5, kPureGreen);
    rig.w->vaSplit.setActiveCell(1, 5);
    rig.w->txtFlowRate.setText("3");
    QVERIFY(rig.w->vaSplit.backColor(5) == kPureGreen);
    QCOMPARE(rig.w->vaSplit.activeRow(), 5);
}

QTEST_GUILESS_MAIN(FlowRateTest)
#include "tst_flowrate.moc"
