// The event log line format, logging off, logged message boxes, and a log
// file that cannot be written.
#include <QtTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>

#include "platform/posix/PosixLineFile.h"
#include "shell/DateTime.h"
#include "shell/EventLog.h"
#include "support/CapturedStderr.h"
#include "support/Fakes.h"
#include "support/TestText.h"

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

}  // namespace

class TestEventLog : public QObject {
    Q_OBJECT
private slots:
    void stamp_data();
    void stamp();
    void lineThroughClockAndFile();
    void textFromOutside_data();
    void textFromOutside();
    void loggingSwitch_data();
    void loggingSwitch();
    void linesInCallOrder();
    void loggedMsgBoxLogsBeforeShowing();
    void multiLinePromptWrittenAsIs();
    void failureReportedOnceThenRetried();
    void noticeWaitsForTheBoxWhoseLineFailed();
    void failureOfRealFile_data();
    void failureOfRealFile();
    void lineCutShortIsEndedByTheNext();
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

void TestEventLog::textFromOutside_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("oneLine");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("plain") << QByteArray("G1READY") << QByteArray("G1READY") << QByteArray("G1READY");
    QTest::newRow("a reply's closing CR LF") << QByteArray("G1READY\r\n") << QByteArray("G1READY\\r\\n")
                                             << QByteArray("G1READY\r\n");
    QTest::newRow("a forged line")
        << QByteArray("x\r\nDec 08 2026 06:00:00 PM: MSGBOX forged")
        << QByteArray("x\\r\\nDec 08 2026 06:00:00 PM: MSGBOX forged")
        << QByteArray("x\\r\\nDec 08 2026 06:00:00 PM: MSGBOX forged");
    QTest::newRow("a forged line closed by CR LF")
        << QByteArray("x\nDec 08 2026 06:00:00 PM: y\r\n") << QByteArray("x\\nDec 08 2026 06:00:00 PM: y\\r\\n")
        << QByteArray("x\\nDec 08 2026 06:00:00 PM: y\r\n");
    QTest::newRow("CR LF twice") << QByteArray("\r\n\r\n") << QByteArray("\\r\\n\\r\\n")
                                 << QByteArray("\\r\\n\r\n");
    QTest::newRow("LF CR at the end") << QByteArray("G1\n\r") << QByteArray("G1\\n\\r") << QByteArray("G1\\n\\r");
    QTest::newRow("CR alone at the end") << QByteArray("G1\r") << QByteArray("G1\\r") << QByteArray("G1\\r");
    QTest::newRow("NUL, tab, VT, FF") << QByteArray("a\0b\tc\x0B\x0C", 7) << QByteArray("a\\x00b\\x09c\\x0B\\x0C")
                                      << QByteArray("a\\x00b\\x09c\\x0B\\x0C");
    QTest::newRow("ESC clearing a screen") << QByteArray("\x1B[2J") << QByteArray("\\x1B[2J") << QByteArray("\\x1B[2J");
    QTest::newRow("DEL and C1") << QByteArray("\x7F\x80\x9B\x9F") << QByteArray("\\x7F\\x80\\x9B\\x9F")
                                << QByteArray("\\x7F\\x80\\x9B\\x9F");
    QTest::newRow("backslash") << QByteArray("a\\x1B") << QByteArray("a\\\\x1B") << QByteArray("a\\\\x1B");
    QTest::newRow("Latin-1 letters pass") << QByteArray("\xA0\xE9\xFE\xFF") << QByteArray("\xA0\xE9\xFE\xFF")
                                          << QByteArray("\xA0\xE9\xFE\xFF");
    QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray();
}

// A text from outside stays on its log line: nothing in it acts on a
// terminal or an editor, and only a reply's own closing CR LF is kept.
void TestEventLog::textFromOutside() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, oneLine);
    QFETCH(QByteArray, reply);
    QCOMPARE(Q(EventLog::OneLine(Bytes(text))), oneLine);
    QCOMPARE(Q(EventLog::ReplyText(Bytes(text))), reply);
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

    // A new outage after the file came back is news again: on standard
    // error at once, in a box once a minute (a flapping disk stacks none).
    for (int minutes : {0, 1}) {
        clock.advance(std::chrono::minutes(minutes));
        file.failure = "No space left on device";
        QCOMPARE(CapturedStderr([&] { log.WriteLog("five"); }).count("cannot be written"), 1);
        QCOMPARE(int(pump.posted.size()), minutes);
        file.failure.clear();
        log.WriteLog("six");
    }
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

// A full disk cuts a line short: the line after the outage starts on a
// line of its own. The file size limit cuts the write where a full disk
// would.
void TestEventLog::lineCutShortIsEndedByTheNext() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Globals g;
    g.LogEnabled = 1;
    FakeClock clock;
    PosixLineFile file;
    FakeDialogs dialogs;
    FakeEventPump pump;
    EventLog log(g, clock, file, dialogs, pump, dir.path().toStdString());
    log.WriteLog("one");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit unlimited{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    rlimit full = unlimited;
    full.rlim_cur = 40;  // room for ten bytes of the next line
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &full), 0);
    CapturedStderr([&] {
        log.WriteLog("two");
        log.WriteLog("three");
    });
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);
    log.WriteLog("four");
    QCOMPARE(FileBytes(dir.path() + "/Dervix.txt"),
             QByteArray("Dec 06 2026 10:00:05 PM: one\r\nDec 06 202\r\nDec 06 2026 10:00:05 PM: four\r\n"));
}

QTEST_APPLESS_MAIN(TestEventLog)
#include "tst_eventlog.moc"
