// The real program, started as an operator starts it, against its simulated module.
#include <QtTest>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Bin(const char* name) { return qEnvironmentVariable("DERVIX_BIN_DIR") + "/" + name; }

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void simulatedModuleAnswersAndSecondStartEnds();
    void endedBySessionClosesLikeTheWindow();
    void logOnAPipeWhoseReaderEnds();
    void watcherFollowsRepliesAndFlow();

private:
    QProcessEnvironment env() const;
    // exitCode is -1 when the client has not finished within waitMs.
    QString link(const QStringList& args, int* exitCode = nullptr, int waitMs = 10000) const;
    // True once the started program answers on the link (start-up is over).
    bool linkAnswers() const;

    std::unique_ptr<QTemporaryDir> dir_;
    QProcess program_;
};

bool ProgramTest::linkAnswers() const {
    int code = -1;
    for (int i = 0; i < 100 && code != 0; ++i) {
        link({"get", "txtFlowRate"}, &code);
        if (code != 0) QTest::qWait(100);
    }
    return code == 0;
}

void ProgramTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void ProgramTest::cleanup() {
    if (program_.state() != QProcess::NotRunning) {
        program_.kill();
        program_.waitForFinished(5000);
    }
}

QProcessEnvironment ProgramTest::env() const {
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert("XDG_CONFIG_HOME", dir_->filePath("config"));
    e.insert("DERVIX_RUNTIME_DIR", dir_->filePath("run"));
    e.insert("QT_QPA_PLATFORM", "offscreen");
    e.remove("DERVIX_PROFILE");
    return e;
}

QString ProgramTest::link(const QStringList& args, int* exitCode, int waitMs) const {
    QProcess client;
    client.setProcessEnvironment(env());
    client.start(Bin("dervix-link"), args);
    const bool finished = client.waitForFinished(waitMs);
    if (!finished) {
        client.kill();
        client.waitForFinished(5000);
    }
    if (exitCode) *exitCode = finished ? client.exitCode() : -1;
    return QString::fromUtf8(client.readAllStandardOutput()).trimmed();
}

void ProgramTest::simulatedModuleAnswersAndSecondStartEnds() {
    program_.setProcessEnvironment(env());
    program_.start(Bin("dervix"), {"--simulate"});
    QVERIFY(program_.waitForStarted(10000));

    // The link answers once start-up is over.
    int code = -1;
    QString flow;
    for (int i = 0; i < 100 && code != 0; ++i) {
        flow = link({"get", "txtFlowRate"}, &code);
        if (code != 0) QTest::qWait(100);
    }
    QCOMPARE(code, 0);
    QCOMPARE(flow, QStringLiteral("20"));

    // A second start ends at once and leaves the profile alone.
    const QString profile = dir_->filePath("config/dervix/demo-profile.ini");
    const QDateTime before = QFileInfo(profile).lastModified();
    QProcess second;
    second.setProcessEnvironment(env());
    second.start(Bin("dervix"), {"--simulate"});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(second.readAllStandardError().contains("already running"));
    QCOMPARE(QFileInfo(profile).lastModified(), before);

    // The module answered the start-up check: nothing went unanswered, and a
    // request through the link is answered too.
    QVERIFY(link({"set", "txtDVXScmd", "STATUS"}, &code).isEmpty());
    QCOMPARE(code, 0);
    QTest::qWait(300);
    QFile file(profile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("\nErrorStatus=\n"));
    QVERIFY(text.contains("\nFlowRate=20\n"));

    // KILL ends the program at once.
    link({"set", "txtDVXScmd", "KILL"}, &code);
    QVERIFY(program_.waitForFinished(10000));
    QCOMPARE(program_.exitStatus(), QProcess::NormalExit);
}

void ProgramTest::endedBySessionClosesLikeTheWindow() {
    program_.setProcessEnvironment(env());
    program_.start(Bin("dervix"), {"--simulate"});
    QVERIFY(program_.waitForStarted(10000));
    QVERIFY(linkAnswers());
    // "dervix: simulated module on /dev/pts/N, profile ..." (read here, as
    // nothing has run the event loop that fills the process's buffer)
    QString said;
    while (!said.contains('\n') && (program_.bytesAvailable() > 0 || program_.waitForReadyRead(10000)))
        said += QString::fromUtf8(program_.readAllStandardOutput());
    const QString device = said.section(" on ", 1).section(',', 0, 0);
    QVERIFY2(device.startsWith("/dev/pts/"), qPrintable(said));
    const QString lockName = "LCK.." + device.mid(5).replace('/', '_');
    QString lock;
    for (const char* folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp", "/var/tmp"})
        if (lock.isEmpty() && QFileInfo::exists(QString(folder) + "/" + lockName)) lock = QString(folder) + "/" + lockName;
    QVERIFY2(!lock.isEmpty(), qPrintable(lockName));

    // Logout sends SIGTERM: the window's closing steps run, the place is kept
    // and the device's lock file goes with the port.
    program_.terminate();
    QVERIFY(program_.waitForFinished(10000));
    QCOMPARE(program_.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program_.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(lock));
    QFile file(dir_->filePath("config/dervix/demo-profile.ini"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY2(text.contains("\nFormTop=") && text.contains("\nFormLeft="), text.constData());
}

// A log collector on a named pipe reads for a while and then ends: the next
// line must not wait for a reader that never comes, the window and the link
// with it.
void ProgramTest::logOnAPipeWhoseReaderEnds() {
    const QByteArray pipe = QFile::encodeName(dir_->filePath("collector"));
    QVERIFY(::mkfifo(pipe.constData(), 0600) == 0);
    const int reader = ::open(pipe.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(reader >= 0);
    QVERIFY(QDir().mkpath(dir_->filePath("config/dervix")));
    QFile profile(dir_->filePath("config/dervix/demo-profile.ini"));
    QVERIFY(profile.open(QIODevice::WriteOnly));
    profile.write("[Dervix]\nLogging=1\n");
    profile.close();

    QProcessEnvironment e = env();
    e.insert("DERVIX_LOG", QFile::decodeName(pipe));
    program_.setProcessEnvironment(e);
    program_.start(Bin("dervix"), {"--simulate"});
    QVERIFY(program_.waitForStarted(10000));
    QVERIFY(linkAnswers());
    int code = -1;
    ::close(reader);

    // Each request is logged before it is sent.
    link({"set", "txtDVXScmd", "STATUS"}, &code, 1000);
    QCOMPARE(code, 0);
    QCOMPARE(link({"get", "txtFlowRate"}, &code, 1000), QStringLiteral("20"));
    QCOMPARE(code, 0);
    // Read as it arrives: the process's buffer fills only as events are served.
    QByteArray said;
    QTRY_VERIFY2_WITH_TIMEOUT((said += program_.readAllStandardError()).contains("cannot be written: not a regular file"),
                              said.constData(), 5000);
}

// A script follows the module's replies and the flow rate with dervix-link
// watch while another program makes requests.
void ProgramTest::watcherFollowsRepliesAndFlow() {
    program_.setProcessEnvironment(env());
    program_.start(Bin("dervix"), {"--simulate"});
    QVERIFY(program_.waitForStarted(10000));
    QVERIFY(linkAnswers());
    QProcess watcher;
    watcher.setProcessEnvironment(env());
    watcher.start(Bin("dervix-link"), {"watch", "DervixResp", "txtFlowRate"});
    QByteArray seen;
    const auto sees = [&](const QByteArray& lines) {
        return QTest::qWaitFor([&] { return (seen += watcher.readAllStandardOutput()).contains(lines); }, 10000);
    };
    QVERIFY2(sees("DervixResp \ntxtFlowRate 20\n"), seen.constData());
    int code = -1;
    link({"set", "txtDVXScmd", "STATUS"}, &code);
    QCOMPARE(code, 0);
    // The reply as it stands once whole, then the slot emptied once it is handled.
    QVERIFY2(sees("DervixResp G1READY\\r\\n\nDervixResp \n"), seen.constData());
    link({"set", "txtFlowRate", "12"}, &code);
    QVERIFY2(sees("txtFlowRate 12\n"), seen.constData());
    link({"set", "txtDVXScmd", "KILL"}, &code);
    QVERIFY(watcher.waitForFinished(10000));
    QCOMPARE(watcher.exitCode(), 2);
    QCOMPARE(watcher.readAllStandardError(), QByteArray("dervix-link: the program closed the link\n"));
}

QTEST_GUILESS_MAIN(ProgramTest)
#include "tst_program.moc"
