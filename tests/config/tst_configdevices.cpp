// The configuration dialog's list of this computer's serial devices against
// fakes: what it shows and selects, how it follows plugging, what OK stores.
#include <QtTest>

#include "config/ConfigRig.h"
#include "support/TestText.h"

using namespace dervix;
using namespace dervix::test;

namespace {

const std::string kByIdU0 = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";

// Devices a test can plug in by name.
SerialDeviceInfo Device(const QString& name) {
    if (name == "S0") return {StandardPort(1), "", ""};
    if (name == "U0") return {"/dev/ttyUSB0", kByIdU0, "FT232R USB UART \xE2\x80\x94 FTDI \xE2\x80\x94 A50285BI"};
    if (name == "A0") return {"/dev/ttyACM0", "/dev/serial/by-id/usb-Arduino_Uno_7563-if00", "Uno \xE2\x80\x94 Arduino"};
    return {};
}

QStringList Shown(const ComboList& list) {
    QStringList items;
    for (const std::string& item : list.items()) items << QString::fromUtf8(item.c_str());
    return items;
}

}  // namespace

class TestConfigDevices : public QObject {
    Q_OBJECT
private slots:
    void deviceNoteFollowsTheChosenPort();
    void deviceListAndWhatOkStores_data();
    void deviceListAndWhatOkStores();
    void deviceListFollowsPluggingWhileOpen();
};

void TestConfigDevices::deviceNoteFollowsTheChosenPort() {
    ConfigRig rig;
    rig.profile.content = "[ports]\ncom2=/dev/ttyUSB0\n";
    rig.profile.write("Dervix", "CommPort", "2");
    std::vector<std::string> notes, devices, items;
    rig.views.scripts.push_back([&](ConfigDialog& d) {
        notes.push_back(d.lblDevice.caption());
        d.cboPort.setListIndex(0);
        notes.push_back(d.lblDevice.caption());
        d.cboPort.setListIndex(-1);
        notes.push_back(d.lblDevice.caption());
        for (int i = 0; i < ConfigDialog::kPorts; ++i) devices.push_back(d.deviceOf(i));
        items = d.cboPort.items();
        d.cmdCancel.click();
    });
    rig.w->mnuCfg_Click();
    QCOMPARE(notes, (std::vector<std::string>{"Device: /dev/ttyUSB0", "Device: " + StandardPort(1), ""}));
    QCOMPARE(devices, (std::vector<std::string>{StandardPort(1), "/dev/ttyUSB0", StandardPort(3), StandardPort(4)}));
    QCOMPARE(items, (std::vector<std::string>{"Com1", "Com2", "Com3", "Com4"}));
}

void TestConfigDevices::deviceListAndWhatOkStores_data() {
    QTest::addColumn<QString>("ports");         // the profile's [Ports] section
    QTest::addColumn<QStringList>("present");   // devices plugged in
    QTest::addColumn<QString>("alias");         // one more path reaching the last of them
    QTest::addColumn<int>("choose");            // the operator's entry, -1 none
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("stored");        // [Ports] Com1 after OK, empty when not written
    const QString u0 = QString::fromUtf8("ttyUSB0 \u2014 FT232R USB UART \u2014 FTDI \u2014 A50285BI");
    const QString byId = QString::fromStdString(kByIdU0);
    const QString s0 = StandardPortShown(1);
    QTest::newRow("mapped node selected, kept untouched")
        << "Com1=/dev/ttyUSB0" << QStringList{"S0", "U0"} << "" << -1 << QStringList{s0, u0} << 1 << "";
    QTest::newRow("mapped by-id link selected") << "Com1=" + byId << QStringList{"S0", "U0"} << "" << -1
                                                << QStringList{s0, u0} << 1 << "";
    QTest::newRow("mapped through a link of its own") << "Com1=/dev/dervantix" << QStringList{"S0", "U0"}
                                                      << "/dev/dervantix" << -1 << QStringList{s0, u0} << 1
                                                      << "";
    QTest::newRow("mapped device absent") << "Com1=/dev/ttyUSB3" << QStringList{"S0"} << "" << -1
                                          << QStringList{s0, "/dev/ttyUSB3 (not present)"} << 1 << "";
    QTest::newRow("standard port absent") << "" << QStringList{"U0"} << "" << -1
                                          << QStringList{u0, QString::fromStdString(StandardPort(1)) + " (not present)"} << 1 << "";
    QTest::newRow("chosen adapter stored by its by-id path")
        << "" << QStringList{"S0", "U0"} << "" << 1 << QStringList{s0, u0} << 0 << byId;
    QTest::newRow("chosen device without by-id stored by its node")
        << "Com1=/dev/ttyUSB0" << QStringList{"S0", "U0"} << "" << 0 << QStringList{s0, u0} << 1
        << QString::fromStdString(StandardPort(1));
    QTest::newRow("absent mapping replaced") << "Com1=/dev/ttyUSB3" << QStringList{"U0"} << "" << 0
                                             << QStringList{u0, "/dev/ttyUSB3 (not present)"} << 1 << byId;
}

void TestConfigDevices::deviceListAndWhatOkStores() {
    QFETCH(QString, ports);
    QFETCH(QStringList, present);
    QFETCH(QString, alias);
    QFETCH(int, choose);
    QFETCH(QStringList, items);
    QFETCH(int, selected);
    QFETCH(QString, stored);
    ConfigRig rig;
    if (!ports.isEmpty()) rig.profile.content = "[Ports]\n" + ports.toStdString() + "\n";
    rig.configure();
    for (int i = 0; i < present.size(); ++i) {
        std::vector<std::string> also;
        if (i == present.size() - 1 && !alias.isEmpty()) also.push_back(alias.toStdString());
        rig.devices.plug(Device(present[i]), also);
    }
    QStringList seen;
    int seenSelected = -2;
    rig.views.scripts.push_back([&](ConfigDialog& d) {
        seen = Shown(d.cboDevice);
        seenSelected = d.cboDevice.listIndex();
        if (choose >= 0) d.cboDevice.setListIndex(choose);
        d.cmdOK.click();
    });
    const std::string before = rig.profile.read("Ports", "Com1").value_or("");
    rig.w->mnuCfg_Click();

    QCOMPARE(seen, items);
    QCOMPARE(seenSelected, selected);
    std::vector<std::string> writes{"AppPath=" + RigAppPath(), "CommPort=1", "Settings=19200,N,8,1", "ModuleID=1"};
    if (!stored.isEmpty()) writes.insert(writes.begin(), "Com1=" + stored.toStdString());
    if (rig.dialogs.boxes.empty()) writes.push_back("ErrorStatus=");
    QCOMPARE(rig.profile.writes, writes);
    const std::string now = rig.profile.read("Ports", "Com1").value_or("");
    QCOMPARE(now, stored.isEmpty() ? before : stored.toStdString());
    // The port is opened on what is stored, whatever that is.
    QCOMPARE(rig.serial.device, now.empty() ? StandardPort(1) : now);
}

void TestConfigDevices::deviceListFollowsPluggingWhileOpen() {
    ConfigRig rig;
    rig.startAndAnswerCheck();
    rig.devices.plug(Device("S0"));
    const QString s0 = StandardPortShown(1);
    const QString u0 = QString::fromUtf8("ttyUSB0 \u2014 FT232R USB UART \u2014 FTDI \u2014 A50285BI");
    const QString a0 = QString::fromUtf8("ttyACM0 \u2014 Uno \u2014 Arduino");
    std::vector<QStringList> seen;
    std::vector<int> selected;
    int watchesOpen = 0;
    auto look = [&](ConfigDialog& d) {
        seen.push_back(Shown(d.cboDevice));
        selected.push_back(d.cboDevice.listIndex());
    };
    rig.views.scripts.push_back([&](ConfigDialog& d) {
        watchesOpen = rig.devices.liveWatches;
        look(d);
        rig.devices.plug(Device("U0"));
        look(d);
        d.cboDevice.setListIndex(1);
        rig.devices.unplug("/dev/ttyUSB0");  // the chosen one vanishes: still there, as missing
        look(d);
        rig.devices.plug(Device("A0"));
        rig.devices.plug(Device("U0"));
        look(d);
        d.cmdCancel.click();
    });
    rig.w->mnuCfg_Click();

    QCOMPARE(watchesOpen, 1);
    QCOMPARE(rig.devices.liveWatches, 0);
    QCOMPARE(seen, (std::vector<QStringList>{{s0},
                                             {s0, u0},
                                             {s0, QString::fromStdString(kByIdU0) + " (not present)"},
                                             {s0, a0, u0}}));
    QCOMPARE(selected, (std::vector<int>{0, 0, 1, 2}));
    QVERIFY(!rig.profile.read("Ports", "Com1").has_value());
}

QTEST_GUILESS_MAIN(TestConfigDevices)
#include "tst_configdevices.moc"
