// The event log line format, logging off, logged message boxes, a log file
// that cannot be written, and where the log goes.
#include <QtTest>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "platform/posix/LogPlace.h"
#include "platform/posix/PosixLineFile.h"
#include "shell/DateTime.h"
#include "shell/EventLog.h"
#include "support/CapturedStderr.h"
#include "support/Fakes.h"

using namespace dervix;
using namespace dervix::test;

namespace {

class CountingLineFile : public FakeLineFile {
public:
    std::string append(const std::string& path, const std::string& bytes) override {
        ++attempts;
        return FakeLineFile::append(path, bytes);
    }
    int attempts = 0;
};

QByteArray FileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

}  // namespace

class TestEventLog : public QObject {
    Q_OBJECT
private slots:
    void stamp_data();
    void stamp();
    void lineThroughClockAndFile();
    void loggingSwitch_data();
    void loggingSwitch();
    void linesInCallOrder();
    void loggedMsgBoxLogsBeforeShowing();
    void multiLinePromptWrittenAsIs();
    void failureReportedOnceThenRetried();
    void noticeWaitsForTheBoxWhoseLineFailed();
    void failureOfRealFile_data();
    void failureOfRealFile();
    void logPlace_data();
    void logPlace();
    void canAppendAsAnotherUser_data();
    void canAppendAsAnotherUser();
};

void TestEventLog::stamp_data() {
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("day");
    QTest::addColumn<int>("hour");
    QTest::addColumn<int>("minute");
    QTest::addColumn<int>("second");
    QTest::addColumn<QString>("stamp");
    QTest::newRow("evening") << 12 << 6 << 22 << 18 << 5 << "Dec 06 2026 10:18:05 PM: ";
    QTest::newRow("midnight") << 12 << 7 << 0 << 0 << 0 << "Dec 07 2026 12:00:00 AM: ";
    QTest::newRow("last minute after midnight") << 1 << 1 << 0 << 59 << 59 << "Jan 01 2026 12:59:59 AM: ";
    QTest::newRow("morning") << 3 << 9 << 9 << 5 << 7 << "Mar 09 2026 09:05:07 AM: ";
    QTest::newRow("before noon") << 6 << 30 << 11 << 59 << 59 << "Jun 30 2026 11:59:59 AM: ";
    QTest::newRow("noon") << 7 << 4 << 12 << 0 << 0 << "Jul 04 2026 12:00:00 PM: ";
    QTest::newRow("afternoon") << 8 << 15 << 13 << 1 << 2 << "Aug 15 2026 01:01:02 PM: ";
    QTest::newRow("last second") << 12 << 31 << 23 << 59 << 59 << "Dec 31 2026 11:59:59 PM: ";
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int m = 1; m <= 12; ++m)
        QTest::addRow("month %d", m) << m << 1 << 8 << 0 << 0 << QString("%1 01 2026 08:00:00 AM: ").arg(months[m - 1]);
}

void TestEventLog::stamp() {
    QFETCH(int, month);
    QFETCH(int, day);
    QFETCH(int, hour);
    QFETCH(int, minute);
    QFETCH(int, second);
    QFETCH(QString, stamp);
    LocalTime t{2026, month, day, hour, minute, second, 3600};
    QCOMPARE(QString::fromStdString(EventLog::Stamp(t)), stamp);
}

void TestEventLog::lineThroughClockAndFile() {
    Globals g;
    g.LogEnabled = 1;
    FakeClock clock;
    clock.offsetSeconds = 3600;  // local time one hour ahead of UTC
    clock.current = std::chrono::system_clock::time_point(
        std::chrono::seconds(EpochSeconds(LocalTime{2026, 12, 6, 22, 18, 5, 3600})));
    FakeLineFile file;
    FakeDialogs dialogs;
    FakeEventPump pump;
    EventLog log(g, clock, file, dialogs, pump, "/opt/dervix");
    log.WriteLog("Send Command - [CHECK]");
    QCOMPARE(int(file.lines.size()), 1);
    QCOMPARE(QString::fromStdString(file.lines[0]), QString("Dec 06 2026 10:18:05 PM: Send Command - [CHECK]\r\n"));
    QCOMPARE(QString::fromStdString(file.lastPath), QString("/opt/dervix/Dervix.txt"));
    QCOMPARE(QString::fromStdString(log.logPath()), QString("/opt/dervix/Dervix.txt"));
}

void TestEventLog::loggingSwitch_data() {
    QTest::addColumn<double>("logEnabled");
    QTest::addColumn<int>("lines");
    QTest::newRow("off") << 0.0 << 0;
    QTest::newRow("negative is off") << -1.0 << 0;
    QTest::newRow("fraction above 0 is on") << 0.5 << 3;
    QTest::newRow("on") << 1.0 << 3;
    QTest::newRow("2 is on") << 2.0 << 3;
}

void TestEventLog::loggingSwitch() {
    QFETCH(double, logEnabled);
    QFETCH(int, lines);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Globals g;
    g.LogEnabled = logEnabled;
    FakeClock clock;
    PosixLineFile file;
    FakeDialogs dialogs;
    FakeEventPump pump;
    EventLog log(g, clock, file, dialogs, pump, dir.path().toStdString());
    log.WriteLog("one");
    log.WriteLog("two");
    log.LoggedMsgBox("three", MsgBox::Information, "Dervix");
    const QString path = dir.path() + "/Dervix.txt";
    QCOMPARE(int(dialogs.boxes.size()), 1);  // the box is shown either way
    if (lines == 0) {
        QVERIFY2(!QFileInfo::exists(path), "no log file may be created while logging is off");
    } else {
        QCOMPARE(FileBytes(path).count("\r\n"), lines);
    }
}

void TestEventLog::linesInCallOrder() {
    Globals g;
    g.LogEnabled = 1;
    FakeClock clock;
    FakeLineFile file;
    FakeDialogs dialogs;
    FakeEventPump pump;
    EventLog log(g, clock, file, dialogs, pump, "/opt/dervix");
    log.WriteLog("first");
    log.WriteLog("second");
    QCOMPARE(int(file.lines.size()), 2);
    QVERIFY(QString::fromStdString(file.lines[0]).endsWith(": first\r\n"));
    QVERIFY(QString::fromStdString(file.lines[1]).endsWith(": second\r\n"));
    // Same second, same stamp.
    QCOMPARE(file.lines[0].substr(0, 25), file.lines[1].substr(0, 25));
}

void TestEventLog::loggedMsgBoxLogsBeforeShowing() {
    Globals g;
    g.LogEnabled = 1;
    FakeClock clock;
    FakeLineFile file;
    FakeDialogs dialogs;
    FakeEventPump pump;
    EventLog log(g, clock, file, dialogs, pump, "/opt/dervix");
    std::size_t linesWhileOpen = 99;
    dialogs.answers.push_back([&](const ShownBox&) {
        linesWhileOpen = file.lines.size();
        return MsgBox::ResultCancel;
    });
    const int answer = log.LoggedMsgBox("Menu handle invalid", MsgBox::Information, "Dervix");
    QCOMPARE(answer, MsgBox::ResultCancel);
    QCOMPARE(linesWhileOpen, std::size_t(1));
    QCOMPARE(QString::fromStdString(file.lines[0]), QString("Dec 06 2026 10:00:05 PM: MSGBOX Menu handle invalid\r\n"));
    QCOMPARE(QString::fromStdString(dialogs.boxes[0].prompt), QString("Menu handle invalid"));
    QCOMPARE(dialogs.boxes[0].flags, MsgBox::Information);
    QCOMPARE(QString::fromStdString(dialogs.boxes[0].title), QString("Dervix"));
}

void TestEventLog::multiLinePromptWrittenAsIs() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Globals g;
    g.LogEnabled = 1;
    FakeClock clock;
    PosixLineFile file;
    FakeDialogs dialogs;
    FakeEventPump pump;
    EventLog log(g, clock, file, dialogs, pump, dir.path().toStdString());
    log.LoggedMsgBox("The module does not respond.\rRetry?", MsgBox::RetryCancel, "Dervix");
    log.WriteLog("after");
    QCOMPARE(FileBytes(dir.path() + "/Dervix.txt"),
             QByteArray("Dec 06 2026 10:00:05 PM: MSGBOX The module does not respond.\rRetry?\r\n"
                        "Dec 06 2026 10:00:05 PM: after\r\n"));
}

void TestEventLog::failureReportedOnceThenRetried() {
    Globals g;
    g.LogEnabled = 1;
    FakeClock clock;
    CountingLineFile file;
    FakeDialogs dialogs;
    FakeEventPump pump;
    EventLog log(g, clock, file, dialogs, pump, "/opt/dervix");
    file.failure = "Permission denied";

    const QByteArray err = CapturedStderr([&] {
        log.WriteLog("one");
        log.WriteLog("two");
        log.LoggedMsgBox("three", MsgBox::Information, "Dervix");
    });
    QCOMPARE(file.attempts, 3);  // every line is tried
    QCOMPARE(err.count("cannot be written"), 1);
    QVERIFY(err.contains("/opt/dervix/Dervix.txt"));
    QVERIFY(err.contains("Permission denied"));
    QCOMPARE(int(dialogs.boxes.size()), 1);  // only the caller's own box so far
    QCOMPARE(int(pump.posted.size()), 1);    // the notice waits for the event loop
    pump.runPosted();
    QCOMPARE(int(dialogs.boxes.size()), 2);
    QVERIFY(QString::fromStdString(dialogs.boxes[1].prompt).contains("Permission denied"));
    QCOMPARE(dialogs.boxes[1].flags, MsgBox::Information);

    file.failure.clear();
    log.WriteLog("four");
    QCOMPARE(int(file.lines.size()), 1);
    QVERIFY(QString::fromStdString(file.lines[0]).endsWith(": four\r\n"));

    // A new outage after the file came back is news again.
    file.failure = "No space left on device";
    CapturedStderr([&] { log.WriteLog("five"); });
    QCOMPARE(int(pump.posted.size()), 1);
}

// The line that fails is a box's own MSGBOX line: the notice opens once the
// operator has closed that box, not on top of it from the box's event loop.
void TestEventLog::noticeWaitsForTheBoxWhoseLineFailed() {
    Globals g;
    g.LogEnabled = 1;
    FakeClock clock;
    FakeLineFile file;
    FakeDialogs dialogs;
    FakeEventPump pump;
    EventLog log(g, clock, file, dialogs, pump, "/opt/dervix");
    file.failure = "Permission denied";
    std::size_t boxesWhileOpen = 99;
    dialogs.answers.push_back([&](const ShownBox&) {
        pump.runPosted();  // what the box's event loop serves meanwhile
        boxesWhileOpen = dialogs.boxes.size();
        return MsgBox::ResultRetry;
    });
    int answer = 0;
    CapturedStderr([&] { answer = log.LoggedMsgBox("Dervantix is not responding!", MsgBox::RetryCancel, "Dervix"); });
    QCOMPARE(answer, MsgBox::ResultRetry);
    QCOMPARE(boxesWhileOpen, std::size_t(1));
    QCOMPARE(int(pump.posted.size()), 1);
    pump.runPosted();
    QCOMPARE(int(dialogs.boxes.size()), 2);
    QVERIFY(QString::fromStdString(dialogs.boxes[1].prompt).contains("cannot be written"));
}

void TestEventLog::failureOfRealFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder missing") << "missing";
    QTest::newRow("link to the full device") << "full";
    QTest::newRow("read-only folder") << "readonly";
    // A log collector that has ended, or still reads: never waited for.
    QTest::newRow("named pipe nobody reads") << "fifo";
    QTest::newRow("named pipe with a reader") << "fifo-read";
}

void TestEventLog::failureOfRealFile() {
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString folder = dir.path() + "/prog";
    const QString log = folder + "/Dervix.txt";
    if (kind == "full") {
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QFile::link("/dev/full", log));
    } else if (kind == "readonly") {
        if (::geteuid() == 0) QSKIP("root writes into read-only folders");
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(::chmod(folder.toLocal8Bit().constData(), 0555) == 0);
    } else if (kind.startsWith("fifo")) {
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(::mkfifo(QFile::encodeName(log).constData(), 0644) == 0);
    }
    const int reader = kind == "fifo-read" ? ::open(QFile::encodeName(log).constData(), O_RDONLY | O_NONBLOCK) : -1;
    if (kind == "fifo-read") QVERIFY(reader >= 0);

    Globals g;
    g.LogEnabled = 1;
    FakeClock clock;
    PosixLineFile file;
    FakeDialogs dialogs;
    FakeEventPump pump;
    EventLog eventLog(g, clock, file, dialogs, pump, folder.toStdString());
    const QByteArray err = CapturedStderr([&] {
        eventLog.WriteLog("lost one");
        eventLog.WriteLog("lost two");
    });
    QCOMPARE(err.count("cannot be written"), 1);
    if (kind.startsWith("fifo")) QVERIFY2(err.contains("not a regular file"), err.constData());
    QCOMPARE(int(pump.posted.size()), 1);
    pump.runPosted();
    QCOMPARE(int(dialogs.boxes.size()), 1);
    if (reader >= 0) ::close(reader);

    // The operator repairs it; the very next line goes in.
    if (kind == "missing") QVERIFY(QDir().mkdir(folder));
    if (kind == "full" || kind.startsWith("fifo")) QVERIFY(QFile::remove(log));
    if (kind == "readonly") QVERIFY(::chmod(folder.toLocal8Bit().constData(), 0755) == 0);
    eventLog.WriteLog("kept");
    QCOMPARE(FileBytes(log), QByteArray("Dec 06 2026 10:00:05 PM: kept\r\n"));
    QVERIFY(pump.posted.empty());
}

// Paths in the rows are relative to a fresh folder; "/x" means that folder's
// x, an empty text leaves the variable unset, anything else is taken as is.
void TestEventLog::logPlace_data() {
    QTest::addColumn<QString>("dervixLog");
    QTest::addColumn<QString>("stateHome");
    QTest::addColumn<bool>("programWritable");
    QTest::addColumn<QString>("link");     // a symbolic link to target.log placed there first; empty: none
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
    QTest::newRow("link planted in the program folder") << "" << "/xdg" << true << "prog/Dervix.txt" << "";
    QTest::newRow("link planted in the state folder") << "" << "/xdg" << false << "xdg/dervix/Dervix.txt" << "";
}

void TestEventLog::logPlace() {
    QFETCH(QString, dervixLog);
    QFETCH(QString, stateHome);
    QFETCH(bool, programWritable);
    QFETCH(QString, link);
    QFETCH(QString, written);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath("prog"));
    QVERIFY(QDir(dir.path()).mkpath("home"));
    if (!link.isEmpty()) {
        QVERIFY(QDir(dir.path()).mkpath(QFileInfo(link).path()));
        QVERIFY(QFile::link(dir.filePath("target.log"), dir.filePath(link)));
    }
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

    Globals g;
    g.LogEnabled = 1;
    FakeClock clock;
    PosixLineFile file(place.folderToMake, place.followLink);
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
    QCOMPARE(QString::fromStdString(place.path), dir.filePath(link.isEmpty() ? written : link));
    QCOMPARE(FileBytes(dir.filePath(written)),
             QByteArray("Dec 06 2026 10:00:05 PM: one\r\nDec 06 2026 10:00:05 PM: two\r\n"));
    // A folder the program makes is the user's alone.
    if (!place.folderToMake.empty())
        QCOMPARE(QFileInfo(QString::fromStdString(place.folderToMake)).permissions() & 0x0077, 0);
}

// The real check, as a user the folders do not belong to: root passes every
// permission test, so the child process gives that up first.
void TestEventLog::canAppendAsAnotherUser_data() {
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<int>("fileMode");  // -1: no file yet
    QTest::addColumn<bool>("canAppend");
    QTest::newRow("installed program folder") << 0755 << -1 << false;
    QTest::newRow("folder open to all") << 0777 << -1 << true;
    QTest::newRow("writable file in a closed folder") << 0755 << 0666 << true;
    QTest::newRow("read-only file in an open folder") << 0777 << 0644 << false;
}

void TestEventLog::canAppendAsAnotherUser() {
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

QTEST_APPLESS_MAIN(TestEventLog)
#include "tst_eventlog.moc"
