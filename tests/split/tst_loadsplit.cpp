// Restoring the saved flow rate and split at start-up and on LOAD.
#include <QtTest>

#include "support/Rig.h"

using namespace dervix;
using dervix::test::Rig;

namespace {

struct LoadRig : Rig {
    LoadRig() { w->split.InitSplitTable(); }
    void save(const std::string& key, const std::string& value) { profile.write("Dervix", key, value); }
    int greenRow() const {
        int green = 0;
        for (int r = 1; r <= 23; ++r) {
            if (w->vaSplit.backColor(r) == kPureGreen) {
                if (green != 0) return -1;  // more than one
                green = r;
            } else if (!(w->vaSplit.backColor(r) == kWhite)) {
                return -2;
            }
        }
        return green;
    }
    bool logged(const std::string& text) const {
        for (const std::string& line : logFile.lines)
            if (line.find(text) != std::string::npos) return true;
        return false;
    }
};

}  // namespace

class LoadSplitTest : public QObject {
    Q_OBJECT

private slots:
    void noSavedSettings();
    void flowRate_data();
    void flowRate();
    void splitMult_data();
    void splitMult();
    void splitCode_data();
    void splitCode();
    void lowerCaseKeys();
    void damagedCodeAtStartUp();
    void loadRequest();
    void refreshesTheBadge();
};

void LoadSplitTest::noSavedSettings() {
    Rig rig;
    rig.startAndAnswerCheck();
    FrmDervix& w = *rig.w;
    QCOMPARE(w.txtFlowRate.text(), std::string("20"));
    QCOMPARE(w.vaSplit.text(1, 1), std::string(" 500:1"));
    QCOMPARE(w.g.CurSplitMult, 50.0f);
    QCOMPARE(int(w.g.CurSplitCode), 19);
    QCOMPARE(w.g.CurValveFreq, 1.11111f);
    QCOMPARE(w.vaSplit.text(5, 4), std::string("50.000"));
    for (int r = 1; r <= 23; ++r) QVERIFY((w.vaSplit.backColor(r) == kPureGreen) == (r == 4));
    QCOMPARE(w.vaSplit.activeRow(), 4);
    QCOMPARE(w.vaSplit.activeCol(), 1);
    QVERIFY(rig.dialogs.boxes.empty());
    // The saved code goes out after CHECK, defaults included.
    QCOMPARE(rig.serial.frames, (std::vector<std::string>{"G1%\r\n", "G1F19\r\n"}));
    // Set on the same row sends that preset's own code.
    w.cmdSetSplit.click();
    QCOMPARE(rig.lastFrame(), std::string("G1F2\r\n"));
    QCOMPARE(int(w.g.CurSplitCode), 2);
}

void LoadSplitTest::flowRate_data() {
    QTest::addColumn<QString>("saved");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("ratio1");
    QTest::newRow("7.6 rounds") << "7.6" << "8" << " 200:1";
    QTest::newRow("100") << "100" << "100" << " 2500:1";
    QTest::newRow("99.6") << "99.6" << "100" << " 2500:1";
    QTest::newRow("0") << "0" << "20" << " 500:1";
    QTest::newRow("150") << "150" << "20" << " 500:1";
    QTest::newRow("negative") << "-3" << "20" << " 500:1";
    QTest::newRow("not a number") << "abc" << "20" << " 500:1";
    QTest::newRow("absent") << QString() << "20" << " 500:1";
    QTest::newRow("too large for the flow's type") << "1e39" << "20" << " 500:1";
    QTest::newRow("0.4 shows nothing") << "0.4" << "" << " 0:1";
}

void LoadSplitTest::flowRate() {
    QFETCH(QString, saved);
    QFETCH(QString, shown);
    LoadRig rig;
    if (!saved.isNull()) rig.save("FlowRate", saved.toStdString());
    rig.w->split.LoadSplitSettings();
    QCOMPARE(QString::fromStdString(rig.w->txtFlowRate.text()), shown);
    QTEST(QString::fromStdString(rig.w->vaSplit.text(1, 1)), "ratio1");
    QCOMPARE(QString::fromStdString(rig.profile.get("FlowRate")), shown);
    QVERIFY(rig.dialogs.boxes.empty());
    QVERIFY(rig.w->cmdSetSplit.enabled());
    if (shown.isEmpty())
        for (int r = 1; r <= 23; ++r) QVERIFY(!rig.w->vaSplit.recommended(r));
}

void LoadSplitTest::splitMult_data() {
    QTest::addColumn<QString>("saved");
    QTest::addColumn<int>("row");
    QTest::addColumn<float>("mult");
    QTest::addColumn<float>("freq");
    QTest::addColumn<bool>("logged");
    const float kept = 7.5f;  // what CurValveFreq held before
    QTest::newRow("3333.333") << "3333.333" << 23 << 3333.333f << 0.22727f << false;
    QTest::newRow("33.333") << "33.333" << 2 << 33.333f << 1.66667f << false;
    QTest::newRow("25") << "25" << 1 << 25.0f << 2.22222f << false;
    QTest::newRow("1666.667") << "1666.667" << 20 << 1666.667f << 0.45455f << false;
    QTest::newRow("matches no entry") << "12" << 23 << 12.0f << kept << false;
    QTest::newRow("absent") << QString() << 4 << 50.0f << 1.11111f << false;
    QTest::newRow("0") << "0" << 4 << 50.0f << 1.11111f << false;
    QTest::newRow("not a number") << "x" << 4 << 50.0f << 1.11111f << false;
    QTest::newRow("too large for its type") << "1e39" << 4 << 50.0f << 1.11111f << true;
}

void LoadSplitTest::splitMult() {
    QFETCH(QString, saved);
    QFETCH(int, row);
    LoadRig rig;
    rig.w->g.LogEnabled = 1;
    rig.w->g.CurValveFreq = 7.5f;
    if (!saved.isNull()) rig.save("SplitMult", saved.toStdString());
    rig.w->split.LoadSplitSettings();
    QTEST(rig.w->g.CurSplitMult, "mult");
    QTEST(rig.w->g.CurValveFreq, "freq");
    QCOMPARE(rig.greenRow(), row);
    QCOMPARE(rig.w->vaSplit.activeRow(), row);
    QCOMPARE(rig.w->vaSplit.activeCol(), 1);
    QTEST(rig.logged("SplitMult - out of range, 50 used: [" + saved.toStdString() + "]"), "logged");
}

void LoadSplitTest::splitCode_data() {
    QTest::addColumn<QString>("saved");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("logged");
    QTest::newRow("7") << "7" << 7 << false;
    QTest::newRow("absent") << QString() << 19 << false;
    QTest::newRow("0") << "0" << 19 << false;
    QTest::newRow("0.4 rounds to 0") << "0.4" << 19 << false;
    QTest::newRow("2.5 to even") << "2.5" << 2 << false;
    QTest::newRow("3.5 to even") << "3.5" << 4 << false;
    QTest::newRow("255.4") << "255.4" << 255 << false;
    QTest::newRow("300") << "300" << 19 << true;
    QTest::newRow("256") << "256" << 19 << true;
    QTest::newRow("-3") << "-3" << 19 << true;
    QTest::newRow("1e39") << "1e39" << 19 << true;
}

void LoadSplitTest::splitCode() {
    QFETCH(QString, saved);
    LoadRig rig;
    rig.w->g.LogEnabled = 1;
    if (!saved.isNull()) rig.save("SplitCode", saved.toStdString());
    rig.save("SplitMult", "100.000");
    rig.save("FlowRate", "10");
    rig.w->split.LoadSplitSettings();
    QTEST(int(rig.w->g.CurSplitCode), "code");
    QTEST(rig.logged("Splitcode - not a splitter code, 19 used: [" + saved.toStdString() + "]"), "logged");
    // The rest is restored whatever the code held.
    QCOMPARE(rig.w->txtFlowRate.text(), std::string("10"));
    QCOMPARE(rig.w->g.CurSplitMult, 100.0f);
    QCOMPARE(rig.greenRow(), 7);
    QCOMPARE(rig.w->g.CurValveFreq, 1.66667f);
}

void LoadSplitTest::lowerCaseKeys() {
    Rig rig;
    rig.profile.content = "[dervix]\nsplitcode=7\nsplitmult=83.333\nflowrate=4\n";
    rig.startAndAnswerCheck();
    QCOMPARE(int(rig.w->g.CurSplitCode), 7);
    QCOMPARE(rig.w->txtFlowRate.text(), std::string("4"));
    QVERIFY(rig.w->vaSplit.backColor(6) == kPureGreen);
    QCOMPARE(rig.lastFrame(), std::string("G1F7\r\n"));
}

void LoadSplitTest::damagedCodeAtStartUp() {
    Rig rig;
    rig.profile.write("Dervix", "Logging", "1");
    rig.profile.write("Dervix", "SplitCode", "300");
    rig.profile.write("Dervix", "SplitMult", "1666.667");
    rig.startAndAnswerCheck();
    QCOMPARE(rig.process.terminations, 0);
    QCOMPARE(int(rig.w->g.CurSplitCode), 19);
    QVERIFY(rig.w->vaSplit.backColor(20) == kPureGreen);
    QCOMPARE(rig.lastFrame(), std::string("G1F19\r\n"));
    bool logged = false;
    for (const std::string& line : rig.logFile.lines)
        logged = logged || line.find("Splitcode - not a splitter code, 19 used: [300]") != std::string::npos;
    QVERIFY(logged);
}

void LoadSplitTest::loadRequest() {
    Rig rig;
    rig.startAndAnswerCheck();
    rig.profile.write("Dervix", "FlowRate", "10");
    rig.profile.write("Dervix", "SplitMult", "1666.667");
    rig.profile.write("Dervix", "SplitCode", "57");
    rig.w->txtDVXScmd.setText("LOAD");
    QCOMPARE(rig.w->txtFlowRate.text(), std::string("10"));
    QCOMPARE(rig.w->vaSplit.text(1, 1), std::string(" 250:1"));
    QVERIFY(rig.w->vaSplit.backColor(20) == kPureGreen);
    QVERIFY(rig.w->vaSplit.backColor(4) == kWhite);
    QCOMPARE(rig.w->vaSplit.activeRow(), 20);
    QCOMPARE(rig.w->g.CurValveFreq, 0.45455f);
    QCOMPARE(rig.lastFrame(), std::string("G1F57\r\n"));
}

void LoadSplitTest::refreshesTheBadge() {
    LoadRig rig;
    rig.save("Rotations", " 1234.5");
    rig.w->g.ValveRotations = 0;
    rig.w->split.LoadSplitSettings();
    QCOMPARE(rig.w->g.ValveRotations, 1234.5);
}

QTEST_GUILESS_MAIN(LoadSplitTest)
#include "tst_loadsplit.moc"
