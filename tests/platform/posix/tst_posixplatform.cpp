// The runtime folder, the single-instance lock, the system clock and the log
// file on POSIX.
#include <QtTest>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "platform/posix/PosixLineFile.h"
#include "platform/posix/Runtime.h"
#include "platform/SystemClock.h"

using dervix::InstanceLock;
using Outcome = dervix::InstanceLock::Outcome;

namespace {

mode_t Mode(const QString& path) {
    struct stat st {};
    return ::lstat(path.toLocal8Bit().constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Sets environment variables for one scope; an empty value unsets.
class EnvScope {
public:
    EnvScope(std::initializer_list<std::pair<const char*, QString>> values) {
        for (auto& [name, value] : values) {
            saved_.append({name, qgetenv(name)});
            if (value.isEmpty())
                qunsetenv(name);
            else
                qputenv(name, value.toLocal8Bit());
        }
    }
    ~EnvScope() {
        for (auto& [name, value] : saved_) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }

private:
    QList<QPair<const char*, QByteArray>> saved_;
};

QString UserName() {
    struct passwd* pw = ::getpwuid(::getuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(::getuid());
}

}  // namespace

class TestPosixPlatform : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ::umask(022); }
    void runtimeFolderPath_data();
    void runtimeFolderPath();
    void runtimeFolderCreatedPrivate();
    void runtimeFolderExistingKeepsItsMode_data();
    void runtimeFolderExistingKeepsItsMode();
    void runtimeFolderRefused_data();
    void runtimeFolderRefused();
    void runtimeFolderFallbackInTmp();
    void instanceLockInOneProcess();
    void instanceLockAcrossProcesses();
    void instanceLockWithoutFolder();
    void clockLocalTime_data();
    void clockLocalTime();
    void clockNowIsSystemTime();
    void lineFileAppends();
    void lineFileFailureText();
};

void TestPosixPlatform::runtimeFolderPath_data() {
    QTest::addColumn<QString>("explicitFolder");
    QTest::addColumn<QString>("xdgRuntime");
    QTest::addColumn<QString>("expected");
    QTest::newRow("explicit wins") << "/r/x" << "/run/user/1000" << "/r/x";
    QTest::newRow("relative explicit made absolute") << "r/x" << "" << QDir::currentPath() + "/r/x";
    QTest::newRow("XDG runtime folder") << "" << "/run/user/1000" << "/run/user/1000/dervix";
    QTest::newRow("relative XDG ignored") << "" << "run" << "/tmp/runtime-" + UserName() + "/dervix";
    QTest::newRow("fallback in /tmp") << "" << "" << "/tmp/runtime-" + UserName() + "/dervix";
}

void TestPosixPlatform::runtimeFolderPath() {
    QFETCH(QString, explicitFolder);
    QFETCH(QString, xdgRuntime);
    QFETCH(QString, expected);
    EnvScope env{{"DERVIX_RUNTIME_DIR", explicitFolder}, {"XDG_RUNTIME_DIR", xdgRuntime}};
    QCOMPARE(QString::fromStdString(dervix::RuntimeFolderPath()), expected);
}

void TestPosixPlatform::runtimeFolderCreatedPrivate() {
    QTemporaryDir dir;
    const QString folder = dir.path() + "/run/dervix";
    EnvScope env{{"DERVIX_RUNTIME_DIR", folder}};
    auto result = dervix::PrepareRuntimeFolder();
    QVERIFY2(result.ok(), result.error.c_str());
    QCOMPARE(QString::fromStdString(result.path), folder);
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(Mode(folder), mode_t(0700));
}

// A folder that is already there is never chmod-ed: a private one is used,
// one others can reach (the home folder, a shared /tmp-like one) is refused
// with the reason, and keeps its mode, sticky bit included.
void TestPosixPlatform::runtimeFolderExistingKeepsItsMode_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("used");
    QTest::newRow("private") << 0700 << true;
    QTest::newRow("like a home folder") << 0755 << false;
    QTest::newRow("shared with the sticky bit") << 01777 << false;
}

void TestPosixPlatform::runtimeFolderExistingKeepsItsMode() {
    QFETCH(int, mode);
    QFETCH(bool, used);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/dervix";
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(::chmod(folder.toLocal8Bit().constData(), mode_t(mode)) == 0);
    auto result = dervix::PrepareRuntimeFolder(folder.toStdString());
    QCOMPARE(result.ok(), used);
    if (!used) {
        const QString error = QString::fromStdString(result.error);
        const QString reason = QStringLiteral(" is open to other users (mode %1)").arg(mode, 4, 8, QChar('0'));
        QVERIFY2(error.startsWith(folder + reason), qPrintable(error));
    }
    QCOMPARE(Mode(folder), mode_t(mode));
}

void TestPosixPlatform::runtimeFolderRefused_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a file in its place") << "file" << "is not a folder";
    QTest::newRow("a link in its place") << "link" << "is not a folder";
    QTest::newRow("another user's folder") << "foreign" << "belongs to another user";
}

void TestPosixPlatform::runtimeFolderRefused() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/dervix";
    if (kind == "file") {
        QFile f(folder);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (kind == "link") {
        QVERIFY(QDir().mkdir(dir.path() + "/elsewhere"));
        QVERIFY(QFile::link(dir.path() + "/elsewhere", folder));
    } else {
        if (::geteuid() != 0) QSKIP("only root can give a folder away");
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(::chown(folder.toLocal8Bit().constData(), 65534, 65534) == 0);
    }
    auto result = dervix::PrepareRuntimeFolder(folder.toStdString());
    QVERIFY(!result.ok());
    QVERIFY2(QString::fromStdString(result.error).contains(reason), result.error.c_str());
    if (kind == "link") QCOMPARE(Mode(dir.path() + "/elsewhere"), mode_t(0755));  // left alone
}

void TestPosixPlatform::runtimeFolderFallbackInTmp() {
    EnvScope env{{"DERVIX_RUNTIME_DIR", ""}, {"XDG_RUNTIME_DIR", ""}};
    auto result = dervix::PrepareRuntimeFolder();
    QVERIFY2(result.ok(), result.error.c_str());
    const QString folder = "/tmp/runtime-" + UserName() + "/dervix";
    QCOMPARE(QString::fromStdString(result.path), folder);
    QCOMPARE(Mode(folder), mode_t(0700));
    QCOMPARE(Mode("/tmp/runtime-" + UserName()), mode_t(0700));
}

void TestPosixPlatform::instanceLockInOneProcess() {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    InstanceLock first;
    InstanceLock second;
    QCOMPARE(first.acquire(folder), Outcome::Acquired);
    QVERIFY(first.held());
    QCOMPARE(second.acquire(folder), Outcome::HeldElsewhere);
    QVERIFY(!second.held());
    QVERIFY(!second.error().empty());
    first.release();
    QCOMPARE(second.acquire(folder), Outcome::Acquired);
    QVERIFY(QFileInfo::exists(dir.path() + "/instance.lock"));
}

void TestPosixPlatform::instanceLockAcrossProcesses() {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    int ready[2];
    QVERIFY(::pipe(ready) == 0);
    const pid_t first = ::fork();
    if (first == 0) {
        InstanceLock lock;
        char result = lock.acquire(folder) == Outcome::Acquired ? 'y' : 'n';
        if (::write(ready[1], &result, 1) != 1) ::_exit(2);
        for (;;) ::pause();  // holds the lock until killed
    }
    QVERIFY(first > 0);
    ::close(ready[1]);
    char answer = 0;
    QCOMPARE(::read(ready[0], &answer, 1), ssize_t(1));
    ::close(ready[0]);
    QCOMPARE(answer, 'y');

    // A second start while the first runs cannot take it.
    InstanceLock second;
    QCOMPARE(second.acquire(folder), Outcome::HeldElsewhere);

    // The first crashes; the kernel lets go of its lock, the file stays.
    ::kill(first, SIGKILL);
    int status = 0;
    QCOMPARE(::waitpid(first, &status, 0), first);
    QVERIFY(QFileInfo::exists(dir.path() + "/instance.lock"));
    QCOMPARE(second.acquire(folder), Outcome::Acquired);
}

void TestPosixPlatform::instanceLockWithoutFolder() {
    QTemporaryDir dir;
    InstanceLock lock;
    QCOMPARE(lock.acquire((dir.path() + "/missing").toStdString()), Outcome::Failed);
    QVERIFY(QString::fromStdString(lock.error()).contains("No such file or directory"));
}

void TestPosixPlatform::clockLocalTime_data() {
    QTest::addColumn<QString>("zone");
    QTest::addColumn<qint64>("epochMillis");
    QTest::addColumn<QString>("local");
    QTest::addColumn<int>("offset");
    // 2026-12-06 22:18:05 UTC
    const qint64 t = 1796595485LL * 1000;
    QTest::newRow("UTC") << "UTC0" << t << "2026-12-06 22:18:05" << 0;
    QTest::newRow("three hours east") << "XYZ-3" << t << "2026-12-07 01:18:05" << 10800;
    QTest::newRow("five hours west") << "ABC5" << t << "2026-12-06 17:18:05" << -18000;
    QTest::newRow("half-hour zone") << "IST-5:30" << t << "2026-12-07 03:48:05" << 19800;
    QTest::newRow("fraction of a second drops") << "UTC0" << t + 999 << "2026-12-06 22:18:05" << 0;
    QTest::newRow("before 1970 rounds down") << "UTC0" << qint64(-1500) << "1969-12-31 23:59:58" << 0;
    QTest::newRow("summer time") << "CET-1CEST,M3.5.0,M10.5.0/3" << 1782994685LL * 1000 << "2026-07-02 14:18:05"
                                 << 7200;
}

void TestPosixPlatform::clockLocalTime() {
    QFETCH(QString, zone);
    QFETCH(qint64, epochMillis);
    QFETCH(QString, local);
    QFETCH(int, offset);
    dervix::LocalTime t;
    {
        EnvScope env{{"TZ", zone}};
        dervix::SystemClock clock;
        t = clock.toLocal(std::chrono::system_clock::time_point(std::chrono::milliseconds(epochMillis)));
    }
    tzset();
    const QString shown = QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                                            t.minute, t.second);
    QCOMPARE(shown, local);
    QCOMPARE(t.utcOffsetSeconds, offset);
}

void TestPosixPlatform::clockNowIsSystemTime() {
    dervix::SystemClock clock;
    const auto before = std::chrono::system_clock::now();
    const auto now = clock.now();
    const auto after = std::chrono::system_clock::now();
    QVERIFY(before <= now && now <= after);
}

void TestPosixPlatform::lineFileAppends() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/Dervix.txt";
    dervix::PosixLineFile file;
    QCOMPARE(file.append(path.toStdString(), "one\r\n"), std::string());
    QCOMPARE(Mode(path), mode_t(0644));
    QCOMPARE(file.append(path.toStdString(), std::string("two\rthree\0\r\n", 12)), std::string());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("one\r\ntwo\rthree\0\r\n", 17));
}

void TestPosixPlatform::lineFileFailureText() {
    QTemporaryDir dir;
    dervix::PosixLineFile file;
    QCOMPARE(file.append((dir.path() + "/missing/Dervix.txt").toStdString(), "x"),
             std::string("No such file or directory"));
    QCOMPARE(file.append(dir.path().toStdString(), "x"), std::string("Is a directory"));
    // A device is no log, however it would take the lines.
    QCOMPARE(file.append("/dev/full", "x"), std::string("not a regular file"));
}

QTEST_APPLESS_MAIN(TestPosixPlatform)
#include "tst_posixplatform.moc"
