// The real program and its link client on a machine another user works on
// too: he may change a folder on the way to the log, or make the client's
// runtime folder in /tmp before it does. Run as root, he is a user made for
// the purpose (dervix-other), as the Windows stage makes its own, played by
// child processes that take on his ids. Where /tmp/runtime-<user> matters,
// the client runs as a second such user (dervix-operator), as root's own
// runtime folder there is left alone.
#include <QtTest>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

namespace {

const char* const kOtherName = "dervix-other";
const char* const kOperatorName = "dervix-operator";

QString Bin(const char* name) { return qEnvironmentVariable("DERVIX_BIN_DIR") + "/" + name; }

std::string Path(const QString& path) { return QFile::encodeName(path).toStdString(); }

struct User {
    uid_t uid = 0;
    gid_t gid = 0;
};

// The user of that name, made (a system user, no home) when missing;
// uid 0 when he cannot be.
User MadeUser(const char* name) {
    if (!::getpwnam(name) && QProcess::execute("useradd", {"-r", "-M", "-s", "/usr/sbin/nologin", name}) != 0) return {};
    const passwd* pw = ::getpwnam(name);
    return pw ? User{pw->pw_uid, pw->pw_gid} : User{};
}

// For a QProcess's child, after the fork.
void BecomeUser(const User& user) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0) ::_exit(127);
}

// A child process as the other user runs work, system calls only (a child
// of a threaded program may do no more); true when work returned true.
bool AsOther(const User& other, const std::function<bool()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        BecomeUser(other);
        ::_exit(work() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The other user's server on a socket path: it takes every connection,
// answers whatever comes with a made-up reading, and tells on its report
// what reached it ("connected" for each connection, then the bytes). Its
// socket file is bound before the child takes on his ids when boundByUs:
// a file of ours, a server of his.
class FakeServer {
public:
    ~FakeServer() { stop(); }

    bool start(const User& other, const std::string& socketPath, bool boundByUs, const std::string& folders = {}) {
        int ready[2], stopping[2], report[2];
        if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(stopping, O_CLOEXEC) != 0 || ::pipe2(report, O_CLOEXEC) != 0)
            return false;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        const std::string inner = folders + "/dervix";
        child_ = ::fork();
        if (child_ == 0) {
            ::close(ready[0]);
            ::close(stopping[1]);
            ::close(report[0]);
            const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
            if (boundByUs && ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(2);
            BecomeUser(other);
            // He makes the folders first, open for reading as such folders are.
            if (!folders.empty() && (::mkdir(folders.c_str(), 0755) != 0 || ::chmod(folders.c_str(), 0755) != 0 ||
                                     ::mkdir(inner.c_str(), 0755) != 0 || ::chmod(inner.c_str(), 0755) != 0))
                ::_exit(2);
            if (!boundByUs && ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(2);
            if (::listen(listener, 8) != 0 || ::write(ready[1], "r", 1) != 1) ::_exit(2);
            Serve(listener, stopping[0], report[1]);
        }
        ::close(ready[1]);
        ::close(stopping[0]);
        ::close(report[1]);
        stop_ = stopping[1];
        report_ = report[0];
        char byte = 0;
        const bool started = child_ > 0 && ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        return started;
    }

    // Everything that reached it, once it has ended.
    QByteArray stop() {
        if (child_ <= 0) return {};
        ::close(stop_);
        QByteArray reached;
        char buffer[4096];
        for (ssize_t n; (n = ::read(report_, buffer, sizeof buffer)) != 0;)
            if (n > 0) reached.append(buffer, n);
            else if (errno != EINTR) break;
        ::close(report_);
        ::waitpid(child_, nullptr, 0);
        child_ = -1;
        return reached;
    }

private:
    // Until stop is closed; whatever waits then is taken in first (the
    // client has ended by that time, so all it sent is there).
    [[noreturn]] static void Serve(int listener, int stop, int report) {
        pollfd fds[10] = {{stop, POLLIN, 0}, {listener, POLLIN, 0}};
        nfds_t count = 2;
        for (;;) {
            if (::poll(fds, count, -1) < 0 && errno != EINTR) ::_exit(1);
            for (int c; count < 10 && (c = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
                fds[count++] = {c, POLLIN, 0};
                (void)!::write(report, "connected\n", 10);
            }
            for (nfds_t i = 2; i < count; ++i) {
                char buffer[512];
                ssize_t n = -1;
                while (fds[i].fd >= 0 && (n = ::read(fds[i].fd, buffer, sizeof buffer)) > 0) {
                    (void)!::write(report, buffer, static_cast<size_t>(n));
                    (void)!::write(fds[i].fd, "OK 99.9\n", 8);
                }
                if (n == 0) {  // the client has gone
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                }
            }
            if (fds[0].revents != 0) ::_exit(0);
        }
    }

    pid_t child_ = -1;
    int stop_ = -1;
    int report_ = -1;
};

}  // namespace

class TwoUsersTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void logWayChangedByAnotherUser_data();
    void logWayChangedByAnotherUser();
    void clientRefusesAnotherUsersProgram_data();
    void clientRefusesAnotherUsersProgram();

private:
    QProcessEnvironment env() const;
    int link(const QStringList& args, const QProcessEnvironment& e) const;

    User other_;
    User operator_;
    std::unique_ptr<QTemporaryDir> dir_;
    QProcess program_;
};

void TwoUsersTest::initTestCase() {
    if (::geteuid() != 0) QSKIP("needs root, to make other users and act as them");
    other_ = MadeUser(kOtherName);
    operator_ = MadeUser(kOperatorName);
    if (other_.uid == 0 || operator_.uid == 0)
        QSKIP(qPrintable(QString("useradd could not make the users %1 and %2").arg(kOtherName, kOperatorName)));
}

void TwoUsersTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    // Ours, but he may pass through it to what is his.
    QVERIFY(::chmod(Path(dir_->path()).c_str(), 0755) == 0);
    // Qt's own runtime folder, which it would otherwise make in /tmp.
    QVERIFY(::mkdir(Path(dir_->filePath("xdg-run")).c_str(), 0700) == 0);
}

void TwoUsersTest::cleanup() {
    if (program_.state() != QProcess::NotRunning) {
        program_.kill();
        program_.waitForFinished(5000);
    }
    dir_.reset();
}

QProcessEnvironment TwoUsersTest::env() const {
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("XDG_CONFIG_HOME", dir_->filePath("config"));
    e.insert("DERVIX_RUNTIME_DIR", dir_->filePath("run"));
    e.insert("XDG_RUNTIME_DIR", dir_->filePath("xdg-run"));
    e.insert("QT_QPA_PLATFORM", "offscreen");
    e.remove("DERVIX_PROFILE");
    return e;
}

// The client's exit status; -1 when it has not ended on its own.
int TwoUsersTest::link(const QStringList& args, const QProcessEnvironment& e) const {
    QProcess client;
    client.setProcessEnvironment(e);
    client.start(Bin("dervix-link"), args);
    if (client.waitForFinished(10000)) return client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
    client.kill();
    client.waitForFinished(5000);
    return -1;
}

// DERVIX_LOG=<d>/shared/logs/dervix.log, and ten requests after the other
// user has put a link to <d>/ours, a folder of ours, in place of logs.
void TwoUsersTest::logWayChangedByAnotherUser_data() {
    QTest::addColumn<int>("sharedMode");
    QTest::addColumn<bool>("sharedIsHis");
    QTest::addColumn<QString>("refusal");  // "<d>" for the test's folder
    // He moves logs away himself; every line is refused from the start.
    QTest::newRow("his folder open to all") << 0777 << true << "<d>/shared belongs to another user";
    // Like /tmp: logs is moved away by us (a clean-up), the link is his.
    QTest::newRow("a sticky folder open to all")
        << 01777 << false << "<d>/shared/logs is a symbolic link, not followed there";
}

void TwoUsersTest::logWayChangedByAnotherUser() {
    QFETCH(int, sharedMode);
    QFETCH(bool, sharedIsHis);
    QFETCH(QString, refusal);
    const std::string shared = Path(dir_->filePath("shared")), logs = shared + "/logs", away = shared + "/logs.away";
    const std::string ours = Path(dir_->filePath("ours"));
    QVERIFY(::mkdir(shared.c_str(), 0755) == 0 && ::chmod(shared.c_str(), static_cast<mode_t>(sharedMode)) == 0);
    if (sharedIsHis) QVERIFY(::chown(shared.c_str(), other_.uid, other_.gid) == 0);
    QVERIFY(::mkdir(logs.c_str(), 0755) == 0 && ::mkdir(ours.c_str(), 0755) == 0);
    QVERIFY(QDir().mkpath(dir_->filePath("config/dervix")));
    QFile profile(dir_->filePath("config/dervix/demo-profile.ini"));
    QVERIFY(profile.open(QIODevice::WriteOnly));
    profile.write("[Dervix]\nLogging=1\n");
    profile.close();

    QProcessEnvironment e = env();
    e.insert("DERVIX_LOG", QFile::decodeName(QByteArray::fromStdString(logs + "/dervix.log")));
    program_.setProcessEnvironment(e);
    program_.start(Bin("dervix"), {"--simulate"});
    QVERIFY(program_.waitForStarted(10000));
    int code = -1;
    for (int i = 0; i < 100 && code != 0; ++i)
        if ((code = link({"get", "txtFlowRate"}, e)) != 0) QTest::qWait(100);
    QCOMPARE(code, 0);
    QCOMPARE(link({"set", "txtDVXScmd", "STATUS"}, e), 0);
    // The module's answer is logged after the request: both are in before
    // the folder goes, and nothing is on its way meanwhile.
    const QString log = dir_->filePath("shared/logs/dervix.log");
    const auto answerLogged = [&log] {
        QFile file(log);
        const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const qsizetype answer = text.indexOf("Response String = [G1READY]");
        return answer >= 0 && text.indexOf("Receive - ", answer) >= 0;
    };
    if (!sharedIsHis) QTRY_VERIFY_WITH_TIMEOUT(answerLogged(), 10000);
    const qint64 before = QFileInfo(log).size();
    QCOMPARE(before > 0, !sharedIsHis);

    if (!sharedIsHis) QVERIFY(::rename(logs.c_str(), away.c_str()) == 0);
    const char* const from = logs.c_str();
    const char* const to = away.c_str();
    const char* const target = ours.c_str();
    QVERIFY(AsOther(other_, [=] { return (!sharedIsHis || ::rename(from, to) == 0) && ::symlink(target, from) == 0; }));
    for (int i = 0; i < 10; ++i) QCOMPARE(link({"set", "txtDVXScmd", "STATUS"}, e), 0);
    program_.kill();
    QVERIFY(program_.waitForFinished(10000));
    const QByteArray err = program_.readAllStandardError();

    QCOMPARE(QDir(dir_->filePath("ours")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    QCOMPARE(QFileInfo(dir_->filePath("shared/logs.away/dervix.log")).size(), before);
    QCOMPARE(err.count("cannot be written"), 1);
    QVERIFY2(err.contains(": " + QFile::encodeName(refusal.replace("<d>", dir_->path()))), err.constData());
}

// Without XDG_RUNTIME_DIR the client looks in /tmp/runtime-<user>/dervix,
// which the other user may have made first; or he may serve a socket that
// looks like ours.
void TwoUsersTest::clientRefusesAnotherUsersProgram_data() {
    QTest::addColumn<QString>("setup");       // "his folder in /tmp", "his socket", "his server"
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("reason");      // after the socket's path; "<d>" the test's folder
    QTest::addColumn<QByteArray>("reached");  // what his server got
    const QString tmp = "his folder in /tmp";
    const QString first = QString("/tmp/runtime-%1 belongs to another user").arg(kOperatorName);
    QTest::newRow("his folder in /tmp: get") << tmp << QStringList{"get", "txtFlowRate"} << first << QByteArray();
    QTest::newRow("his folder in /tmp: set") << tmp << QStringList{"set", "txtDVXScmd", "START"} << first << QByteArray();
    QTest::newRow("his folder in /tmp: watch") << tmp << QStringList{"watch", "txtFlowRate"} << first << QByteArray();
    // In a folder of ours that others may write to.
    QTest::newRow("his socket") << "his socket" << QStringList{"get", "txtFlowRate"}
                                << "<d>/run/Server belongs to another user" << QByteArray();
    QTest::newRow("our socket, his server") << "his server" << QStringList{"get", "txtFlowRate"}
                                            << "it is served by another user" << QByteArray("connected\n");
}

void TwoUsersTest::clientRefusesAnotherUsersProgram() {
    QFETCH(QString, setup);
    QFETCH(QStringList, args);
    QFETCH(QString, reason);
    QFETCH(QByteArray, reached);
    const bool inTmp = setup == "his folder in /tmp";
    const QString tmpFolder = QString("/tmp/runtime-") + kOperatorName;
    const QString socket = inTmp ? tmpFolder + "/dervix/Server" : dir_->filePath("run/Server");
    QProcessEnvironment e = env();
    e.remove("XDG_RUNTIME_DIR");
    if (inTmp) {
        e.remove("DERVIX_RUNTIME_DIR");
        // Only ever made by this test, for one of its users.
        const QFileInfo found(tmpFolder);
        if (found.exists() && found.ownerId() != other_.uid && found.ownerId() != operator_.uid)
            QSKIP(qPrintable(tmpFolder + " belongs to someone else and is left alone"));
        QVERIFY(!found.exists() || QDir(tmpFolder).removeRecursively());
    }
    FakeServer server;
    auto removeFolder = qScopeGuard([&] {
        server.stop();
        if (inTmp) QDir(tmpFolder).removeRecursively();
    });
    const std::string run = Path(dir_->filePath("run"));
    if (inTmp) {
        QVERIFY(server.start(other_, Path(socket), false, Path(tmpFolder)));
    } else {
        QVERIFY(::mkdir(run.c_str(), 0700) == 0 && ::chmod(run.c_str(), setup == "his socket" ? 0777 : 0700) == 0);
        QVERIFY(server.start(other_, Path(socket), setup == "his server"));
    }

    QProcess client;
    client.setProcessEnvironment(e);
    if (inTmp) {
        // His cron job; a copy of the client he may run, wherever this build is.
        const QString copy = dir_->filePath("dervix-link");
        QVERIFY(QFile::copy(Bin("dervix-link"), copy));
        const User user = operator_;
        client.setChildProcessModifier([user] { BecomeUser(user); });
        client.start(copy, args);
    } else {
        client.start(Bin("dervix-link"), args);
    }
    // One that talked to him would wait for more of his answers.
    const bool ended = client.waitForFinished(10000);
    if (!ended) {
        client.kill();
        client.waitForFinished(5000);
    }
    QCOMPARE(server.stop(), reached);
    QVERIFY(ended);
    QCOMPARE(client.exitCode(), 2);
    QCOMPARE(client.readAllStandardOutput(), QByteArray());
    QCOMPARE(QString::fromLocal8Bit(client.readAllStandardError()),
             "dervix-link: not talking to the program at " + socket + ": " + reason.replace("<d>", dir_->path()) + "\n");
}

QTEST_GUILESS_MAIN(TwoUsersTest)
#include "tst_twousers.moc"
