// A log file that cannot be written: the program goes on, says so on
// standard error and in a box at most once a minute, and logs again as soon
// as the file can be written.
#include <QtTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>

#include "platform/posix/PosixLineFile.h"
#include "shell/EventLog.h"
#include "support/CapturedStderr.h"
#include "support/Fakes.h"
#include "support/LogRig.h"
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

class TestLogOutage : public QObject {
    Q_OBJECT
private slots:
    void failureReportedOnceThenRetried();
    void outageBoxSpacing_data();
    void outageBoxSpacing();
    void noticeWaitsForTheBoxWhoseLineFailed();
    void failureOfRealFile_data();
    void failureOfRealFile();
    void lineCutShortIsEndedByTheNext();
};

void TestLogOutage::failureReportedOnceThenRetried() {
    LogRig<CountingLineFile> rig;
    auto& [g, clock, file, dialogs, pump, log] = rig;
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

void TestLogOutage::outageBoxSpacing_data() {
    // At each second given, a line that fails (F), one that goes in (W), or
    // a logged message box whose own line fails (M); after each, how many
    // notice boxes have been posted so far.
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("notices");
    QTest::newRow("one long outage, one box") << "F0 F30 F61 F130" << "1 1 1 1";
    QTest::newRow("a second outage within the minute, lasting past it")
        << "F0 W10 F20 F59 F61 F75 F200" << "1 1 1 1 2 2 2";
    QTest::newRow("a second outage within the minute, over before it") << "F0 W10 F20 W50 W70" << "1 1 1 1 1";
    QTest::newRow("a disk that comes and goes") << "F0 W5 F10 W15 F20 W25 W65" << "1 1 1 1 1 1 1";
    QTest::newRow("flickers past the minute, then a lasting outage")
        << "F0 W5 F10 W15 F20 F65 F70" << "1 1 1 1 1 2 2";
    QTest::newRow("a new outage after the minute") << "F0 W10 F61 F62" << "1 1 2 2";
    QTest::newRow("the owed box waits for the message box whose line failed")
        << "F0 W10 F20 M61 F62" << "1 1 1 2 2";
}

// The box comes at most once a minute, and an outage the spacing kept quiet
// is told once the minute has passed, if it lasts.
void TestLogOutage::outageBoxSpacing() {
    QFETCH(QString, lines);
    QFETCH(QString, notices);
    LogRig<> rig;
    auto& [g, clock, file, dialogs, pump, log] = rig;
    const auto start = clock.current;
    const QStringList steps = lines.split(' ');
    const QStringList expected = notices.split(' ');
    QCOMPARE(steps.size(), expected.size());
    int posted = 0;
    CapturedStderr([&] {
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const QChar kind = steps[i][0];
            clock.current = start + std::chrono::seconds(steps[i].mid(1).toInt());
            file.failure = kind == 'W' ? "" : "No space left on device";
            std::size_t boxesShown = 0;
            if (kind == 'M') {
                dialogs.answers.push_back([&](const ShownBox&) {
                    boxesShown = pump.posted.size();
                    return MsgBox::ResultOk;
                });
                log.LoggedMsgBox("Menu handle invalid", MsgBox::Information, "Dervix");
                QCOMPARE(boxesShown, std::size_t(0));  // not on top of the box the operator reads
            } else {
                log.WriteLog("line");
            }
            posted += static_cast<int>(pump.posted.size());
            pump.runPosted();
            QVERIFY2(posted == expected[i].toInt(), qPrintable(steps[i] + ": " + QString::number(posted)));
        }
    });
    for (const ShownBox& box : dialogs.boxes)
        if (box.prompt != "Menu handle invalid") QVERIFY(box.prompt.find("No space left on device") != std::string::npos);
}

// The line that fails is a box's own MSGBOX line: the notice opens once the
// operator has closed that box, not on top of it from the box's event loop.
void TestLogOutage::noticeWaitsForTheBoxWhoseLineFailed() {
    LogRig<> rig;
    auto& [g, clock, file, dialogs, pump, log] = rig;
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

void TestLogOutage::failureOfRealFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder missing") << "missing";
    QTest::newRow("link to the full device") << "full";
    QTest::newRow("read-only folder") << "readonly";
    // A log collector that has ended, or still reads: never waited for.
    QTest::newRow("named pipe nobody reads") << "fifo";
    QTest::newRow("named pipe with a reader") << "fifo-read";
}

void TestLogOutage::failureOfRealFile() {
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

    LogRig<PosixLineFile> rig(folder.toStdString());
    auto& [g, clock, file, dialogs, pump, eventLog] = rig;
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
void TestLogOutage::lineCutShortIsEndedByTheNext() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    LogRig<PosixLineFile> rig(dir.path().toStdString());
    auto& [g, clock, file, dialogs, pump, log] = rig;
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

QTEST_APPLESS_MAIN(TestLogOutage)
#include "tst_logoutage.moc"
