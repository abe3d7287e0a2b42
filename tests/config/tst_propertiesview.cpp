// What the operator sees and does in the configuration dialog's window.
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "platform/qt/QtDesktop.h"
#include "config/ui/PropertiesView.h"
#include "support/Rig.h"
#include "support/TestText.h"
#include "support/WidgetHelpers.h"

using namespace dervix;
using namespace dervix::test;

namespace {

QStringList Items(QComboBox* box, int role = Qt::DisplayRole) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemData(i, role).toString();
    return items;
}

struct Seen {
    QString title, label1, label2, device, port, address, okText, cancelText;
    QStringList ports, tips, addresses, devices;
    bool okDefault = false;
    QPoint pos;
    QSize size;
    int dpiX = 0, dpiY = 0;
};

Seen Look(QWidget* dialog) {
    Seen s;
    s.title = dialog->windowTitle();
    s.label1 = dialog->findChild<QLabel*>("Label1")->text();
    s.label2 = dialog->findChild<QLabel*>("Label2")->text();
    s.device = dialog->findChild<QLabel*>("lblDevice")->text();
    auto* port = dialog->findChild<QComboBox*>("cboPort");
    auto* address = dialog->findChild<QComboBox*>("cboASaddr");
    s.port = port->currentText();
    s.address = address->currentText();
    s.ports = Items(port);
    s.tips = Items(port, Qt::ToolTipRole);
    s.addresses = Items(address);
    s.devices = Items(dialog->findChild<QComboBox*>("cboDevice"));
    auto* ok = dialog->findChild<QPushButton*>("cmdOK");
    s.okText = ok->text();
    s.okDefault = ok->isDefault();
    s.cancelText = dialog->findChild<QPushButton*>("cmdCancel")->text();
    s.pos = dialog->pos();
    s.size = dialog->size();
    s.dpiX = dialog->logicalDpiX();
    s.dpiY = dialog->logicalDpiY();
    return s;
}

// Opens the dialog from the menu, looks at it, and leaves by the named button.
Seen OpenAndLook(dervix::test::Rig& rig, const char* button) {
    Seen seen;
    WhenModal([&](QWidget* dialog) {
        seen = Look(dialog);
        dialog->findChild<QPushButton*>(button)->click();
    });
    rig.w->mnuCfg_Click();
    return seen;
}

}  // namespace

class TestPropertiesView : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void showsTheChoicesAndTheirDevices();
    void keyboardChoiceAndEnterStore();
    void escapeLeavesEverythingAsItWas();
    void reopenedAfterAFailedPortShowsTheLastChoices();
    void oneAdapterInAnothersPlaceIsShown();
    void centredOnItsRealSize_data();
    void centredOnItsRealSize();
};

void TestPropertiesView::showsTheChoicesAndTheirDevices() {
    Rig rig;
    rig.profile.content = "[Ports]\nCom2=/dev/ttyUSB0\n";
    rig.profile.write("Dervix", "CommPort", "2");
    rig.profile.write("Dervix", "ModuleID", "10");
    InstallPropertiesView(*rig.w, nullptr);
    const Seen seen = OpenAndLook(rig, "cmdCancel");

    QCOMPARE(seen.title, QString("Corvane Dervantix - Configuration"));
    QCOMPARE(seen.label1, QString("PC COM Port:"));
    QCOMPARE(seen.label2, QString("Module Address:"));
    QCOMPARE(seen.ports, (QStringList{"Com1", "Com2", "Com3", "Com4"}));
    auto tip = [](int port) { return QString::fromStdString("Device: " + StandardPort(port)); };
    QCOMPARE(seen.tips, (QStringList{tip(1), "Device: /dev/ttyUSB0", tip(3), tip(4)}));
    QCOMPARE(seen.addresses, (QStringList{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B", "C", "D",
                                          "E", "F"}));
    QCOMPARE(seen.port, QString("Com2"));
    QCOMPARE(seen.address, QString("A"));
    QCOMPARE(seen.device, QString("Device: /dev/ttyUSB0"));
    QCOMPARE(seen.devices, QStringList{"/dev/ttyUSB0 (not present)"});
    QCOMPARE(seen.okText, QString("OK"));
    QCOMPARE(seen.cancelText, QString("Cancel"));
    QVERIFY(seen.okDefault);
    // Centred on the fake's screen, converted at the dialog's logical DPI.
    QCOMPARE(seen.pos, QPoint(TwipsToPixels(rig.w->config.left, seen.dpiX),
                              TwipsToPixels(rig.w->config.top, seen.dpiY)));
    QCOMPARE(rig.profile.writes.size(), std::size_t(2));  // only the two set up above
}

void TestPropertiesView::keyboardChoiceAndEnterStore() {
    Rig rig;
    rig.configure();
    InstallPropertiesView(*rig.w, nullptr);
    QString device;
    WhenModal([&](QWidget* dialog) {
        auto* port = dialog->findChild<QComboBox*>("cboPort");
        auto* address = dialog->findChild<QComboBox*>("cboASaddr");
        port->setFocus();
        QTest::keyClick(port, Qt::Key_Down);
        QTest::keyClick(port, Qt::Key_Down);
        address->setFocus();
        QTest::keyClick(address, Qt::Key_End);
        device = dialog->findChild<QLabel*>("lblDevice")->text();
        QTest::keyClick(address, Qt::Key_Return);
    });
    rig.w->mnuCfg_Click();
    QCOMPARE(device, QString::fromStdString("Device: " + StandardPort(3)));
    QCOMPARE(rig.profile.get("CommPort"), std::string("3"));
    QCOMPARE(rig.profile.get("ModuleID"), std::string("15"));
    QCOMPARE(rig.lastFrame(), std::string("GF%\r\n"));
    QVERIFY(!rig.w->config.loaded());
}

void TestPropertiesView::escapeLeavesEverythingAsItWas() {
    Rig rig;
    InstallPropertiesView(*rig.w, nullptr);
    rig.startAndAnswerCheck();
    const std::size_t frames = rig.serial.frames.size();
    rig.profile.writes.clear();
    WhenModal([&](QWidget* dialog) {
        auto* port = dialog->findChild<QComboBox*>("cboPort");
        port->setFocus();
        QTest::keyClick(port, Qt::Key_Down);
        QTest::keyClick(port, Qt::Key_Escape);
    });
    rig.w->mnuCfg_Click();
    QVERIFY(rig.profile.writes.empty());
    QVERIFY(rig.serial.opened);
    QCOMPARE(rig.serial.frames.size(), frames);
    QVERIFY(!rig.w->config.loaded());
}

void TestPropertiesView::reopenedAfterAFailedPortShowsTheLastChoices() {
    Rig rig;
    rig.startAndAnswerCheck();
    InstallPropertiesView(*rig.w, nullptr);
    rig.serial.failOpen = SerialError{8002, "Invalid port number"};
    WhenModal([&](QWidget* dialog) {
        dialog->findChild<QComboBox*>("cboPort")->setCurrentIndex(3);
        dialog->findChild<QComboBox*>("cboASaddr")->setCurrentIndex(12);
        dialog->findChild<QPushButton*>("cmdOK")->click();
    });
    rig.w->mnuCfg_Click();
    QCOMPARE(rig.dialogs.boxes.size(), std::size_t(1));
    QVERIFY(rig.w->config.loaded());

    rig.serial.failOpen.reset();
    const Seen seen = OpenAndLook(rig, "cmdOK");
    QCOMPARE(seen.port, QString("Com4"));
    QCOMPARE(seen.address, QString("C"));
    QCOMPARE(rig.lastFrame(), std::string("GC%\r\n"));
    // Each opening's window is gone once it has been closed.
    QCOMPARE(QApplication::topLevelWidgets().size(), 0);
}

// Pulled out and another plugged in while the dialog is open: the list keeps
// its length, and must still show the new adapter, and choosing it by mouse
// stores its stable name.
void TestPropertiesView::oneAdapterInAnothersPlaceIsShown() {
    Rig rig;
    rig.configure();
    rig.devices.plug({StandardPort(1), "", ""});
    rig.devices.plug({"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_A50285BI", "FT232R USB UART"});
    InstallPropertiesView(*rig.w, nullptr);
    QStringList before, after;
    QString note;
    WhenModal([&](QWidget* dialog) {
        auto* devices = dialog->findChild<QComboBox*>("cboDevice");
        before = Items(devices);
        rig.devices.unplug("/dev/ttyUSB0");
        rig.devices.plug({"/dev/ttyUSB1", "/dev/serial/by-id/usb-Prolific_77", "USB-Serial \u00b5C \u2014 Prolific"});
        after = Items(devices);
        devices->setCurrentIndex(1);
        note = dialog->findChild<QLabel*>("lblDevice")->text();
        dialog->findChild<QPushButton*>("cmdOK")->click();
    });
    rig.w->mnuCfg_Click();
    QCOMPARE(before, (QStringList{StandardPortShown(1), QString::fromUtf8("ttyUSB0 \u2014 FT232R USB UART")}));
    QCOMPARE(after, (QStringList{StandardPortShown(1), QString::fromUtf8("ttyUSB1 \u2014 USB-Serial \u00b5C \u2014 Prolific")}));
    QCOMPARE(note, QString("Device: /dev/serial/by-id/usb-Prolific_77"));
    QCOMPARE(rig.profile.read("Ports", "Com1").value_or(""), std::string("/dev/serial/by-id/usb-Prolific_77"));
}

void TestPropertiesView::centredOnItsRealSize_data() {
    QTest::addColumn<int>("points");
    QTest::newRow("9 pt") << 9;
    QTest::newRow("13 pt") << 13;
}

void TestPropertiesView::centredOnItsRealSize() {
    QFETCH(int, points);
    DesktopFont font(points);
    Rig rig;
    rig.configure();
    InstallPropertiesView(*rig.w, nullptr);
    const Seen seen = OpenAndLook(rig, "cmdCancel");
    // The rig's screen is 1280 x 768 pixels; the dialog's middle is its middle.
    const QRect shown(seen.pos, seen.size);
    QVERIFY2(std::abs(shown.x() + shown.width() / 2 - 640) <= 1, qPrintable(QString::number(shown.x())));
    QVERIFY2(std::abs(shown.y() + shown.height() / 2 - 384) <= 1, qPrintable(QString::number(shown.y())));
}

QTEST_MAIN(TestPropertiesView)
#include "tst_propertiesview.moc"
