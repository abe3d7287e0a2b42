// The port and module configuration dialog against fakes: what it selects
// on opening, what OK stores and sends, and what Cancel leaves alone.
#include <QtTest>

#include "config/ConfigRig.h"
#include "support/TestText.h"

using namespace dervix;
using namespace dervix::test;

class TestConfigDialog : public QObject {
    Q_OBJECT
private slots:
    void emptyProfileOpensWithCom1AndZero();
    void selectionFromStoredValues_data();
    void selectionFromStoredValues();
    void okStoresChoicesAndTalksToTheNewAddress_data();
    void okStoresChoicesAndTalksToTheNewAddress();
    void portZeroStoresZeroAndReportsTheFailure();
    void cancelLeavesAnOpenPortOpen();
    void closingTheFrameActsLikeCancel();
    void okWhileTheValveRunsKeepsItRunning();
    void unopenablePortLeavesTheDialogHiddenButLoaded();
    void settingsThatDoNotReadBackKeepTheDialogOpen();
    void settingsThatCannotBeWrittenKeepTheDialogOpen();
    void openingAgainWhileOnScreenIsRefused();
};

void TestConfigDialog::emptyProfileOpensWithCom1AndZero() {
    ConfigRig rig;
    std::vector<std::string> ports, addresses;
    int portIndex = -2, addressIndex = -2, left = 0, top = 0;
    rig.views.scripts.push_back([&](ConfigDialog& d) {
        ports = d.cboPort.items();
        addresses = d.cboASaddr.items();
        portIndex = d.cboPort.listIndex();
        addressIndex = d.cboASaddr.listIndex();
        left = d.left;
        top = d.top;
        d.cmdOK.click();
    });
    rig.w->mnuCfg_Click();

    QCOMPARE(ports, (std::vector<std::string>{"Com1", "Com2", "Com3", "Com4"}));
    QCOMPARE(addresses, (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B", "C",
                                                  "D", "E", "F"}));
    QCOMPARE(portIndex, 0);
    QCOMPARE(addressIndex, 0);
    // Centred on the 19200 x 11520 twips screen of the fake.
    QCOMPARE(left, (19200 - ConfigDialog::kWidth) / 2);
    QCOMPARE(top, (11520 - ConfigDialog::kHeight) / 2);

    // The four choices in this order, then the port opening clears the error mark.
    QCOMPARE(rig.profile.writes, (std::vector<std::string>{"AppPath=" + RigAppPath(), "CommPort=1",
                                                            "Settings=19200,N,8,1", "ModuleID=0",
                                                            "ErrorStatus="}));
    QCOMPARE(rig.serial.device, StandardPort(1));
    QVERIFY(rig.serial.opened);
    QCOMPARE(rig.serial.frames, (std::vector<std::string>{"G0%\r\n"}));
    QCOMPARE(rig.w->g.CurrentCommand, std::string("CHECK"));
    QVERIFY(!rig.w->config.loaded());
    QCOMPARE(rig.views.hides, 1);
    QCOMPARE(rig.views.live, 0);
    QVERIFY(rig.dialogs.boxes.empty());
}

void TestConfigDialog::selectionFromStoredValues_data() {
    QTest::addColumn<QString>("commPort");
    QTest::addColumn<QString>("moduleId");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("address");
    QTest::newRow("first") << "1" << "0" << 0 << 0;
    QTest::newRow("last") << "4" << "15" << 3 << 15;
    QTest::newRow("port 0 chooses nothing") << "0" << "5" << -1 << 5;
    QTest::newRow("beyond both lists") << "7" << "20" << -1 << -1;
    QTest::newRow("no number") << "abc" << "x" << -1 << 0;
    QTest::newRow("fraction rounds half to even") << "2.5" << "3.5" << 2 << 4;
    QTest::newRow("leading blank") << " 3" << " 10" << 2 << 10;
}

void TestConfigDialog::selectionFromStoredValues() {
    QFETCH(QString, commPort);
    QFETCH(QString, moduleId);
    QFETCH(int, port);
    QFETCH(int, address);
    ConfigRig rig;
    rig.profile.write("Dervix", "CommPort", commPort.toStdString());
    rig.profile.write("Dervix", "ModuleID", moduleId.toStdString());
    int seenPort = -2, seenAddress = -2;
    rig.views.scripts.push_back([&](ConfigDialog& d) {
        seenPort = d.cboPort.listIndex();
        seenAddress = d.cboASaddr.listIndex();
        d.cmdCancel.click();
    });
    rig.w->mnuCfg_Click();
    QCOMPARE(seenPort, port);
    QCOMPARE(seenAddress, address);
}

void TestConfigDialog::okStoresChoicesAndTalksToTheNewAddress_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("ports");  // the profile's [Ports] section
    QTest::addColumn<QString>("commPort");
    QTest::addColumn<QString>("moduleId");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("address16");
    auto port = [](int number) { return QString::fromStdString(StandardPort(number)); };
    QTest::newRow("Com3 and A") << 2 << 10 << "" << "3" << "10" << port(3) << "A";
    QTest::newRow("Com4 and F") << 3 << 15 << "" << "4" << "15" << port(4) << "F";
    QTest::newRow("mapped Com2 and 0") << 1 << 0 << "Com2=/dev/ttyUSB0" << "2" << "0" << "/dev/ttyUSB0" << "0";
    // Stored by hand, not in the lists, and left alone by the operator.
    QTest::newRow("stored Com5 kept") << -1 << 3 << "Com5=/dev/ttyUSB5" << "5" << "3" << "/dev/ttyUSB5" << "3";
    QTest::newRow("stored address 16 kept") << 1 << -1 << "" << "2" << "16" << port(2) << "10";
}

void TestConfigDialog::okStoresChoicesAndTalksToTheNewAddress() {
    QFETCH(int, port);
    QFETCH(int, address);
    QFETCH(QString, ports);
    QFETCH(QString, commPort);
    QFETCH(QString, moduleId);
    QFETCH(QString, device);
    QFETCH(QString, address16);
    ConfigRig rig;
    if (!ports.isEmpty()) rig.profile.content = "[Ports]\n" + ports.toStdString() + "\n";
    rig.startAndAnswerCheck();
    QCOMPARE(rig.lastFrame(), std::string("G1F19\r\n"));
    const std::size_t before = rig.serial.frames.size();
    if (port < 0) rig.profile.write("Dervix", "CommPort", commPort.toStdString());
    if (address < 0) rig.profile.write("Dervix", "ModuleID", moduleId.toStdString());
    rig.profile.writes.clear();

    rig.choose(port, address);
    rig.w->mnuCfg_Click();

    QCOMPARE(rig.profile.writes,
             (std::vector<std::string>{"AppPath=" + RigAppPath(), "CommPort=" + commPort.toStdString(),
                                       "Settings=19200,N,8,1", "ModuleID=" + moduleId.toStdString(),
                                       "ErrorStatus="}));
    QCOMPARE(rig.profile.get("CommPort"), commPort.toStdString());
    QCOMPARE(rig.profile.get("ModuleID"), moduleId.toStdString());
    QCOMPARE(rig.serial.device, device.toStdString());
    const std::string g = "G" + address16.toStdString();
    QCOMPARE(rig.framesSince(before), (std::vector<std::string>{g + "%\r\n"}));
    // The module at the new address answers CHECK and gets the split again.
    rig.serial.deliver(g + "\r\n");
    QCOMPARE(rig.framesSince(before), (std::vector<std::string>{g + "%\r\n", g + "F19\r\n"}));
    QVERIFY(rig.dialogs.boxes.empty());
}

void TestConfigDialog::portZeroStoresZeroAndReportsTheFailure() {
    ConfigRig rig;
    rig.configure();
    rig.profile.write("Dervix", "CommPort", "0");
    rig.w->g.LogEnabled = 1;
    rig.pressOK();
    rig.w->mnuCfg_Click();

    QCOMPARE(rig.profile.get("CommPort"), std::string("0"));
    QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(rig.dialogs.boxes[0].prompt,
             std::string("Problem configuring serial port:\r8002 Invalid port number(COM0,19200,N,8,1)"));
    QCOMPARE(rig.dialogs.boxes[0].flags, MsgBox::Critical);
    QCOMPARE(rig.dialogs.boxes[0].title, std::string("Dervix"));
    QVERIFY(rig.logFile.lines.back().find("MSGBOX Problem configuring serial port:") != std::string::npos);
    QVERIFY(!rig.serial.opened);
    QVERIFY(rig.serial.frames.empty());
    QVERIFY(rig.w->config.loaded());
    QVERIFY(!rig.w->config.visible());
}

void TestConfigDialog::cancelLeavesAnOpenPortOpen() {
    ConfigRig rig;
    rig.startAndAnswerCheck();
    const std::size_t before = rig.serial.frames.size();
    const std::string profile = rig.profile.content;
    rig.profile.writes.clear();
    rig.views.scripts.push_back([](ConfigDialog& d) {
        d.cboPort.setListIndex(3);
        d.cboDevice.setListIndex(0);
        d.cboASaddr.setListIndex(7);
        d.cmdCancel.click();
    });
    rig.w->mnuCfg_Click();

    QVERIFY(rig.serial.opened);
    QCOMPARE(rig.serial.frames.size(), before);
    QVERIFY(rig.profile.writes.empty());
    QCOMPARE(rig.profile.content, profile);
    QVERIFY(!rig.w->config.loaded());
    QCOMPARE(rig.views.hides, 1);
}

void TestConfigDialog::closingTheFrameActsLikeCancel() {
    ConfigRig rig;
    rig.startAndAnswerCheck();
    const std::size_t before = rig.serial.frames.size();
    rig.profile.writes.clear();
    rig.w->mnuCfg_Click();  // no script: the operator closes the frame
    QCOMPARE(rig.views.opened, 1);
    QVERIFY(rig.serial.opened);
    QCOMPARE(rig.serial.frames.size(), before);
    QVERIFY(rig.profile.writes.empty());
    QVERIFY(!rig.w->config.loaded());
}

void TestConfigDialog::okWhileTheValveRunsKeepsItRunning() {
    ConfigRig rig;
    rig.startAndAnswerCheck();
    rig.w->cmdStart.click();
    rig.serial.deliver("G1\r\n");
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Stop"));
    const std::string running = rig.profile.get("Running");
    QVERIFY(!running.empty());
    const std::size_t before = rig.serial.frames.size();

    rig.pressOK();
    rig.w->mnuCfg_Click();
    // The fake refuses to open a port that is open: no box means it was
    // closed before it was opened again.
    QVERIFY(rig.dialogs.boxes.empty());
    QVERIFY(rig.serial.opened);
    rig.serial.deliver("G1\r\n");

    QCOMPARE(rig.framesSince(before), (std::vector<std::string>{"G1%\r\n", "G1F19\r\n"}));
    QCOMPARE(rig.w->cmdStart.caption(), std::string("&Stop"));
    QCOMPARE(rig.profile.get("Running"), running);
}

void TestConfigDialog::unopenablePortLeavesTheDialogHiddenButLoaded() {
    ConfigRig rig;
    rig.startAndAnswerCheck();
    const std::size_t before = rig.serial.frames.size();
    rig.serial.failOpen = SerialError{8002, "Invalid port number"};
    rig.choose(2, 10);
    rig.w->mnuCfg_Click();

    QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(rig.dialogs.boxes[0].prompt,
             std::string("Problem configuring serial port:\r8002 Invalid port number(COM3,19200,N,8,1)"));
    QVERIFY(!rig.serial.opened);
    QCOMPARE(rig.serial.frames.size(), before);
    QVERIFY(rig.w->config.loaded());
    QVERIFY(!rig.w->config.visible());
    QCOMPARE(rig.views.live, 0);

    // Reopened, it shows the last choices: the load steps do not run, so a
    // profile changed meanwhile does not show.
    rig.profile.write("Dervix", "CommPort", "1");
    rig.serial.failOpen.reset();
    int port = -2, address = -2;
    rig.views.scripts.push_back([&](ConfigDialog& d) {
        port = d.cboPort.listIndex();
        address = d.cboASaddr.listIndex();
        d.cmdOK.click();
    });
    rig.w->mnuCfg_Click();
    QCOMPARE(port, 2);
    QCOMPARE(address, 10);
    QCOMPARE(rig.lastFrame(), std::string("GA%\r\n"));
    QVERIFY(!rig.w->config.loaded());
}

void TestConfigDialog::settingsThatDoNotReadBackKeepTheDialogOpen() {
    ConfigRig rig;
    rig.startAndAnswerCheck();
    // Edited by hand: a quoted blank. The list has no entry for it, and the
    // blank alone, stored back as it was, reads as no port at all.
    const std::size_t at = rig.profile.content.find("CommPort=1");
    QVERIFY(at != std::string::npos);
    rig.profile.content.replace(at, 10, "CommPort=\" \"");
    const std::size_t before = rig.serial.frames.size();
    bool stillVisible = false;
    bool portOpenAtBox = true;
    rig.views.scripts.push_back([&](ConfigDialog& d) {
        QCOMPARE(d.cboPort.listIndex(), -1);
        d.cmdOK.click();  // with no port chosen
        stillVisible = d.visible();
        portOpenAtBox = rig.serial.opened;
        d.cboPort.setListIndex(1);
        d.cmdOK.click();
    });
    rig.w->mnuCfg_Click();

    QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(rig.dialogs.boxes[0].prompt,
             std::string("Problem reading serial port settings from WIN.INI:\rSerial port has not been selected!"));
    QCOMPARE(rig.dialogs.boxes[0].flags, MsgBox::Critical);
    QVERIFY(stillVisible);
    QVERIFY(!portOpenAtBox);
    QCOMPARE(rig.profile.get("CommPort"), std::string("2"));
    QCOMPARE(rig.serial.device, StandardPort(2));
    QCOMPARE(rig.framesSince(before), (std::vector<std::string>{"G1%\r\n"}));
    QVERIFY(!rig.w->config.loaded());
}

void TestConfigDialog::settingsThatCannotBeWrittenKeepTheDialogOpen() {
    ConfigRig rig;
    rig.startAndAnswerCheck();
    const std::size_t before = rig.serial.frames.size();
    rig.profile.failWrites = true;
    bool stillVisible = false;
    rig.views.scripts.push_back([&](ConfigDialog& d) {
        d.cboPort.setListIndex(1);
        d.cmdOK.click();
        stillVisible = d.visible();
        d.cmdCancel.click();
    });
    rig.w->mnuCfg_Click();

    QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
    QCOMPARE(rig.dialogs.boxes[0].prompt, std::string("Problem reading serial port settings from WIN.INI:\r"
                                                      "The settings could not be written to the profile."));
    QVERIFY(stillVisible);
    QCOMPARE(rig.profile.get("CommPort"), std::string("1"));
    QCOMPARE(rig.serial.frames.size(), before);
}

void TestConfigDialog::openingAgainWhileOnScreenIsRefused() {
    ConfigRig rig;
    rig.startAndAnswerCheck();
    rig.views.scripts.push_back([&rig](ConfigDialog& d) {
        rig.w->config.showModal();  // e.g. a silent module asks for it meanwhile
        QVERIFY(d.visible());
        d.cmdCancel.click();
    });
    rig.views.scripts.push_back([](ConfigDialog& d) { d.cmdOK.click(); });
    rig.w->mnuCfg_Click();
    QCOMPARE(rig.views.opened, 1);
    QCOMPARE(rig.views.scripts.size(), std::size_t(1));
    QVERIFY(!rig.w->config.loaded());
}

QTEST_GUILESS_MAIN(TestConfigDialog)
#include "tst_configdialog.moc"
