// Start-up, the serial port setup it ends with, and shutdown.
#include <QtTest>

#include "support/Rig.h"
#include "support/TestText.h"

using namespace dervix;
using namespace dervix::test;

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void emptySectionAsksForConfigurationAndEnds();
    void missingKeyMessages_data();
    void missingKeyMessages();
    void leftoverRunIsDroppedUncounted();
    void loggingSwitch_data();
    void loggingSwitch();
    void positionIsKeptOnScreen_data();
    void positionIsKeptOnScreen();
    void heightEndsBelowButtons();
    void frameCloseSavesSignedPosition();
    void closeWithoutAKnownPositionKeepsTheStoredOne();
    void exitSavesNothing();
    void goodSettingsOpenPortAndSendCheck();
    void openFailures_data();
    void openFailures();
    void portsSectionMapsDevice();
};

void StartupTest::emptySectionAsksForConfigurationAndEnds() {
    Rig rig;
    rig.profile.content = "[Dervix]\n";
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, rig.w->Form_Load());
    QVERIFY(!rig.profile.has("Running"));
    QVERIFY(rig.profile.has("ErrorStatus"));
    QCOMPARE(rig.profile.get("ErrorStatus"), std::string());
    QCOMPARE(rig.w->g.LogEnabled, 0.0);
    QCOMPARE(rig.w->form.top, 0);
    QCOMPARE(rig.w->form.left, 0);
    QCOMPARE(rig.w->g.LinkState, kReady);
    QCOMPARE(rig.dialogs.boxes.size(), 1u);
    QCOMPARE(Q(rig.dialogs.boxes[0].prompt),
             QByteArray("System error or dervantix has not been configured:\r\rDervantix code has not been set!"
                        "\r\rClick <OK> to configure the Corvane Dervantix"));
    QCOMPARE(rig.dialogs.boxes[0].flags, MsgBox::Critical);
    QCOMPARE(Q(rig.dialogs.boxes[0].title), QByteArray("Dervix"));
    QVERIFY(rig.logFile.lines.empty());
    QVERIFY(rig.serial.frames.empty());
    QVERIFY(!rig.profile.has("FormTop"));
}

void StartupTest::missingKeyMessages_data() {
    QTest::addColumn<bool>("settings");
    QTest::addColumn<bool>("port");
    QTest::addColumn<bool>("module");
    QTest::addColumn<QString>("message");
    QTest::newRow("all absent") << false << false << false << "Dervantix code has not been set!";
    QTest::newRow("module empty") << true << true << false << "Dervantix code has not been set!";
    QTest::newRow("settings absent") << false << true << true << "Serial port has not been configured!";
    QTest::newRow("port absent") << true << false << true << "Serial port has not been selected!";
    QTest::newRow("complete") << true << true << true << "";
}

void StartupTest::missingKeyMessages() {
    QFETCH(bool, settings);
    QFETCH(bool, port);
    QFETCH(bool, module);
    QFETCH(QString, message);
    Rig rig;
    if (settings) rig.profile.write("Dervix", "Settings", "19200,N,8,1");
    if (port) rig.profile.write("Dervix", "CommPort", "2");
    rig.profile.write("Dervix", "ModuleID", module ? "12" : "");
    QCOMPARE(QString::fromStdString(rig.w->settings.CheckSettings(rig.w->g)), message);
    QCOMPARE(rig.w->g.ModuleAddress, static_cast<std::uint8_t>(module ? 12 : 0));
}

void StartupTest::leftoverRunIsDroppedUncounted() {
    Rig rig;
    rig.configure();
    rig.profile.write("Dervix", "Running", "2026-12-01T08:00:00+00:00");
    rig.profile.write("Dervix", "Rotations", " 77");
    rig.profile.write("Dervix", "ErrorStatus", "STATUS");
    rig.w->Form_Load();
    QVERIFY(rig.profile.has("Running"));
    QCOMPARE(rig.profile.get("Running"), std::string());
    QCOMPARE(rig.profile.get("ErrorStatus"), std::string());
    QCOMPARE(rig.profile.get("Rotations"), std::string("77"));
}

void StartupTest::loggingSwitch_data() {
    QTest::addColumn<QString>("logging");
    QTest::addColumn<bool>("on");
    QTest::newRow("absent") << QString() << false;
    QTest::newRow("yes") << "yes" << false;
    QTest::newRow("0") << "0" << false;
    QTest::newRow("-1") << "-1" << false;
    QTest::newRow("1") << "1" << true;
    QTest::newRow("2") << "2" << true;
}

void StartupTest::loggingSwitch() {
    QFETCH(QString, logging);
    QFETCH(bool, on);
    Rig rig;
    rig.configure();
    if (!logging.isNull()) rig.profile.write("Dervix", "Logging", logging.toStdString());
    rig.w->Form_Load();
    QCOMPARE(rig.w->g.LogEnabled > 0, on);
    QCOMPARE(rig.logFile.lines.empty(), !on);
    if (on) {
        QCOMPARE(rig.logFile.lastPath, RigAppPath() + "/Dervix.txt");
        QCOMPARE(CountContaining(rig.logFile.lines, "Send Command - [CHECK]"), 1);
    }
}

void StartupTest::positionIsKeptOnScreen_data() {
    QTest::addColumn<QString>("top");
    QTest::addColumn<QString>("left");
    QTest::addColumn<int>("screenHeight");
    QTest::addColumn<QSize>("real");  // the window's size with its frame, twips; none: not known
    QTest::addColumn<int>("expectedTop");
    QTest::addColumn<int>("expectedLeft");
    const QSize none;
    QTest::newRow("pulled up") << "20000" << "100" << 11520 << none << 7520 << 100;
    QTest::newRow("exactly at the edge stays") << "7520" << "0" << 11520 << none << 7520 << 0;
    QTest::newRow("pulled left") << "0" << "30000" << 11520 << none << 0 << 19200 - FrmDervix::kDesignWidth;
    QTest::newRow("negative kept") << "-300" << "-500" << 11520 << none << -300 << -500;
    QTest::newRow("signed form") << " 2880" << " 1440" << 11520 << none << 2880 << 1440;
    QTest::newRow("not a number") << "top" << "" << 11520 << none << 0 << 0;
    QTest::newRow("smaller window pulled by the design")
        << "20000" << "30000" << 11520 << QSize(2500, 3400) << 7520 << 19200 - FrmDervix::kDesignWidth;
    QTest::newRow("larger window pulled by its frame")
        << "20000" << "30000" << 11520 << QSize(3300, 4450) << 7070 << 15900;
}

void StartupTest::positionIsKeptOnScreen() {
    QFETCH(QString, top);
    QFETCH(QString, left);
    QFETCH(int, screenHeight);
    QFETCH(QSize, real);
    QFETCH(int, expectedTop);
    QFETCH(int, expectedLeft);
    Rig rig;
    rig.configure();
    rig.screen.screen = {19200, screenHeight};
    if (real.isValid()) rig.w->setSizeSource([real] { return Geometry{0, 0, real.width(), real.height()}; });
    rig.profile.write("Dervix", "FormTop", top.toStdString());
    rig.profile.write("Dervix", "FormLeft", left.toStdString());
    rig.w->Form_Load();
    QCOMPARE(FrmDervix::kDesignHeight, 4000);
    QCOMPARE(rig.w->form.top, expectedTop);
    QCOMPARE(rig.w->form.left, expectedLeft);
}

void StartupTest::heightEndsBelowButtons() {
    Rig rig;
    rig.configure();
    rig.w->Form_Load();
    QCOMPARE(rig.w->form.height, 3206);  // 315 x 3.7 + 2040
}

void StartupTest::frameCloseSavesSignedPosition() {
    Rig rig;
    rig.configure();
    rig.w->Form_Load();
    rig.w->form.top = 2880;
    rig.w->form.left = -500;
    rig.w->Form_Unload();
    QVERIFY(!rig.serial.isOpen());
    QVERIFY(rig.profile.content.find("FormTop= 2880") != std::string::npos);
    QVERIFY(rig.profile.content.find("FormLeft=-500") != std::string::npos);
    QCOMPARE(rig.serial.frames.size(), 1u);  // nothing sent at shutdown
}

void StartupTest::closeWithoutAKnownPositionKeepsTheStoredOne() {
    Rig rig;
    rig.configure();
    rig.profile.write("Dervix", "FormTop", "20000");
    rig.profile.write("Dervix", "FormLeft", "4500");
    rig.w->Form_Load();  // pulls the top back onto the screen
    rig.w->positionKnown = false;
    rig.w->form = {-450, -45, 0, 0};
    rig.w->Form_Unload();
    QVERIFY(!rig.serial.isOpen());
    QCOMPARE(Q(rig.profile.get("FormTop")), QByteArray("20000"));
    QCOMPARE(Q(rig.profile.get("FormLeft")), QByteArray("4500"));
}

void StartupTest::exitSavesNothing() {
    Rig rig;
    rig.configure();
    rig.w->Form_Load();
    rig.w->form.top = 2880;
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, rig.w->mnuQuit_Click());
    QVERIFY(!rig.profile.has("FormTop"));
    QVERIFY(!rig.profile.has("FormLeft"));
}

void StartupTest::goodSettingsOpenPortAndSendCheck() {
    Rig rig;
    rig.configure();
    rig.profile.write("Dervix", "ErrorStatus", "STOP");
    rig.w->Form_Load();
    QVERIFY(rig.serial.isOpen());
    QCOMPARE(rig.serial.device, StandardPort(1));
    QCOMPARE(rig.serial.line.baud, 19200);
    QCOMPARE(rig.serial.line.parity, 'N');
    QCOMPARE(rig.serial.line.dataBits, 8);
    QCOMPARE(rig.serial.line.stopBits, 1);
    QVERIFY(rig.serial.dtr);
    QCOMPARE(rig.serial.inSize, 128);
    QCOMPARE(rig.profile.get("ErrorStatus"), std::string());
    QCOMPARE(Q(rig.serial.frames.at(0)), QByteArray("\x47\x31\x25\x0D\x0A"));
    QCOMPARE(rig.w->g.LinkState, kWaiting);
}

void StartupTest::openFailures_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("openFails");
    QTest::addColumn<QByteArray>("failure");
    QTest::newRow("no such port") << "1" << "19200,N,8,1" << true
                                  << QByteArray("8002 Invalid port number(COM1,19200,N,8,1)");
    QTest::newRow("port 0") << "0" << "19200,N,8,1" << false
                            << QByteArray("8002 Invalid port number(COM0,19200,N,8,1)");
    QTest::newRow("not a number") << "one" << "19200,N,8,1" << false
                                  << QByteArray("13 Type mismatch(COMone,19200,N,8,1)");
    QTest::newRow("exponent without digits") << "1e" << "19200,N,8,1" << false
                                             << QByteArray("13 Type mismatch(COM1e,19200,N,8,1)");
    QTest::newRow("two numbers") << "1 2" << "19200,N,8,1" << false
                                 << QByteArray("13 Type mismatch(COM1 2,19200,N,8,1)");
    QTest::newRow("a lone point") << "." << "19200,N,8,1" << false
                                  << QByteArray("13 Type mismatch(COM.,19200,N,8,1)");
    QTest::newRow("number with exponent") << "+.5E+1" << "19200,N,8,1" << true
                                          << QByteArray("8002 Invalid port number(COM+.5E+1,19200,N,8,1)");
    QTest::newRow("bad settings") << "1" << "fast" << false
                                  << QByteArray("380 Invalid property value(COM1,fast)");
}

void StartupTest::openFailures() {
    QFETCH(QString, port);
    QFETCH(QString, settings);
    QFETCH(bool, openFails);
    QFETCH(QByteArray, failure);
    Rig rig;
    rig.profile.write("Dervix", "Settings", settings.toStdString());
    rig.profile.write("Dervix", "CommPort", port.toStdString());
    rig.profile.write("Dervix", "ModuleID", "1");
    if (openFails) rig.serial.failOpen = SerialError{8002, "Invalid port number"};
    QCOMPARE(Q(rig.w->link.OpenPort()), failure);
    rig.profile.write("Dervix", "ErrorStatus", "CHECK");
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, rig.w->Form_Load());
    QCOMPARE(rig.dialogs.boxes.size(), 1u);
    QCOMPARE(Q(rig.dialogs.boxes[0].prompt),
             "Error: Serial port configuration\r\r" + failure +
                 "\r\rThere is a problem with your serial port configuration. Try re-booting your computer and "
                 "try again.\rIf that does not work, type removing the serial port from your hardware "
                 "configuration and then\rre-installing the port.");
    QVERIFY(rig.serial.frames.empty());
    QVERIFY(!rig.serial.isOpen());
}

void StartupTest::portsSectionMapsDevice() {
    Rig rig;
    rig.configure();
    rig.profile.write("Ports", "com1", "/dev/ttyUSB0");
    rig.w->Form_Load();
    QCOMPARE(Q(rig.serial.device), QByteArray("/dev/ttyUSB0"));
}

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
