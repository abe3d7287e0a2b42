// The maintenance dialog against fakes: its texts, the bar's range and the
// reset through the typed word.
#include <QtTest>

#include "support/FakeViews.h"
#include "support/Rig.h"

using namespace dervix;
using namespace dervix::test;

namespace {

struct KelmRig : Rig {
    ScriptedViews<FrmKelm> views;
    FrmKelm& dialog() { return w->kelm.frmKelm; }
    KelmRig() {
        views.install(dialog());
        w->g.LogEnabled = 1;
    }
    // The total as start-up loads it.
    void total(const std::string& rotations) {
        profile.write("Dervix", "Rotations", rotations);
        w->setKelmgraphic(w->g.ValveRotations);
        badge.shown.clear();
        profile.writes.clear();
    }
    // Opens the dialog, presses Reset with this answer, then OK.
    void reset(std::optional<std::string> answer) {
        dialogs.inputs.push_back(std::move(answer));
        views.scripts.push_back([](FrmKelm& d) {
            d.cmdReset.click();
            d.cmdOK.click();
        });
        w->mnuKelm_Click();
    }
    bool logged(const std::string& text) const {
        for (const std::string& line : logFile.lines)
            if (line.find(text) != std::string::npos) return true;
        return false;
    }
};

}  // namespace

class TestKelmDialog : public QObject {
    Q_OBJECT
private slots:
    void textsAndBar_data();
    void textsAndBar();
    void barStepsForAnIntBar_data();
    void barStepsForAnIntBar();
    void absentLevelsAreStored();
    void showsTheWorkingCopyWithoutReloading();
    void resetWords_data();
    void resetWords();
    void resetLeavesTheBadgeAlone();
    void resetThatCannotBeStoredSaysSo();
    void stopReplyWhileOpenLeavesTheTextsAlone();
    void okClosesAndTheNextOpeningIsFresh();
};

void TestKelmDialog::textsAndBar_data() {
    QTest::addColumn<QString>("rotations");
    QTest::addColumn<QString>("red");  // "-" for absent
    QTest::addColumn<QString>("rotationsText");
    QTest::addColumn<QString>("redText");
    QTest::addColumn<float>("maximum");
    QTest::addColumn<float>("value");
    QTest::newRow("1200 of the default") << "1200" << "-" << "Valve rotor has completed 1200 rotations"
                                         << "Red warning at  1500000 valve rotations" << 1500000.0f << 1200.0f;
    QTest::newRow("700 beyond a red of 500") << "700" << "500" << "Valve rotor has completed 700 rotations"
                                             << "Red warning at  500 valve rotations" << 700.0f << 700.0f;
    QTest::newRow("fraction rounds") << "1234.6" << "-" << "Valve rotor has completed 1235 rotations"
                                     << "Red warning at  1500000 valve rotations" << 1500000.0f << 1234.6f;
    QTest::newRow("nothing yet") << "-" << "-" << "Valve rotor has completed 0 rotations"
                                 << "Red warning at  1500000 valve rotations" << 1500000.0f << 0.0f;
    QTest::newRow("level kept unrounded") << "10" << "1000.5" << "Valve rotor has completed 10 rotations"
                                          << "Red warning at  1000.5 valve rotations" << 1000.5f << 10.0f;
    QTest::newRow("big total, no separators") << "123456789" << "-"
                                              << "Valve rotor has completed 123456789 rotations"
                                              << "Red warning at  1500000 valve rotations" << 123456789.0f
                                              << 123456789.0f;
}

void TestKelmDialog::textsAndBar() {
    QFETCH(QString, rotations);
    QFETCH(QString, red);
    QFETCH(QString, rotationsText);
    QFETCH(QString, redText);
    QFETCH(float, maximum);
    QFETCH(float, value);
    KelmRig rig;
    if (red != "-") rig.profile.write("Dervix", "KelmRed", red.toStdString());
    rig.total(rotations == "-" ? std::string() : rotations.toStdString());
    std::string seenRotations, seenYellow, seenRed;
    float min = -1, max = -1, val = -1;
    rig.views.scripts.push_back([&](FrmKelm& d) {
        seenRotations = d.lblRotations.caption();
        seenYellow = d.lblYellow.caption();
        seenRed = d.lblRed.caption();
        min = d.pbarKelm.minimum();
        max = d.pbarKelm.maximum();
        val = d.pbarKelm.value();
        d.cmdOK.click();
    });
    rig.w->mnuKelm_Click();
    QCOMPARE(QString::fromStdString(seenRotations), rotationsText);
    QCOMPARE(seenYellow, std::string("Yellow warning at  1000000 valve rotations"));
    QCOMPARE(QString::fromStdString(seenRed), redText);
    QCOMPARE(min, 0.0f);
    QCOMPARE(max, maximum);
    QCOMPARE(val, value);
}

void TestKelmDialog::barStepsForAnIntBar_data() {
    QTest::addColumn<float>("maximum");
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("steps");
    const int full = ProgressBar::kSteps;
    QTest::newRow("1200 of 1500000") << 1500000.0f << 1200.0f << 800;
    QTest::newRow("at the top") << 700.0f << 700.0f << full;
    QTest::newRow("one short of the top") << 1500000.0f << 1499999.0f << full - 1;
    QTest::newRow("a hair short of a huge top") << 3e9f << 2999999700.0f << full - 1;
    QTest::newRow("beyond int") << 5e12f << 2.5e12f << full / 2;
    QTest::newRow("empty") << 1500000.0f << 0.0f << 0;
    QTest::newRow("below the minimum") << 500.0f << -20.0f << 0;
    QTest::newRow("no range, reached") << 0.0f << 0.0f << full;
    QTest::newRow("upside-down range") << -5.0f << -10.0f << 0;
    QTest::newRow("infinite") << std::numeric_limits<float>::infinity() << std::numeric_limits<float>::infinity()
                              << full;
}

void TestKelmDialog::barStepsForAnIntBar() {
    QFETCH(float, maximum);
    QFETCH(float, value);
    QFETCH(int, steps);
    ProgressBar bar;
    bar.set(0, maximum, value);
    QCOMPARE(bar.steps(), steps);
}

void TestKelmDialog::absentLevelsAreStored() {
    KelmRig rig;
    rig.profile.content.clear();
    rig.views.scripts.push_back([](FrmKelm& d) { d.cmdOK.click(); });
    rig.w->mnuKelm_Click();
    QCOMPARE(rig.profile.writes, (std::vector<std::string>{"KelmRed= 1500000", "KelmYellow= 1000000"}));
}

void TestKelmDialog::showsTheWorkingCopyWithoutReloading() {
    KelmRig rig;
    rig.total("1200");
    rig.profile.write("Dervix", "Rotations", "5000");  // changed behind its back
    std::string text;
    rig.views.scripts.push_back([&](FrmKelm& d) {
        text = d.lblRotations.caption();
        d.cmdOK.click();
    });
    rig.w->mnuKelm_Click();
    QCOMPARE(text, std::string("Valve rotor has completed 1200 rotations"));
}

void TestKelmDialog::resetWords_data() {
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("resets");
    QTest::newRow("reset") << false << "reset" << true;
    QTest::newRow("RESET") << false << "RESET" << true;
    QTest::newRow("Reset") << false << "Reset" << true;
    QTest::newRow("blanks around") << false << " reset " << true;
    QTest::newRow("reset-now") << false << "reset-now" << false;
    QTest::newRow("blank inside") << false << "re set" << false;
    QTest::newRow("tab is no blank") << false << "\treset" << false;
    QTest::newRow("empty") << false << "" << false;
    QTest::newRow("cancelled") << true << "" << false;
}

void TestKelmDialog::resetWords() {
    QFETCH(bool, cancelled);
    QFETCH(QString, answer);
    QFETCH(bool, resets);
    KelmRig rig;
    rig.total(" 1234567");
    std::string texts;
    rig.dialogs.inputs.push_back(cancelled ? std::nullopt : std::optional<std::string>(answer.toStdString()));
    int steps = -1;
    rig.views.scripts.push_back([&](FrmKelm& d) {
        d.cmdReset.click();
        texts = d.lblRotations.caption();
        steps = d.pbarKelm.steps();
        d.cmdOK.click();
    });
    rig.w->mnuKelm_Click();

    QCOMPARE(rig.dialogs.inputPrompts,
             std::vector<std::string>{"Type 'reset' to reset the vavle rotations counter"});
    QCOMPARE(rig.dialogs.inputTitles, std::vector<std::string>{"Dervantix Rotations"});
    if (resets) {
        QCOMPARE(rig.profile.writes, std::vector<std::string>{"Rotations=0"});
        QCOMPARE(rig.w->g.ValveRotations, 0.0);
        QCOMPARE(texts, std::string("Valve rotor has completed 0 rotations"));
        QCOMPARE(steps, 0);
        QVERIFY(rig.dialogs.boxes.empty());
    } else {
        QVERIFY(rig.profile.writes.empty());
        QCOMPARE(rig.w->g.ValveRotations, 1234567.0);
        QCOMPARE(texts, std::string("Valve rotor has completed 1234567 rotations"));
        QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
        QCOMPARE(rig.dialogs.boxes[0].prompt, std::string("No action taken!"));
        QCOMPARE(rig.dialogs.boxes[0].flags, MsgBox::Information);
        QCOMPARE(rig.dialogs.boxes[0].title, std::string("Dervix"));
        // Said to the operator but kept out of the log.
        QVERIFY(!rig.logged("No action taken!"));
    }
}

void TestKelmDialog::resetLeavesTheBadgeAlone() {
    KelmRig rig;
    rig.total(" 1600000");
    rig.badge.shown.push_back("kelm-r");  // as start-up left it
    rig.reset("reset");
    QCOMPARE(rig.profile.get("Rotations"), std::string("0"));
    QCOMPARE(rig.badge.shown, std::vector<std::string>{"kelm-r"});
}

void TestKelmDialog::resetThatCannotBeStoredSaysSo() {
    KelmRig rig;
    rig.total(" 1600000");
    rig.profile.failWrites = true;
    std::string text;
    rig.dialogs.inputs.push_back(std::string("reset"));
    rig.views.scripts.push_back([&](FrmKelm& d) {
        d.cmdReset.click();
        text = d.lblRotations.caption();
        d.cmdOK.click();
    });
    rig.w->mnuKelm_Click();
    QCOMPARE(rig.w->g.ValveRotations, 1600000.0);
    QCOMPARE(text, std::string("Valve rotor has completed 1600000 rotations"));
    QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(rig.dialogs.boxes[0].flags, MsgBox::Critical);
    QVERIFY(rig.logged("MSGBOX The valve rotations counter could not be reset"));
}

void TestKelmDialog::stopReplyWhileOpenLeavesTheTextsAlone() {
    KelmRig rig;
    rig.profile.write("Dervix", "Rotations", " 999990");
    rig.startAndAnswerCheck();
    rig.w->g.CurValveFreq = 1.0f;
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    rig.clock.advance(std::chrono::seconds(20));
    std::string before, after;
    rig.views.scripts.push_back([&](FrmKelm& d) {
        before = d.lblRotations.caption();
        rig.w->cmdStart.click();
        rig.serial.deliver("G1\r\n");  // the STOP reply comes in while it is open
        after = d.lblRotations.caption();
        d.cmdOK.click();
    });
    rig.w->mnuKelm_Click();
    QCOMPARE(before, std::string("Valve rotor has completed 999990 rotations"));
    QCOMPARE(after, before);
    QCOMPARE(rig.w->g.ValveRotations, 1000010.0);
    QCOMPARE(rig.badge.shown, (std::vector<std::string>{"kelm-g", "kelm-y"}));
}

void TestKelmDialog::okClosesAndTheNextOpeningIsFresh() {
    KelmRig rig;
    rig.total("100");
    bool loadedWhileOpen = false;
    rig.views.scripts.push_back([&](FrmKelm& d) {
        loadedWhileOpen = d.loaded();
        rig.w->mnuKelm_Click();  // a second opening while it is open does nothing
        d.cmdOK.click();
    });
    rig.w->mnuKelm_Click();
    QVERIFY(loadedWhileOpen);
    QVERIFY(!rig.dialog().loaded());
    QCOMPARE(rig.views.opened, 1);
    QCOMPARE(rig.views.hides, 1);

    rig.total("250");
    std::string text;
    rig.views.scripts.push_back([&](FrmKelm& d) { text = d.lblRotations.caption(); });  // closed by its frame
    rig.w->mnuKelm_Click();
    QCOMPARE(text, std::string("Valve rotor has completed 250 rotations"));
    QVERIFY(!rig.dialog().loaded());
    QCOMPARE(rig.views.live, 0);
}

QTEST_GUILESS_MAIN(TestKelmDialog)
#include "tst_kelmdialog.moc"
