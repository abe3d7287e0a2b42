// dervix-link against a program serving the link, and "KILL" over the link
// ending that program. The program is this test binary started again with
// --serve: the main window's logic on fakes behind a real link server.
#include <QtTest>

#include <QLocalSocket>
#include <QProcess>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <string>

#include "platform/qt/posix/LinkServer.h"
#include "shell/LinkProtocol.h"
#include "support/Rig.h"

namespace {

constexpr int kWait = 10000;

// The serving program: prints "ready" once it listens, ends with status 0
// when a KILL request ends it.
int Serve(int argc, char** argv, const char* folder) {
    QCoreApplication app(argc, argv);
    dervix::test::Rig rig;
    rig.startAndAnswerCheck();  // started, as the program is before it listens
    dervix::LinkProtocol protocol(*rig.w);
    dervix::LinkServer server([&](const std::string& line, dervix::LinkWatcher& client) {
        try {
            return protocol.handle(line, &client);
        } catch (const dervix::test::ProgramEnded&) {
            std::fflush(nullptr);
            std::_Exit(0);  // ends at once, as the real program does
        }
    });
    if (!server.listen(QString::fromLocal8Bit(folder))) {
        std::fprintf(stderr, "%s\n", qPrintable(server.errorString()));
        return 3;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

}  // namespace

class TestLinkClient : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void getAndSet_data();
    void getAndSet();
    void textsRoundTrip();
    void shownOnTerminal_data();
    void shownOnTerminal();
    void refusedRequests_data();
    void refusedRequests();
    void usage_data();
    void usage();
    void noProgramRunning();
    void killOverRawSocket();
    void killThroughClient();

private:
    Run client(const QStringList& args, const QString& runtimeFolder = {});
    Run clientOnTerminal(const QStringList& args);
    QString clientPath_;
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QProcess> server_;
};

void TestLinkClient::initTestCase() {
    clientPath_ = qEnvironmentVariable("DERVIX_BIN_DIR", QCoreApplication::applicationDirPath() + "/..") +
                  "/dervix-link";
    QVERIFY2(QFileInfo(clientPath_).isExecutable(), qPrintable("build dervix-link first: " + clientPath_));
}

void TestLinkClient::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    server_ = std::make_unique<QProcess>();
    server_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server_->start(QCoreApplication::applicationFilePath(), {"--serve", dir_->path()});
    QVERIFY(server_->waitForStarted(kWait));
    QVERIFY(server_->waitForReadyRead(kWait));
    QCOMPARE(server_->readLine(), QByteArray("ready\n"));
}

void TestLinkClient::cleanup() {
    if (server_->state() != QProcess::NotRunning) {
        server_->kill();
        server_->waitForFinished(kWait);
    }
    server_.reset();
    dir_.reset();
}

Run TestLinkClient::client(const QStringList& args, const QString& runtimeFolder) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DERVIX_RUNTIME_DIR", runtimeFolder.isEmpty() ? dir_->path() : runtimeFolder);
    p.setProcessEnvironment(env);
    p.start(clientPath_, args);
    Run run;
    if (!p.waitForFinished(kWait)) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    return run;
}

// The client with a pseudo-terminal as its standard output and error: what
// it sent the terminal (which writes each LF as CR LF).
Run TestLinkClient::clientOnTerminal(const QStringList& args) {
    std::vector<QByteArray> strings{QFile::encodeName(clientPath_)};
    for (const QString& arg : args) strings.push_back(arg.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& string : strings) argv.push_back(string.data());
    argv.push_back(nullptr);
    QByteArray runtime = "DERVIX_RUNTIME_DIR=" + QFile::encodeName(dir_->path());
    std::vector<char*> envp;
    for (char** variable = environ; *variable; ++variable)
        if (std::strncmp(*variable, "DERVIX_RUNTIME_DIR=", 19) != 0) envp.push_back(*variable);
    envp.push_back(runtime.data());
    envp.push_back(nullptr);
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    Run run;
    if (pid < 0) return run;
    // Until the client has closed the terminal (EIO), or a hung one is given up.
    char buffer[4096];
    for (pollfd p{terminal, POLLIN, 0}; ::poll(&p, 1, kWait) > 0;) {
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        run.out.append(buffer, n);
    }
    ::kill(pid, SIGKILL);  // no effect once it has ended
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(terminal);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    return run;
}

void TestLinkClient::getAndSet_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("get label") << QStringList{"get", "Label3"} << 0 << QByteArray("Flow Rate\n");
    QTest::newRow("get other label") << QStringList{"get", "Label5"} << 0 << QByteArray("mL/min\n");
    QTest::newRow("get text field") << QStringList{"get", "txtFlowRate"} << 0 << QByteArray("20\n");
    QTest::newRow("get empty field") << QStringList{"get", "DervixResp"} << 0 << QByteArray("\n");
    QTest::newRow("set text field") << QStringList{"set", "txtFlowRate", "12.5"} << 0 << QByteArray();
}

void TestLinkClient::getAndSet() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    const Run run = client(args);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.out, out);
    QCOMPARE(run.err, QByteArray());
}

// A script reading a pipe gets the text byte for byte.
void TestLinkClient::textsRoundTrip() {
    const QString text = QString::fromUtf8("a\\b\r\nc \xc3\xa9 ; = \\r \x1b[2J\x7f");
    QCOMPARE(client({"set", "txtFlowRate", text}).exitCode, 0);
    const Run run = client({"get", "txtFlowRate"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, text.toUtf8() + "\n");
}

void TestLinkClient::shownOnTerminal_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("ESC clearing the screen") << QString::fromUtf8("a\x1b[2Jb") << QByteArray("a\\x1B[2Jb\r\n");
    QTest::newRow("a reply's line end") << QString::fromUtf8("G1\r\n") << QByteArray("G1\\r\\n\r\n");
    QTest::newRow("tab, BEL, DEL") << QString::fromUtf8("\t\a\x7f") << QByteArray("\\x09\\x07\\x7F\r\n");
    QTest::newRow("C1 control") << QString::fromUtf8("\xc2\x9b" "2J") << QByteArray("\\x9B2J\r\n");
    QTest::newRow("letters and backslash") << QString::fromUtf8("\xc3\xa9\\") << QByteArray("\xc3\xa9\\\\\r\n");
}

// On a terminal the text comes as the link writes it: nothing in it can
// steer the terminal.
void TestLinkClient::shownOnTerminal() {
    QFETCH(QString, text);
    QFETCH(QByteArray, shown);
    QCOMPARE(client({"set", "txtFlowRate", text}).exitCode, 0);
    const Run run = clientOnTerminal({"get", "txtFlowRate"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, shown);
}

void TestLinkClient::refusedRequests_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("reason");
    QTest::newRow("unknown item") << QStringList{"get", "vaSplit"} << QByteArray("unknown item");
    QTest::newRow("label cannot be set") << QStringList{"set", "Label3", "x"} << QByteArray("Label3 cannot be set");
    QTest::newRow("beyond Latin-1") << QStringList{"set", "txtFlowRate", QString::fromUtf8("\xe2\x82\xac")}
                                    << QByteArray("character not in Latin-1");
    QTest::newRow("too long") << QStringList{"set", "txtFlowRate", QString(5000, 'x')} << QByteArray("line too long");
}

void TestLinkClient::refusedRequests() {
    QFETCH(QStringList, args);
    QFETCH(QByteArray, reason);
    const Run run = client(args);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QByteArray());
    QCOMPARE(run.err, "dervix-link: " + reason + "\n");
    // The program is unharmed.
    QCOMPARE(client({"get", "Label3"}).out, QByteArray("Flow Rate\n"));
}

void TestLinkClient::usage_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("verb alone") << QStringList{"get"};
    QTest::newRow("unknown verb") << QStringList{"put", "Label3"};
    QTest::newRow("get with text") << QStringList{"get", "Label3", "x"};
    QTest::newRow("set without text") << QStringList{"set", "txtFlowRate"};
    QTest::newRow("set with two texts") << QStringList{"set", "txtFlowRate", "1", "2"};
    QTest::newRow("blank in item") << QStringList{"set", "txtFlowRate x", "y"};
    QTest::newRow("empty item") << QStringList{"get", ""};
}

void TestLinkClient::usage() {
    QFETCH(QStringList, args);
    const Run run = client(args);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(!run.err.isEmpty());
    QCOMPARE(run.out, QByteArray());
    // Nothing reached the program: the field is as it was.
    QCOMPARE(client({"get", "txtFlowRate"}).out, QByteArray("20\n"));
}

void TestLinkClient::noProgramRunning() {
    QTemporaryDir empty;
    const Run run = client({"get", "Label3"}, empty.path());
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.startsWith("dervix-link: cannot reach the program at " + QFile::encodeName(empty.path())),
             run.err.constData());
}

void TestLinkClient::killOverRawSocket() {
    QLocalSocket socket;
    socket.connectToServer(dir_->path() + "/Server");
    QVERIFY(socket.waitForConnected(kWait));
    socket.write("REQUEST Label3\n");
    QVERIFY(socket.waitForReadyRead(kWait));
    QCOMPARE(socket.readLine(), QByteArray("OK Flow Rate\n"));
    socket.write("POKE txtDVXScmd KILL\n");
    socket.flush();
    // The program ends: the connection closes without an answer.
    if (socket.state() == QLocalSocket::ConnectedState) QVERIFY(socket.waitForDisconnected(kWait));
    QCOMPARE(socket.bytesAvailable(), qint64(0));
    QVERIFY(server_->waitForFinished(kWait));
    QCOMPARE(server_->exitStatus(), QProcess::NormalExit);
    QCOMPARE(server_->exitCode(), 0);
}

void TestLinkClient::killThroughClient() {
    const Run run = client({"set", "txtDVXScmd", "kill"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    QVERIFY(server_->waitForFinished(kWait));
    QCOMPARE(server_->exitCode(), 0);
    // Nobody is there any more.
    QCOMPARE(client({"get", "Label3"}).exitCode, 2);
}

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--serve") return Serve(argc, argv, argv[2]);
    QCoreApplication app(argc, argv);
    TestLinkClient test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_linkclient.moc"
