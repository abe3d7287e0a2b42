// Where the log goes, and which places may be links: the real log file
// behind the event log, in folders of the test's own.
#include <QtTest>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/posix/LogPlace.h"
#include "platform/posix/PosixLineFile.h"
#include "shell/EventLog.h"
#include "support/CapturedStderr.h"
#include "support/Fakes.h"
#include "support/TestText.h"

using namespace dervix;
using namespace dervix::test;

class TestLogPlace : public QObject {
    Q_OBJECT
private slots:
    void logPlace_data();
    void logPlace();
    void canAppendAsAnotherUser_data();
    void canAppendAsAnotherUser();
};

// Paths in the rows are relative to a fresh folder; "/x" means that folder's
// x, an empty text leaves the variable unset, anything else is taken as is.
void TestLogPlace::logPlace_data() {
    QTest::addColumn<QString>("dervixLog");
    QTest::addColumn<QString>("stateHome");
    QTest::addColumn<bool>("programWritable");
    QTest::addColumn<QString>("link");     // a symbolic link to target.log placed there first ("later:"
                                           // once the place is chosen); empty: none
    QTest::addColumn<QString>("written");  // the file that gets the lines; empty: none does
    QTest::newRow("program folder writable") << "" << "/xdg" << true << "" << "prog/Dervix.txt";
    QTest::newRow("program folder not writable") << "" << "/xdg" << false << "" << "xdg/dervix/Dervix.txt";
    QTest::newRow("default state folder") << "" << "" << false << "" << "home/.local/state/dervix/Dervix.txt";
    QTest::newRow("relative state home ignored") << "" << "xdg" << false << "" << "home/.local/state/dervix/Dervix.txt";
    QTest::newRow("DERVIX_LOG before the program folder") << "/mine.log" << "/xdg" << true << "" << "mine.log";
    QTest::newRow("DERVIX_LOG before the state folder") << "/mine.log" << "/xdg" << false << "" << "mine.log";
    QTest::newRow("DERVIX_LOG names a folder") << "/prog" << "/xdg" << false << "" << "";
    QTest::newRow("DERVIX_LOG in a missing folder") << "/absent/mine.log" << "/xdg" << false << "" << "";
    QTest::newRow("DERVIX_LOG may be a link") << "/mine.log" << "/xdg" << false << "mine.log" << "target.log";
    QTest::newRow("DERVIX_LOG's file made a link later") << "/mine.log" << "/xdg" << false << "later:mine.log" << "";
    QTest::newRow("link planted in the program folder") << "" << "/xdg" << true << "prog/Dervix.txt" << "";
    QTest::newRow("link planted in the state folder") << "" << "/xdg" << false << "xdg/dervix/Dervix.txt" << "";
}

void TestLogPlace::logPlace() {
    QFETCH(QString, dervixLog);
    QFETCH(QString, stateHome);
    QFETCH(bool, programWritable);
    QFETCH(QString, link);
    QFETCH(QString, written);
    const bool linkLater = link.startsWith("later:");
    if (linkLater) link = link.mid(6);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath("prog"));
    QVERIFY(QDir(dir.path()).mkpath("home"));
    const auto placeLink = [&] {
        QVERIFY(QDir(dir.path()).mkpath(QFileInfo(link).path()));
        QVERIFY(QFile::link(dir.filePath("target.log"), dir.filePath(link)));
    };
    if (!link.isEmpty() && !linkLater) placeLink();
    const auto expand = [&dir](const QString& v) { return v.startsWith('/') ? dir.path() + v : v; };
    // Each row sets the environment afresh; nothing else in this program reads it.
    const auto set = [](const char* name, const QString& value) {
        value.isEmpty() ? qunsetenv(name) : qputenv(name, QFile::encodeName(value));
    };
    set("DERVIX_LOG", expand(dervixLog));
    set("XDG_STATE_HOME", expand(stateHome));
    set("HOME", dir.filePath("home"));

    const std::string programFolder = dir.filePath("prog").toStdString();
    const LogPlace place = ChooseLogPlace(programFolder, [=](const std::string&) { return programWritable; });
    if (linkLater) placeLink();

    Globals g;
    g.LogEnabled = 1;
    FakeClock clock;
    PosixLineFile file(place.folderToMake);
    FakeDialogs dialogs;
    FakeEventPump pump;
    EventLog log(g, clock, file, dialogs, pump, programFolder, place.path);
    const QByteArray err = CapturedStderr([&] {
        log.WriteLog("one");
        log.WriteLog("two");
    });
    if (written.isEmpty()) {
        // Once per outage, and the program goes on.
        QCOMPARE(err.count("cannot be written"), 1);
        QVERIFY(err.contains(QFile::encodeName(QString::fromStdString(place.path))));
        QCOMPARE(int(pump.posted.size()), 1);
        QVERIFY(!QFileInfo::exists(dir.filePath("absent")));
        QVERIFY(!QFileInfo::exists(dir.filePath("target.log")));
        return;
    }
    QVERIFY2(err.isEmpty(), err.constData());
    QVERIFY(pump.posted.empty());
    // A link the user named is resolved once, when the place is chosen.
    QCOMPARE(QString::fromStdString(place.path), dir.filePath(written));
    QCOMPARE(FileBytes(dir.filePath(written)),
             QByteArray("Dec 06 2026 10:00:05 PM: one\r\nDec 06 2026 10:00:05 PM: two\r\n"));
    // A folder the program makes is the user's alone.
    if (!place.folderToMake.empty())
        QCOMPARE(QFileInfo(QString::fromStdString(place.folderToMake)).permissions() & 0x0077, 0);
}

// The real check, as a user the folders do not belong to: root passes every
// permission test, so the child process gives that up first.
void TestLogPlace::canAppendAsAnotherUser_data() {
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<int>("fileMode");  // -1: no file yet
    QTest::addColumn<bool>("canAppend");
    QTest::newRow("installed program folder") << 0755 << -1 << false;
    QTest::newRow("folder open to all") << 0777 << -1 << true;
    QTest::newRow("writable file in a closed folder") << 0755 << 0666 << true;
    QTest::newRow("read-only file in an open folder") << 0777 << 0644 << false;
}

void TestLogPlace::canAppendAsAnotherUser() {
    QFETCH(int, folderMode);
    QFETCH(int, fileMode);
    QFETCH(bool, canAppend);
    if (::geteuid() != 0) QSKIP("needs root to run the check as another user");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray folder = QFile::encodeName(dir.filePath("prog"));
    const std::string log = (folder + "/Dervix.txt").toStdString();
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    QVERIFY(::mkdir(folder.constData(), 0700) == 0);
    if (fileMode >= 0) {
        QFile f(QString::fromStdString(log));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(::chmod(log.c_str(), static_cast<mode_t>(fileMode)) == 0);
    }
    QVERIFY(::chmod(folder.constData(), static_cast<mode_t>(folderMode)) == 0);

    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(CanAppend(log) ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), canAppend ? 0 : 1);
}
QTEST_APPLESS_MAIN(TestLogPlace)
#include "tst_logplace.moc"
