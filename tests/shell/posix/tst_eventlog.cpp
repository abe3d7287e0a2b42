// The event log line format, logging off, logged message boxes, and texts
// from outside on their log lines. A log file that cannot be written:
// tst_logoutage.cpp.
#include <QtTest>

#include <chrono>
#include <string>

#include "platform/posix/PosixLineFile.h"
#include "shell/DateTime.h"
#include "shell/EventLog.h"
#include "support/Fakes.h"
#include "support/LogRig.h"
#include "support/TestText.h"

using namespace dervix;
using namespace dervix::test;

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
    LogRig<> rig;
    auto& [g, clock, file, dialogs, pump, log] = rig;
    log.WriteLog("first");
    log.WriteLog("second");
    QCOMPARE(int(file.lines.size()), 2);
    QVERIFY(QString::fromStdString(file.lines[0]).endsWith(": first\r\n"));
    QVERIFY(QString::fromStdString(file.lines[1]).endsWith(": second\r\n"));
    // Same second, same stamp.
    QCOMPARE(file.lines[0].substr(0, 25), file.lines[1].substr(0, 25));
}

void TestEventLog::loggedMsgBoxLogsBeforeShowing() {
    LogRig<> rig;
    auto& [g, clock, file, dialogs, pump, log] = rig;
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
    LogRig<PosixLineFile> rig(dir.path().toStdString());
    auto& [g, clock, file, dialogs, pump, log] = rig;
    log.LoggedMsgBox("The module does not respond.\rRetry?", MsgBox::RetryCancel, "Dervix");
    log.WriteLog("after");
    QCOMPARE(FileBytes(dir.path() + "/Dervix.txt"),
             QByteArray("Dec 06 2026 10:00:05 PM: MSGBOX The module does not respond.\rRetry?\r\n"
                        "Dec 06 2026 10:00:05 PM: after\r\n"));
}

QTEST_APPLESS_MAIN(TestEventLog)
#include "tst_eventlog.moc"
