// The profile file: what it reads from odd files, how it writes (atomic,
// durable, locked), and that neither a second writer nor a killed one
// loses anything.
#include <QtTest>

#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>
#include <string>

#include "platform/posix/FileProfileStore.h"
#include "shell/IniText.h"
#include "shell/Settings.h"

using dervix::FileProfileStore;
using dervix::IniLookup;

namespace {

// Literal bytes including any NUL inside.
template <std::size_t N>
QByteArray B(const char (&text)[N]) {
    return QByteArray(text, int(N - 1));
}

QByteArray FileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteFileBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray Read(FileProfileStore& store, const char* key) {
    auto value = store.read("Dervix", key);
    return value ? "=" + QByteArray::fromStdString(*value) : QByteArray("<absent>");
}

std::string Path(const QString& path) { return path.toStdString(); }

ino_t Inode(const QString& path) {
    struct stat st {};
    return ::stat(path.toLocal8Bit().constData(), &st) == 0 ? st.st_ino : 0;
}

mode_t Mode(const QString& path) {
    struct stat st {};
    return ::stat(path.toLocal8Bit().constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

QStringList Temporaries(const QString& folder) {
    return QDir(folder).entryList({".*.tmp-*"}, QDir::Files | QDir::Hidden | QDir::System);
}

// Every line is a section header, a key line, a comment or blank.
bool WellFormed(const QByteArray& content) {
    if (!content.isEmpty() && !content.endsWith('\n')) return false;
    for (const QByteArray& line : content.split('\n')) {
        const QByteArray t = line.trimmed();
        if (t.isEmpty() || t.startsWith(';')) continue;
        if (t.startsWith('[') && t.endsWith(']')) continue;
        if (line.indexOf('=') > 0) continue;
        return false;
    }
    return true;
}

// Runs work in a child process; its exit status is what work returns.
// The killed writer's keys N1, N2, ... Appended rather than "N" + ...: GCC 12
// at -O3 warns falsely of overlapping copies inside that operator+.
std::string CounterKey(int i) { return std::string("N").append(std::to_string(i)); }

pid_t Spawn(const std::function<int()>& work) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(work());
    return pid;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

class TestFileProfileStore : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ::umask(022); }
    void profilePath_data();
    void profilePath();
    void readsOddFiles_data();
    void readsOddFiles();
    void readsNonFilesAsEmpty();
    void writeCreatesFolderAndFile();
    void writeKeepsEverythingElse();
    void writeIsRenameOverAndKeepsMode();
    void unchangedValueLeavesFileAlone();
    void writeFollowsLinkedProfile();
    void writeRefusesUnreadableProfile_data();
    void writeRefusesUnreadableProfile();
    void staleTemporaryRemoved();
    void throughSettings();
    void twoWritersLoseNothing();
    void killedWriterNeverTearsFile();
};

void TestFileProfileStore::profilePath_data() {
    QTest::addColumn<QString>("explicitPath");
    QTest::addColumn<QString>("xdgConfig");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("expected");
    QTest::newRow("explicit wins") << "/x/p.ini" << "/cfg" << "/home/u" << "/x/p.ini";
    QTest::newRow("XDG config folder") << "" << "/cfg" << "/home/u" << "/cfg/dervix/profile.ini";
    QTest::newRow("home fallback") << "" << "" << "/home/u" << "/home/u/.config/dervix/profile.ini";
    QTest::newRow("relative XDG ignored") << "" << "cfg" << "/home/u" << "/home/u/.config/dervix/profile.ini";
}

void TestFileProfileStore::profilePath() {
    QFETCH(QString, explicitPath);
    QFETCH(QString, xdgConfig);
    QFETCH(QString, home);
    QFETCH(QString, expected);
    const QByteArray saved[] = {qgetenv("DERVIX_PROFILE"), qgetenv("XDG_CONFIG_HOME"), qgetenv("HOME")};
    const char* names[] = {"DERVIX_PROFILE", "XDG_CONFIG_HOME", "HOME"};
    const QString values[] = {explicitPath, xdgConfig, home};
    for (int i = 0; i < 3; ++i) {
        if (values[i].isEmpty())
            qunsetenv(names[i]);
        else
            qputenv(names[i], values[i].toLocal8Bit());
    }
    const QString path = QString::fromStdString(dervix::ProfilePath());
    for (int i = 0; i < 3; ++i) {
        if (saved[i].isNull())
            qunsetenv(names[i]);
        else
            qputenv(names[i], saved[i]);
    }
    QCOMPARE(path, expected);
}

void TestFileProfileStore::readsOddFiles_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("splitCode");
    QTest::newRow("CR LF") << QByteArray("[Dervix]\r\nSplitCode=7\r\n") << QByteArray("=7");
    QTest::newRow("binary bytes") << B("\x00\x01\xff\xfe\n[Dervix]\n\x00=\x00\nSplitCode=7\n")
                                  << QByteArray("=7");
    QTest::newRow("very long lines") << "[Dervix]\n" + QByteArray(3 << 20, 'x') + "\nSplitCode=7\n" << QByteArray("=7");
    QTest::newRow("duplicate sections") << QByteArray("[Dervix]\nSplitCode=7\n[DERVIX]\nSplitCode=8\n")
                                        << QByteArray("=7");
    QTest::newRow("no line end at all") << QByteArray("[Dervix]\nSplitCode=7") << QByteArray("=7");
    QTest::newRow("empty file") << QByteArray() << QByteArray("<absent>");
}

void TestFileProfileStore::readsOddFiles() {
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, splitCode);
    QTemporaryDir dir;
    const QString path = dir.path() + "/profile.ini";
    QVERIFY(WriteFileBytes(path, content));
    FileProfileStore store(Path(path));
    QCOMPARE(Read(store, "Splitcode"), splitCode);
    QCOMPARE(Read(store, "Missing"), QByteArray("<absent>"));
    // And a write still works and keeps the odd content around it.
    QVERIFY(store.write("Dervix", "Other", "1"));
    QCOMPARE(Read(store, "Splitcode"), splitCode);
    QCOMPARE(Read(store, "Other"), QByteArray("=1"));
}

void TestFileProfileStore::readsNonFilesAsEmpty() {
    QTemporaryDir dir;
    FileProfileStore absent(Path(dir.path() + "/none/profile.ini"));
    QCOMPARE(Read(absent, "A"), QByteArray("<absent>"));

    const QString folder = dir.path() + "/folder.ini";
    QVERIFY(QDir().mkdir(folder));
    FileProfileStore isFolder(Path(folder));
    QCOMPARE(Read(isFolder, "A"), QByteArray("<absent>"));

    // A pipe with no writer would block an ordinary open for ever.
    const QString fifo = dir.path() + "/fifo.ini";
    QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
    FileProfileStore isFifo(Path(fifo));
    QCOMPARE(Read(isFifo, "A"), QByteArray("<absent>"));
    QVERIFY(!isFifo.write("Dervix", "A", "1"));

    // A profile far too large to be one: what can be read still counts.
    const QString huge = dir.path() + "/huge.ini";
    QVERIFY(WriteFileBytes(huge, "[Dervix]\nA=5\n"));
    QVERIFY(::truncate(huge.toLocal8Bit().constData(), FileProfileStore::kMaxSize + 4096) == 0);
    FileProfileStore isHuge(Path(huge));
    QCOMPARE(Read(isHuge, "A"), QByteArray("=5"));
}

void TestFileProfileStore::writeCreatesFolderAndFile() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/a/b/dervix/profile.ini";
    FileProfileStore store(Path(path));
    QVERIFY2(store.write("Dervix", "SplitCode", "7"), store.lastError().c_str());
    QCOMPARE(FileBytes(path), QByteArray("[Dervix]\nSplitCode=7\n"));
    QCOMPARE(Mode(path), mode_t(0644));  // 0666 under the umask of 022
    QCOMPARE(Mode(dir.path() + "/a/b/dervix"), mode_t(0700));
    QVERIFY(QFileInfo::exists(path + ".lock"));
    QVERIFY(Temporaries(dir.path() + "/a/b/dervix").isEmpty());
    QVERIFY(store.lastError().empty());
}

void TestFileProfileStore::writeKeepsEverythingElse() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/profile.ini";
    const QByteArray before =
        "; written by hand\r\n\r\n[Other]\r\nKey = Value ; note\r\n\r\n[Dervix]\r\n; port\r\nCommPort=1\r\n\r\n"
        "[Last]\r\nz=\r\n";
    QVERIFY(WriteFileBytes(path, before));
    FileProfileStore store(Path(path));
    QVERIFY(store.write("Dervix", "CommPort", "2"));
    QVERIFY(store.write("Dervix", "ModuleID", "5"));
    QCOMPARE(FileBytes(path),
             QByteArray("; written by hand\r\n\r\n[Other]\r\nKey = Value ; note\r\n\r\n[Dervix]\r\n; port\r\nCommPort=2\r\n"
                        "ModuleID=5\r\n\r\n[Last]\r\nz=\r\n"));
}

void TestFileProfileStore::writeIsRenameOverAndKeepsMode() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/profile.ini";
    QVERIFY(WriteFileBytes(path, "[Dervix]\nA=1\n"));
    QVERIFY(::chmod(path.toLocal8Bit().constData(), 0640) == 0);
    const ino_t before = Inode(path);
    FileProfileStore store(Path(path));
    QVERIFY(store.write("Dervix", "A", "2"));
    QVERIFY(Inode(path) != before);  // a new file took the old one's place
    QCOMPARE(Mode(path), mode_t(0640));
    QCOMPARE(FileBytes(path), QByteArray("[Dervix]\nA=2\n"));
    QVERIFY(Temporaries(dir.path()).isEmpty());
}

void TestFileProfileStore::unchangedValueLeavesFileAlone() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/profile.ini";
    QVERIFY(WriteFileBytes(path, "[Dervix]\nA=1\n"));
    const ino_t before = Inode(path);
    FileProfileStore store(Path(path));
    QVERIFY(store.write("Dervix", "a", "1"));
    QCOMPARE(Inode(path), before);
}

void TestFileProfileStore::writeFollowsLinkedProfile() {
    QTemporaryDir dir;
    QVERIFY(QDir().mkdir(dir.path() + "/dotfiles"));
    const QString real = dir.path() + "/dotfiles/profile.ini";
    const QString link = dir.path() + "/profile.ini";
    QVERIFY(WriteFileBytes(real, "[Dervix]\nA=1\n"));
    QVERIFY(QFile::link(real, link));
    FileProfileStore store(Path(link));
    QVERIFY(store.write("Dervix", "A", "2"));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(FileBytes(real), QByteArray("[Dervix]\nA=2\n"));
    QCOMPARE(Read(store, "A"), QByteArray("=2"));
}

void TestFileProfileStore::writeRefusesUnreadableProfile_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("a folder in its place") << "folder";
    QTest::newRow("far too large") << "huge";
    QTest::newRow("no read permission") << "unreadable";
    QTest::newRow("no write permission, even for root") << "readonly";
}

void TestFileProfileStore::writeRefusesUnreadableProfile() {
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.path() + "/profile.ini";
    QByteArray before;
    if (kind == "folder") {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == "huge") {
        QVERIFY(WriteFileBytes(path, "[Other]\nkeep=me\n"));
        QVERIFY(::truncate(path.toLocal8Bit().constData(), FileProfileStore::kMaxSize + 1) == 0);
        before = FileBytes(path);
    } else if (kind == "readonly") {
        QVERIFY(WriteFileBytes(path, "[Other]\nkeep=me\n[Dervix]\nA=1\n"));
        before = FileBytes(path);
        QVERIFY(::chmod(path.toLocal8Bit().constData(), 0444) == 0);
    } else {
        if (::geteuid() == 0) QSKIP("root reads any file");
        QVERIFY(WriteFileBytes(path, "[Other]\nkeep=me\n"));
        before = FileBytes(path);
        QVERIFY(::chmod(path.toLocal8Bit().constData(), 0200) == 0);
    }
    const ino_t inode = Inode(path);
    FileProfileStore store(Path(path));
    QVERIFY(!store.write("Dervix", "A", "2"));
    QVERIFY(!store.lastError().empty());
    QCOMPARE(Inode(path), inode);  // not replaced either
    if (kind == "readonly") {
        QVERIFY(!store.write("Dervix", "A", "1"));  // not even a value it already holds
        QCOMPARE(Mode(path), mode_t(0444));
        QCOMPARE(Read(store, "A"), QByteArray("=1"));  // and it still reads
    }
    if (QFileInfo(path).isFile()) {
        QVERIFY(::chmod(path.toLocal8Bit().constData(), 0600) == 0);
        QCOMPARE(FileBytes(path), before);  // the other sections are still there
    }
    QVERIFY(Temporaries(dir.path()).isEmpty());
}

void TestFileProfileStore::staleTemporaryRemoved() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/profile.ini";
    const QString stale = dir.path() + "/.profile.ini.tmp-99999-0";
    const QString unrelated = dir.path() + "/.other.ini.tmp-99999-0";
    QVERIFY(WriteFileBytes(stale, "[Dervix]\nA="));
    QVERIFY(WriteFileBytes(unrelated, "x"));
    FileProfileStore store(Path(path));
    QVERIFY(store.write("Dervix", "A", "1"));
    QVERIFY(!QFileInfo::exists(stale));
    QVERIFY(QFileInfo::exists(unrelated));
}

void TestFileProfileStore::throughSettings() {
    QTemporaryDir dir;
    FileProfileStore store(Path(dir.path() + "/profile.ini"));
    dervix::Settings settings(store);
    settings.WriteIniValue("Dervix", "SplitCode", "7");
    QCOMPARE(settings.GetIniValue("Dervix", "Splitcode"), std::string("7"));
    settings.WriteIniValue("Dervix", "FlowRate", std::string(300, '4'));
    QCOMPARE(settings.GetIniValue("Dervix", "FlowRate"), std::string(254, '4'));
    settings.WriteIniValue("Dervix", "Running", "");
    QVERIFY(store.read("Dervix", "Running").has_value());
    QVERIFY(!store.read("Dervix", "ErrorStatus").has_value());
    QCOMPARE(settings.GetIniValue("Dervix", "Running"), std::string());
}

void TestFileProfileStore::twoWritersLoseNothing() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/profile.ini";
    QVERIFY(WriteFileBytes(path, "[Other]\nkeep=me\n"));
    constexpr int kWrites = 500;
    auto writer = [&](char name) {
        return [&, name] {
            FileProfileStore store(Path(path));
            for (int i = 0; i < kWrites; ++i)
                if (!store.write("Dervix", name + std::to_string(i), std::to_string(i))) return 1;
            return 0;
        };
    };
    const pid_t a = Spawn(writer('A'));
    const pid_t b = Spawn(writer('B'));
    QVERIFY(a > 0 && b > 0);
    QCOMPARE(ExitStatus(a), 0);
    QCOMPARE(ExitStatus(b), 0);

    const std::string content = FileBytes(path).toStdString();
    int missing = 0;
    for (char name : {'A', 'B'})
        for (int i = 0; i < kWrites; ++i)
            if (IniLookup(content, "Dervix", name + std::to_string(i)) != std::to_string(i)) ++missing;
    QCOMPARE(missing, 0);
    QCOMPARE(IniLookup(content, "Other", "keep"), std::optional<std::string>("me"));
    QVERIFY(WellFormed(QByteArray::fromStdString(content)));
    QVERIFY(Temporaries(dir.path()).isEmpty());
}

void TestFileProfileStore::killedWriterNeverTearsFile() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/profile.ini";
    const QByteArray seed = "; by hand\n[Other]\nkeep = me ; yes\n\n[Dervix]\nBase=1\n";
    QVERIFY(WriteFileBytes(path, seed));
    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> pauseMicros(0, 50000);

    int known = 0;  // N1..Nknown were written by an earlier child
    for (int round = 0; round < 40; ++round) {
        const int from = known + 1;
        const pid_t child = Spawn([&] {
            FileProfileStore store(Path(path));
            for (int i = from; i < from + 100000; ++i) {
                if (!store.write("Dervix", "Counter", std::to_string(i))) return 3;
                if (!store.write("Dervix", CounterKey(i), std::to_string(i))) return 3;
            }
            return 0;
        });
        QVERIFY(child > 0);
        ::usleep(static_cast<useconds_t>(pauseMicros(random)));
        ::kill(child, SIGKILL);
        const int status = ExitStatus(child);
        QVERIFY2(status == 128 + SIGKILL, qPrintable(QString("child ended with %1").arg(status)));

        const QByteArray bytes = FileBytes(path);
        QVERIFY2(bytes.startsWith(seed), qPrintable("round " + QString::number(round)));
        QVERIFY2(WellFormed(bytes), bytes.right(200).constData());
        const std::string content = bytes.toStdString();
        int present = 0;
        while (IniLookup(content, "Dervix", CounterKey(present + 1))) ++present;
        QVERIFY2(present >= known, qPrintable(QString("N%1 lost").arg(known)));
        QVERIFY(!IniLookup(content, "Dervix", CounterKey(present + 2)));
        if (present > 0) {
            // Counter is written just before its N key.
            const int counter = std::stoi(IniLookup(content, "Dervix", "Counter").value_or("0"));
            QVERIFY(counter == present || counter == present + 1);
        }
        known = present;
        // A killed writer leaves at most its one temporary file behind.
        QVERIFY(Temporaries(dir.path()).size() <= 1);
    }
    QVERIFY2(known > 0, "no write finished in any round");
    // The next writer clears what the last killed one left.
    FileProfileStore store(Path(path));
    QVERIFY(store.write("Dervix", "Final", "1"));
    QVERIFY(Temporaries(dir.path()).isEmpty());
    qInfo("%d keys written across 40 killed writers", known);
}

QTEST_APPLESS_MAIN(TestFileProfileStore)
#include "tst_fileprofilestore.moc"
