// Reading and writing settings, and the settings check before the port opens.
#include <QtTest>

#include <string>

#include "shell/Settings.h"
#include "support/Fakes.h"

using dervix::Globals;
using dervix::Settings;
using dervix::test::FakeProfileStore;

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void keyNamesIgnoreCase();
    void longValueCutTo254_data();
    void longValueCutTo254();
    void emptyAndAbsentBothReadEmpty();
    void writeReportsStoreResult();
    void checkSettings_data();
    void checkSettings();
};

void TestSettings::keyNamesIgnoreCase() {
    FakeProfileStore store;
    Settings settings(store);
    settings.WriteIniValue("Dervix", "SplitCode", "7");
    QCOMPARE(settings.GetIniValue("Dervix", "Splitcode"), std::string("7"));
    settings.WriteIniValue("dervix", "SPLITCODE", "9");
    QCOMPARE(settings.GetIniValue("Dervix", "Splitcode"), std::string("9"));
    // One section, one key: the later write replaced the value in place.
    QCOMPARE(QByteArray::fromStdString(store.content), QByteArray("[Dervix]\nSplitCode=9\n"));
}

void TestSettings::longValueCutTo254_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("readLength");
    QTest::newRow("253") << 253 << 253;
    QTest::newRow("254") << 254 << 254;
    QTest::newRow("255") << 255 << 254;
    QTest::newRow("300") << 300 << 254;
}

void TestSettings::longValueCutTo254() {
    QFETCH(int, length);
    QFETCH(int, readLength);
    FakeProfileStore store;
    Settings settings(store);
    std::string value;
    for (int i = 0; i < length; ++i) value.push_back(static_cast<char>('a' + i % 26));
    settings.WriteIniValue("Dervix", "FlowRate", value);
    // The whole value is stored; only the reader is limited.
    QCOMPARE(store.get("FlowRate").size(), std::size_t(length));
    const std::string read = settings.GetIniValue("Dervix", "FlowRate");
    QCOMPARE(int(read.size()), readLength);
    QCOMPARE(read, value.substr(0, std::size_t(readLength)));
}

void TestSettings::emptyAndAbsentBothReadEmpty() {
    FakeProfileStore store;
    Settings settings(store);
    QCOMPARE(settings.GetIniValue("Dervix", "Running"), std::string());
    QVERIFY(!store.has("Running"));
    settings.WriteIniValue("Dervix", "Running", "");
    QVERIFY(store.has("Running"));
    QCOMPARE(settings.GetIniValue("Dervix", "Running"), std::string());
    QCOMPARE(QByteArray::fromStdString(store.content), QByteArray("[Dervix]\nRunning=\n"));
}

namespace {
class RefusingStore : public FakeProfileStore {
public:
    bool write(const std::string&, const std::string&, const std::string&) override { return false; }
};
}  // namespace

void TestSettings::writeReportsStoreResult() {
    FakeProfileStore good;
    RefusingStore bad;
    QVERIFY(Settings(good).WriteIniValue("Dervix", "A", "1"));
    QVERIFY(!Settings(bad).WriteIniValue("Dervix", "A", "1"));
}

void TestSettings::checkSettings_data() {
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("portSettings");
    QTest::addColumn<QString>("portNumber");

    const QString full = "Settings=19200,N,8,1\nCommPort=2\n";
    QTest::newRow("complete") << full + "ModuleID=5\n" << "" << 5 << "19200,N,8,1" << "2";
    QTest::newRow("all three absent") << "" << "Dervantix code has not been set!" << 0 << "" << "";
    QTest::newRow("Settings absent only")
        << "CommPort=2\nModuleID=5\n" << "Serial port has not been configured!" << 5 << "" << "2";
    QTest::newRow("CommPort absent only")
        << "Settings=19200,N,8,1\nModuleID=5\n" << "Serial port has not been selected!" << 5 << "19200,N,8,1"
        << "";
    QTest::newRow("Settings and CommPort absent")
        << "ModuleID=5\n" << "Serial port has not been selected!" << 5 << "" << "";
    QTest::newRow("ModuleID empty") << full + "ModuleID=\n" << "Dervantix code has not been set!" << 0
                                    << "19200,N,8,1" << "2";
    QTest::newRow("Settings empty, ModuleID absent")
        << "Settings=\nCommPort=2\n" << "Dervantix code has not been set!" << 0 << "" << "2";
    QTest::newRow("ModuleID not numeric is set, address 0")
        << full + "ModuleID=abc\n" << "" << 0 << "19200,N,8,1" << "2";
    QTest::newRow("ModuleID 15") << full + "ModuleID=15\n" << "" << 15 << "19200,N,8,1" << "2";
    QTest::newRow("ModuleID half rounds to even (2.5)") << full + "ModuleID=2.5\n" << "" << 2 << "19200,N,8,1"
                                                        << "2";
    QTest::newRow("ModuleID half rounds to even (3.5)") << full + "ModuleID=3.5\n" << "" << 4 << "19200,N,8,1"
                                                        << "2";
    QTest::newRow("ModuleID 255 still fits") << full + "ModuleID=255\n" << "" << 255 << "19200,N,8,1" << "2";
    QTest::newRow("ModuleID 256 does not fit")
        << full + "ModuleID=256\n" << "Dervantix code has not been set!" << 0 << "19200,N,8,1" << "2";
    QTest::newRow("ModuleID negative")
        << full + "ModuleID=-1\n" << "Dervantix code has not been set!" << 0 << "19200,N,8,1" << "2";
    QTest::newRow("ModuleID -0.4 rounds to 0") << full + "ModuleID=-0.4\n" << "" << 0 << "19200,N,8,1" << "2";
    QTest::newRow("names in other case")
        << "settings=19200,N,8,1\ncommport=3\nmoduleid=4\n" << "" << 4 << "19200,N,8,1" << "3";
}

void TestSettings::checkSettings() {
    QFETCH(QString, profile);
    QFETCH(QString, message);
    QFETCH(int, address);
    QFETCH(QString, portSettings);
    QFETCH(QString, portNumber);

    FakeProfileStore store;
    store.content = "[Dervix]\n" + profile.toStdString();
    Settings settings(store);
    Globals g;
    g.ModuleAddress = 77;  // must be overwritten in every case
    QCOMPARE(QString::fromStdString(settings.CheckSettings(g)), message);
    QCOMPARE(int(g.ModuleAddress), address);
    QCOMPARE(QString::fromStdString(g.PortSettings), portSettings);
    QCOMPARE(QString::fromStdString(g.PortNumber), portNumber);
    QVERIFY(store.writes.empty());  // the check only reads
}

QTEST_APPLESS_MAIN(TestSettings)
#include "tst_settings.moc"
