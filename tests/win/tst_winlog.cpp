// Where the log goes on Windows and how its lines get there, in folders of
// the test's own.
#include <QtTest>

#include <string>

#include "platform/win/WinLineFile.h"
#include "platform/win/WinLogPlace.h"
#include "support/TestText.h"

using namespace dervix;
using namespace dervix::test;

class TestWinLog : public QObject {
    Q_OBJECT
private slots:
    void logPlace_data();
    void logPlace();
    void canAppend_data();
    void canAppend();
};

void TestWinLog::logPlace_data() {
    // "/x": the test folder's x; empty: unset; else as is, from the test folder.
    QTest::addColumn<QString>("dervixLog");
    QTest::addColumn<bool>("programWritable");
    QTest::addColumn<QString>("written");  // in the test folder; empty: no file gets the lines
    QTest::newRow("program folder writable") << "" << true << "prog/Dervix.txt";
    QTest::newRow("program folder not writable, folder made") << "" << false << "local/Dervix/Dervix.txt";
    QTest::newRow("DERVIX_LOG first, made absolute") << "mine.log" << true << "mine.log";
    QTest::newRow("DERVIX_LOG names a device") << "NUL" << false << "";
    QTest::newRow("DERVIX_LOG in a missing folder") << "/absent/mine.log" << false << "";
}

void TestWinLog::logPlace() {
    QFETCH(QString, dervixLog);
    QFETCH(bool, programWritable);
    QFETCH(QString, written);
    QTemporaryDir dir;
    QVERIFY(dir.isValid() && QDir(dir.path()).mkpath("prog"));
    const QString log = dervixLog.startsWith('/') ? dir.path() + dervixLog : dervixLog;
    log.isEmpty() ? qunsetenv("DERVIX_LOG") : qputenv("DERVIX_LOG", log.toLocal8Bit());
    qputenv("LOCALAPPDATA", QDir::toNativeSeparators(dir.filePath("local")).toLocal8Bit());
    const QString working = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    const std::string programFolder = dir.filePath("prog").toStdString();
    const LogPlace place = ChooseWinLogPlace(programFolder, [=](const std::string&) { return programWritable; });
    QVERIFY(QDir::setCurrent(working));

    WinLineFile file(place.folderToMake);
    const std::string one = file.append(place.path, "one\r\n");
    const std::string two = file.append(place.path, "two\r\n");
    if (written.isEmpty()) {
        QVERIFY(!one.empty() && !two.empty());
        QVERIFY(!QFileInfo::exists(dir.filePath("absent")));
        return;
    }
    QCOMPARE(one + two, std::string());
    QCOMPARE(QString::fromStdString(place.path), QDir::toNativeSeparators(dir.filePath(written)));
    QCOMPARE(FileBytes(dir.filePath(written)), QByteArray("one\r\ntwo\r\n"));
}

void TestWinLog::canAppend_data() {
    QTest::addColumn<bool>("readOnlyFile");  // one there first; else none yet
    QTest::addColumn<bool>("canAppend");
    QTest::newRow("no file yet, folder writable") << false << true;
    QTest::newRow("read-only file") << true << false;
}

void TestWinLog::canAppend() {
    QFETCH(bool, readOnlyFile);
    QFETCH(bool, canAppend);
    QTemporaryDir dir;
    QFile f(dir.filePath("Dervix.txt"));
    QVERIFY(dir.isValid() && (!readOnlyFile || (f.open(QIODevice::WriteOnly) && f.setPermissions(QFile::ReadOwner))));
    f.close();
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);
    QCOMPARE(WinCanAppend(QDir::toNativeSeparators(f.fileName()).toStdString()), canAppend);
    // The check leaves nothing behind; above all, no log file.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System), before);
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

QTEST_APPLESS_MAIN(TestWinLog)
#include "tst_winlog.moc"
