// What the operator sees of the main window, on the offscreen platform.
#include <QtTest>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>

#include "app/MainWindow.h"
#include "support/Rig.h"
#include "support/TestText.h"

using namespace dervix;
using namespace dervix::test;

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void captionAndMenu();
    void controlsFollowTheLogic();
    void buttonsDriveTheLogic();
    void startupGeometryIsAppliedAndCut();
};

void MainWindowTest::captionAndMenu() {
    Rig rig;
    MainWindow mw(*rig.w);
    QCOMPARE(mw.windowTitle(), QStringLiteral("Corvane Dervantix"));
    const auto items = mw.menuBar()->actions();
    QCOMPARE(items.size(), 4);
    QCOMPARE(items[0]->text(), QStringLiteral("&Edit"));
    QCOMPARE(items[1]->text(), QStringLiteral("&Help"));
    QCOMPARE(items[2]->text(), QString());
    QCOMPARE(items[3]->text(), QStringLiteral("Kelm"));
    QCOMPARE(items[3], mw.badgeItem());
    const auto edit = items[0]->menu()->actions();
    QCOMPARE(edit.size(), 2);
    QCOMPARE(edit[0]->text(), QStringLiteral("&Configuration"));
    QCOMPARE(edit[1]->text(), QStringLiteral("E&xit"));
    QCOMPARE(items[1]->menu()->actions().at(0)->text(), QStringLiteral("&About"));
    QVERIFY(!mw.menuBar()->isNativeMenuBar());
}

void MainWindowTest::controlsFollowTheLogic() {
    Rig rig;
    MainWindow mw(*rig.w);
    auto* label3 = mw.findChild<QLabel*>("Label3");
    auto* label5 = mw.findChild<QLabel*>("Label5");
    auto* start = mw.findChild<QPushButton*>("cmdStart");
    auto* set = mw.findChild<QPushButton*>("cmdSetSplit");
    QVERIFY(label3 && label5 && start && set);
    QCOMPARE(label3->text(), QStringLiteral("Flow Rate"));
    QCOMPARE(label5->text(), QStringLiteral("mL/min"));
    QCOMPARE(set->text(), QStringLiteral("Se&t"));
    QCOMPARE(start->text(), QStringLiteral("&Start"));
    rig.w->cmdStart.setCaption("&Stop");
    rig.w->cmdStart.setEnabled(false);
    QCOMPARE(start->text(), QStringLiteral("&Stop"));
    QVERIFY(!start->isEnabled());
    for (const char* name : {"txtFlowRate", "DervixResp", "txtDVXScmd"}) QVERIFY(mw.findChild<QLineEdit*>(name));
}

void MainWindowTest::buttonsDriveTheLogic() {
    Rig rig;
    rig.startAndAnswerCheck();
    MainWindow mw(*rig.w);
    auto* start = mw.findChild<QPushButton*>("cmdStart");
    const auto frames = rig.serial.frames.size();
    QTest::mouseClick(start, Qt::LeftButton);
    QCOMPARE(rig.serial.frames.size(), frames + 1);
    QCOMPARE(Q(rig.lastFrame()), QByteArray("G1C\r\n"));
    QVERIFY(!start->isEnabled());
}

void MainWindowTest::startupGeometryIsAppliedAndCut() {
    Rig rig;
    rig.configure();
    rig.profile.write("Dervix", "FormTop", " 1440");
    rig.profile.write("Dervix", "FormLeft", " 2880");
    rig.w->Form_Load();
    MainWindow mw(*rig.w);
    mw.applyStartupGeometry();
    auto* start = mw.findChild<QPushButton*>("cmdStart");
    auto* cmd = mw.findChild<QLineEdit*>("txtDVXScmd");
    const int startBottom = start->mapTo(&mw, QPoint(0, start->height())).y();
    QVERIFY(mw.height() >= startBottom);
    QVERIFY(cmd->mapTo(&mw, QPoint(0, 0)).y() >= mw.height());  // cut off below the buttons
    QCOMPARE(mw.pos(), QPoint(2880 / 15, 1440 / 15));
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
