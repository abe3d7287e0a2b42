// The rotation badge: which colour a total shows against the warning levels,
// the levels' defaults, and the notice for a menu that is gone.
#include <QtTest>

#include "support/Rig.h"

using namespace dervix;
using namespace dervix::test;

class TestKelmBadge : public QObject {
    Q_OBJECT
private slots:
    void colourForTotal_data();
    void colourForTotal();
    void absentLevelsAreStoredInSignedForm_data();
    void absentLevelsAreStoredInSignedForm();
    void presentLevelsAreLeftAsTheyAre();
    void totalIsReloadedFromTheProfile();
    void invalidMenuGivesTheLoggedNotice();
    void stopReplyMovesTheBadgeOn();
    void startUpShowsTheBadgeOnce();
};

void TestKelmBadge::colourForTotal_data() {
    QTest::addColumn<QString>("rotations");
    QTest::addColumn<QString>("red");     // "-" for absent
    QTest::addColumn<QString>("yellow");  // "-" for absent
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("spoken");  // the badge to a screen reader
    QTest::newRow("none yet") << "-" << "-" << "-" << "kelm-g"
        << "Green: 0 valve rotations; yellow warning at 1000000, red warning at 1500000";
    QTest::newRow("half below yellow") << " 999999.5" << "-" << "-" << "kelm-g"
        << "Green: 999999 valve rotations; yellow warning at 1000000, red warning at 1500000";
    QTest::newRow("at yellow") << " 1000000" << "-" << "-" << "kelm-y"
        << "Yellow: 1000000 valve rotations; yellow warning at 1000000, red warning at 1500000";
    QTest::newRow("below red") << " 1499999.9" << "-" << "-" << "kelm-y"
        << "Yellow: 1499999 valve rotations; yellow warning at 1000000, red warning at 1500000";
    QTest::newRow("at red") << " 1500000" << "-" << "-" << "kelm-r"
        << "Red: 1500000 valve rotations; yellow warning at 1000000, red warning at 1500000";
    QTest::newRow("far beyond red") << " 9e9" << "-" << "-" << "kelm-r"
        << "Red: 9000000000 valve rotations; yellow warning at 1000000, red warning at 1500000";
    QTest::newRow("yellow above red") << " 700" << "500" << "1000" << "kelm-r"
        << "Red: 700 valve rotations; yellow warning at 1000, red warning at 500";
    QTest::newRow("yellow above red, below both") << " 499" << "500" << "1000" << "kelm-g"
        << "Green: 499 valve rotations; yellow warning at 1000, red warning at 500";
    QTest::newRow("red rounds half to even") << " 1000.2" << "1000.5" << "900" << "kelm-r"
        << "Red: 1000 valve rotations; yellow warning at 900, red warning at 1000";
    QTest::newRow("yellow rounds half to even") << " 11.6" << "20" << "12.5" << "kelm-g"
        << "Green: 11 valve rotations; yellow warning at 12, red warning at 20";
    QTest::newRow("negative red") << " 0" << "-10" << "-" << "kelm-r"
        << "Red: 0 valve rotations; yellow warning at 1000000, red warning at -10";
    QTest::newRow("words are no total") << "many" << "-" << "-" << "kelm-g"
        << "Green: 0 valve rotations; yellow warning at 1000000, red warning at 1500000";
}

void TestKelmBadge::colourForTotal() {
    QFETCH(QString, rotations);
    QFETCH(QString, red);
    QFETCH(QString, yellow);
    QFETCH(QString, key);
    QFETCH(QString, spoken);
    Rig rig;
    if (rotations != "-") rig.profile.write("Dervix", "Rotations", rotations.toStdString());
    if (red != "-") rig.profile.write("Dervix", "KelmRed", red.toStdString());
    if (yellow != "-") rig.profile.write("Dervix", "KelmYellow", yellow.toStdString());
    rig.w->setKelmgraphic(rig.w->g.ValveRotations);
    QCOMPARE(rig.badge.shown, std::vector<std::string>{key.toStdString()});
    QCOMPARE(rig.badge.descriptions, std::vector<std::string>{spoken.toStdString()});
    QVERIFY(rig.dialogs.boxes.empty());
}

void TestKelmBadge::absentLevelsAreStoredInSignedForm_data() {
    QTest::addColumn<QString>("stored");  // "-" for absent
    QTest::newRow("absent") << "-";
    QTest::newRow("empty") << "";
    QTest::newRow("no number") << "high";
    QTest::newRow("zero") << "0";
    QTest::newRow("rounds to zero") << "0.4";
}

void TestKelmBadge::absentLevelsAreStoredInSignedForm() {
    QFETCH(QString, stored);
    Rig rig;
    if (stored != "-") {
        rig.profile.write("Dervix", "KelmRed", stored.toStdString());
        rig.profile.write("Dervix", "KelmYellow", stored.toStdString());
    }
    rig.profile.writes.clear();
    rig.w->setKelmgraphic(rig.w->g.ValveRotations);
    QCOMPARE(rig.profile.writes, (std::vector<std::string>{"KelmRed= 1500000", "KelmYellow= 1000000"}));
    // The blank of the signed form is not part of the value read back.
    QCOMPARE(rig.w->settings.GetIniValue("Dervix", "KelmYellow"), std::string("1000000"));
    // Read again, the stored defaults are used and not written twice.
    rig.profile.writes.clear();
    rig.profile.write("Dervix", "Rotations", "1000000");
    rig.profile.writes.clear();
    rig.w->setKelmgraphic(rig.w->g.ValveRotations);
    QVERIFY(rig.profile.writes.empty());
    QCOMPARE(rig.badge.shown.back(), std::string("kelm-y"));
}

void TestKelmBadge::presentLevelsAreLeftAsTheyAre() {
    Rig rig;
    rig.profile.write("Dervix", "KelmRed", "2000.7");
    rig.profile.write("Dervix", "KelmYellow", "-3");
    rig.profile.writes.clear();
    rig.w->setKelmgraphic(rig.w->g.ValveRotations);
    QVERIFY(rig.profile.writes.empty());
    QCOMPARE(rig.profile.get("KelmRed"), std::string("2000.7"));
    QCOMPARE(rig.badge.shown, std::vector<std::string>{"kelm-y"});  // 0 is at or above -3
}

void TestKelmBadge::totalIsReloadedFromTheProfile() {
    Rig rig;
    rig.profile.write("Dervix", "Rotations", " 1234.5");
    rig.w->g.ValveRotations = 2e6;  // a stale working copy must not decide the colour
    rig.w->setKelmgraphic(rig.w->g.ValveRotations);
    QCOMPARE(rig.w->g.ValveRotations, 1234.5);
    QCOMPARE(rig.badge.shown, std::vector<std::string>{"kelm-g"});
}

void TestKelmBadge::invalidMenuGivesTheLoggedNotice() {
    Rig rig;
    rig.w->g.LogEnabled = 1;
    rig.badge.valid = false;
    rig.profile.write("Dervix", "Rotations", "2000000");
    rig.w->setKelmgraphic(rig.w->g.ValveRotations);
    QVERIFY(rig.badge.shown.empty());
    QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(rig.dialogs.boxes[0].prompt, std::string("Menu handle invalid"));
    QCOMPARE(rig.dialogs.boxes[0].flags, MsgBox::Information);
    QCOMPARE(rig.dialogs.boxes[0].title, std::string());
    QCOMPARE(rig.logFile.lines.size(), std::size_t(1));
    QVERIFY(rig.logFile.lines[0].find(": MSGBOX Menu handle invalid\r\n") != std::string::npos);
}

void TestKelmBadge::stopReplyMovesTheBadgeOn() {
    Rig rig;
    rig.profile.write("Dervix", "Rotations", " 999900");
    rig.startAndAnswerCheck();
    QCOMPARE(rig.badge.shown, std::vector<std::string>{"kelm-g"});
    rig.w->g.CurValveFreq = 2.0f;
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    rig.clock.advance(std::chrono::seconds(90));
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    QCOMPARE(rig.profile.writes.back(), std::string("Rotations= 1000080"));
    QCOMPARE(rig.w->g.ValveRotations, 1000080.0);
    QCOMPARE(rig.badge.shown, (std::vector<std::string>{"kelm-g", "kelm-y"}));
}

void TestKelmBadge::startUpShowsTheBadgeOnce() {
    Rig rig;
    rig.profile.write("Dervix", "Rotations", " 1600000");
    rig.startAndAnswerCheck();
    QCOMPARE(rig.badge.shown, std::vector<std::string>{"kelm-r"});
}

QTEST_GUILESS_MAIN(TestKelmBadge)
#include "tst_kelmbadge.moc"
