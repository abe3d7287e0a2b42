// dervix-link against a program serving the link, and "KILL" over the link
// ending that program. The program is this test binary started again with
// --serve: the main window's logic on fakes behind a real link server.
#include <QtTest>

#include <QLocalSocket>
#include <QProcess>

#include <cstdio>
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
    void refusedRequests_data();
    void refusedRequests();
    void usage_data();
    void usage();
    void noProgramRunning();
    void killOverRawSocket();
    void killThroughClient();

private:
    Run client(const QStringList& args, const QString& runtimeFolder = {});
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

void TestLinkClient::textsRoundTrip() {
    const QString text = QString::fromUtf8("a\\b\r\nc \xc3\xa9 ; = \\r");
    QCOMPARE(client({"set", "txtFlowRate", text}).exitCode, 0);
    const Run run = client({"get", "txtFlowRate"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, text.toUtf8() + "\n");
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
