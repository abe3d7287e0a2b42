// Where the log goes, and which places may be links: the real log file
// behind the event log, in folders of the test's own.
#include <QtTest>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
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
    void wayToTheLog_data();
    void wayToTheLog();
    void folderMadeAgain_data();
    void folderMadeAgain();
    void canAppendAsAnotherUser_data();
    void canAppendAsAnotherUser();
};

namespace {

// The user the folders are another's of in this test: nobody.
constexpr uid_t kOther = 65534;

// Two lines through the event log, "one" and "two", with between them
// what someone else does to the folders; standard error of both.
QByteArray TwoLines(const LogPlace& place, FakeEventPump& pump, const std::function<void()>& between) {
    Globals g;
    g.LogEnabled = 1;
    FakeClock clock;
    PosixLineFile file(place.folderToMake);
    FakeDialogs dialogs;
    EventLog log(g, clock, file, dialogs, pump, "/", place.path);
    return CapturedStderr([&] {
        log.WriteLog("one");
        between();
        log.WriteLog("two");
    });
}

}  // namespace

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

// DERVIX_LOG=<d>/shared/logs/dervix.log, shared perhaps open to others,
// logs perhaps swapped for a link to <d>/ours (a folder of ours) or for a
// folder of another user, before the place is chosen or between two lines.
void TestLogPlace::wayToTheLog_data() {
    QTest::addColumn<int>("sharedMode");
    QTest::addColumn<QString>("sharedBy");  // "us", "another user", "another group"
    QTest::addColumn<QString>("swap");      // "", "link before", "their link before", "link later", "folder later"
    QTest::addColumn<QString>("written");   // the file with "one" (and "two" when nothing is refused); empty: none
    QTest::addColumn<QString>("refusal");   // in the one notice, "<d>" for the test's folder; empty: none
    const QString shared = "shared/logs/dervix.log";
    const QString open = "<d>/shared is open to other users (mode 0777)";
    QTest::newRow("folders of our own") << 0755 << "us" << "" << shared << "";
    QTest::newRow("writable by our private group") << 0775 << "us" << "" << shared << "";
    QTest::newRow("open to all") << 0777 << "us" << "" << "" << open;
    QTest::newRow("writable by another group") << 0775 << "another group" << "" << ""
                                               << "<d>/shared is open to other users (mode 0775)";
    QTest::newRow("another user's") << 0755 << "another user" << "" << "" << "<d>/shared belongs to another user";
    QTest::newRow("open to all, logs swapped for a link") << 0777 << "us" << "link later" << "" << open;
    const QString away = "shared/logs.away/dervix.log";
    QTest::newRow("sticky, logs swapped for a link")
        << 01777 << "us" << "link later" << away << "<d>/shared/logs is a symbolic link, not followed there";
    QTest::newRow("sticky, logs swapped for another user's folder")
        << 01777 << "us" << "folder later" << away << "<d>/shared/logs belongs to another user";
    QTest::newRow("our own link before the start") << 0755 << "us" << "link before" << "ours/dervix.log" << "";
    QTest::newRow("link before the start, in a folder open to all") << 0777 << "us" << "link before" << "" << open;
    QTest::newRow("another user's link before the start, sticky")
        << 01777 << "us" << "their link before" << "" << "<d>/shared/logs is a symbolic link, not followed there";
}

void TestLogPlace::wayToTheLog() {
    QFETCH(int, sharedMode);
    QFETCH(QString, sharedBy);
    QFETCH(QString, swap);
    QFETCH(QString, written);
    QFETCH(QString, refusal);
    if (::geteuid() != 0 && (sharedBy != "us" || swap.startsWith("their") || swap == "folder later"))
        QSKIP("needs root to give a folder to another user");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto at = [&dir](const char* name) { return QFile::encodeName(dir.filePath(name)).toStdString(); };
    const std::string shared = at("shared"), logs = at("shared/logs"), away = at("shared/logs.away");
    QVERIFY(QDir(dir.path()).mkpath("shared/logs") && QDir(dir.path()).mkpath("ours"));
    QVERIFY(::chmod(shared.c_str(), static_cast<mode_t>(sharedMode)) == 0);
    if (sharedBy == "another user") QVERIFY(::chown(shared.c_str(), kOther, 0) == 0);
    if (sharedBy == "another group") QVERIFY(::chown(shared.c_str(), 0, kOther) == 0);
    const auto replaceLogs = [&] {
        QVERIFY(::rename(logs.c_str(), away.c_str()) == 0);
        if (swap == "folder later") {
            QVERIFY(::mkdir(logs.c_str(), 0755) == 0 && ::chown(logs.c_str(), kOther, kOther) == 0);
            return;
        }
        QVERIFY(::symlink(at("ours").c_str(), logs.c_str()) == 0);
        if (swap.startsWith("their")) QVERIFY(::lchown(logs.c_str(), kOther, kOther) == 0);
    };
    if (swap.endsWith("before")) replaceLogs();
    qputenv("DERVIX_LOG", QByteArray::fromStdString(logs + "/dervix.log"));
    const LogPlace place = ChooseLogPlace(dir.filePath("prog").toStdString(), [](const std::string&) { return false; });

    FakeEventPump pump;
    const QByteArray err = TwoLines(place, pump, [&] {
        if (swap.endsWith("later")) replaceLogs();
    });
    const QByteArray one = "Dec 06 2026 10:00:05 PM: one\r\n";
    if (refusal.isEmpty()) {
        QVERIFY2(err.isEmpty(), err.constData());
        QCOMPARE(FileBytes(dir.filePath(written)), one + "Dec 06 2026 10:00:05 PM: two\r\n");
        return;
    }
    QCOMPARE(err.count("cannot be written"), 1);
    QVERIFY2(err.contains(": " + QFile::encodeName(QString(refusal).replace("<d>", dir.path()))), err.constData());
    QCOMPARE(int(pump.posted.size()), 1);
    if (!written.isEmpty()) QCOMPARE(FileBytes(dir.filePath(written)), one);
    // Nothing in our folder, and nothing left where lines were refused.
    QCOMPARE(QDir(dir.filePath("ours")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    if (written.isEmpty())
        QVERIFY(!QFileInfo::exists(dir.filePath("shared/logs/dervix.log")) &&
                !QFileInfo::exists(dir.filePath("shared/logs.away/dervix.log")));
}

// The state folder is made again when it has gone, the way lines are
// written: a link put in place of the folder above it is not followed.
void TestLogPlace::folderMadeAgain_data() {
    QTest::addColumn<bool>("linkAbove");
    QTest::newRow("folder removed") << false;
    QTest::newRow("folder above swapped for a link") << true;
}

void TestLogPlace::folderMadeAgain() {
    QFETCH(bool, linkAbove);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath("xdg") && QDir(dir.path()).mkpath("ours"));
    qunsetenv("DERVIX_LOG");
    qputenv("XDG_STATE_HOME", QFile::encodeName(dir.filePath("xdg")));
    const LogPlace place = ChooseLogPlace(dir.filePath("prog").toStdString(), [](const std::string&) { return false; });
    QCOMPARE(QString::fromStdString(place.folderToMake), dir.filePath("xdg/dervix"));

    FakeEventPump pump;
    const QByteArray err = TwoLines(place, pump, [&] {
        QVERIFY(QDir(dir.filePath("xdg/dervix")).removeRecursively());
        if (!linkAbove) return;
        QVERIFY(QDir(dir.path()).rename("xdg", "xdg.away"));
        QVERIFY(QFile::link(dir.filePath("ours"), dir.filePath("xdg")));
    });
    if (!linkAbove) {
        QVERIFY2(err.isEmpty(), err.constData());
        QCOMPARE(FileBytes(dir.filePath("xdg/dervix/Dervix.txt")), QByteArray("Dec 06 2026 10:00:05 PM: two\r\n"));
        QCOMPARE(QFileInfo(dir.filePath("xdg/dervix")).permissions() & 0x0077, 0);
        return;
    }
    const std::string refusal = dir.filePath("xdg").toStdString() + " is a symbolic link, not followed there";
    QCOMPARE(err.count("cannot be written"), 1);
    QVERIFY2(err.contains(Q(refusal)), err.constData());
    // Nor does making the folder follow it, should it find the folder gone
    // before the link came.
    struct Maker : PosixLineFile {
        using PosixLineFile::makeFolders;
    } maker;
    QCOMPARE(maker.makeFolders(place.folderToMake), refusal);
    QCOMPARE(QDir(dir.filePath("ours")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

// The real check, as a user the folders do not belong to: root passes every
// permission test, so the child process gives that up first.
void TestLogPlace::canAppendAsAnotherUser_data() {
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<int>("fileMode");  // -1: no file yet
    QTest::addColumn<bool>("canAppend");
    QTest::newRow("installed program folder") << 0755 << -1 << false;
    // Anyone could put another folder in its place between two lines.
    QTest::newRow("folder open to all") << 0777 << -1 << false;
    QTest::newRow("folder open to all, sticky") << 01777 << -1 << true;
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
