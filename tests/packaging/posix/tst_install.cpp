// The installed tree: `cmake --install` into a temporary prefix puts the
// programs, their links on the PATH, the menu entry and the icons in place,
// the installed programs answer, and the program keeps running, and logging,
// from a program folder it cannot write its log into.
#include <QtTest>

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>

namespace {

constexpr int kWait = 30000;

const QString kVersion =
    QStringLiteral("%1.%2.%3").arg(DERVIX_VERSION_MAJOR).arg(DERVIX_VERSION_MINOR).arg(DERVIX_VERSION_PATCH);

struct Run {
    bool started = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run RunProgram(const QString& program, const QStringList& args, const QProcessEnvironment& env = {}) {
    QProcess p;
    if (!env.isEmpty()) p.setProcessEnvironment(env);
    p.start(program, args);
    Run r;
    r.started = p.waitForStarted(kWait);
    if (!r.started) return r;
    if (!p.waitForFinished(kWait)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// "[Group]" and "key=value" lines of a desktop entry; an empty map when a
// line is neither, a comment or blank, or the first group is not the entry.
std::map<QString, QString> ReadDesktopEntry(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    std::map<QString, QString> entry;
    QString group;
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    for (const QString& line : lines) {
        if (line.isEmpty() || line.startsWith('#')) continue;
        if (line.startsWith('[')) {
            if (!line.endsWith(']')) return {};
            group = line.mid(1, line.size() - 2);
            if (entry.empty() && group != "Desktop Entry") return {};
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (group.isEmpty() || eq <= 0) return {};
        if (group == "Desktop Entry") entry[line.left(eq).trimmed()] = line.mid(eq + 1).trimmed();
    }
    return entry;
}

// The program ends at once, so the serial layer's lock file for the device
// outlives it. Another user could not open that device until it went, so
// the one this program left is removed.
void RemoveSerialLock(const QString& device, qint64 pid) {
    if (!device.startsWith("/dev/")) return;
    const QString name = "LCK.." + device.mid(5).replace('/', '_');
    for (const QString folder : {"/var/lock", "/run/lock", "/tmp"}) {
        QFile lock(folder + "/" + name);
        if (!lock.open(QIODevice::ReadOnly)) continue;
        const bool ours = lock.readLine().trimmed().toLongLong() == pid;
        lock.close();
        if (ours) lock.remove();
    }
}

}  // namespace

class TstInstall : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void installedFiles_data();
    void installedFiles();
    void programsAnswer_data();
    void programsAnswer();
    void linksReachTheProgramFolder();
    void desktopEntry();
    void icons();
    void readOnlyProgramFolder();

private:
    QString path(const QString& relative) const { return prefix_->path() + "/" + relative; }
    std::unique_ptr<QTemporaryDir> prefix_;
};

void TstInstall::initTestCase() {
    prefix_ = std::make_unique<QTemporaryDir>();
    QVERIFY(prefix_->isValid());
    const QString build = qEnvironmentVariable("DERVIX_BIN_DIR");
    QVERIFY2(!build.isEmpty(), "DERVIX_BIN_DIR names the build folder");
    const Run install = RunProgram(DERVIX_CMAKE_COMMAND, {"--install", build, "--prefix", prefix_->path()});
    QVERIFY2(install.exitCode == 0, install.out + install.err);
}

void TstInstall::installedFiles_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("executable");
    for (const char* program : {"dervix", "dervantix-sim", "dervix-link"}) {
        QTest::addRow("%s", program) << QStringLiteral("lib/dervix/%1").arg(program) << true;
        QTest::addRow("bin/%s", program) << QStringLiteral("bin/%1").arg(program) << true;
    }
    QTest::newRow("menu entry") << "share/applications/dervix.desktop" << false;
    QTest::newRow("scalable icon") << "share/icons/hicolor/scalable/apps/dervix.svg" << false;
    QTest::newRow("48 icon") << "share/icons/hicolor/48x48/apps/dervix.png" << false;
    QTest::newRow("256 icon") << "share/icons/hicolor/256x256/apps/dervix.png" << false;
}

void TstInstall::installedFiles() {
    QFETCH(QString, file);
    QFETCH(bool, executable);
    const QFileInfo info(path(file));
    QVERIFY2(info.exists(), qPrintable(file));
    QCOMPARE(info.isExecutable(), executable);
    QVERIFY(info.size() > 0);
}

void TstInstall::programsAnswer_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("expected");  // a line the answer must hold
    QTest::newRow("dervix version") << "dervix" << "--version" << "dervix " + kVersion;
    QTest::newRow("dervix help") << "dervix" << "--help" << "Usage: dervix [--simulate]";
    QTest::newRow("sim version") << "dervantix-sim" << "--version" << "dervantix-sim " + kVersion;
    QTest::newRow("sim help") << "dervantix-sim" << "--help"
                              << "Plays the Corvane Dervantix flow-splitter module on a pseudo-terminal.";
    QTest::newRow("link version") << "dervix-link" << "--version" << "dervix-link " + kVersion;
    QTest::newRow("link help") << "dervix-link" << "--help" << "usage: dervix-link get ITEM";
}

void TstInstall::programsAnswer() {
    QFETCH(QString, program);
    QFETCH(QString, option);
    QFETCH(QString, expected);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    const Run r = RunProgram(path("bin/" + program), {option}, env);
    QVERIFY2(r.started, qPrintable(program));
    QCOMPARE(r.exitCode, 0);
    // Nothing to complain about, e.g. options that clash.
    QVERIFY2(r.err.isEmpty(), r.err.constData());
    const QStringList lines = QString::fromUtf8(r.out).split('\n');
    QVERIFY2(lines.contains(expected), r.out.constData());
}

void TstInstall::linksReachTheProgramFolder() {
    // Relative links: the tree works wherever it was put.
    for (const char* program : {"dervix", "dervantix-sim", "dervix-link"}) {
        const QFileInfo link(path(QStringLiteral("bin/%1").arg(program)));
        QVERIFY2(link.isSymLink(), program);
        QCOMPARE(link.canonicalFilePath(), QFileInfo(path(QStringLiteral("lib/dervix/%1").arg(program))).canonicalFilePath());
        const QByteArray target = QFile::encodeName(link.absoluteFilePath());
        char buffer[256] = {};
        const ssize_t n = ::readlink(target.constData(), buffer, sizeof buffer - 1);
        QVERIFY(n > 0);
        QVERIFY2(buffer[0] != '/', buffer);
    }
}

void TstInstall::desktopEntry() {
    const QString file = path("share/applications/dervix.desktop");
    const auto entry = ReadDesktopEntry(file);
    QVERIFY2(!entry.empty(), "a desktop entry that parses");
    QCOMPARE(entry.at("Type"), QStringLiteral("Application"));
    QCOMPARE(entry.at("Name"), QStringLiteral("Dervix"));
    QCOMPARE(entry.at("Exec"), QStringLiteral("dervix"));
    QCOMPARE(entry.at("Icon"), QStringLiteral("dervix"));
    QVERIFY(!entry.at("Comment").isEmpty());
    const QString categories = entry.at("Categories");
    QVERIFY2(categories.endsWith(';'), qPrintable(categories));
    QVERIFY(categories.split(';').contains("Science"));
    // The program the menu starts is the one installed beside it.
    QVERIFY(QFileInfo(path("bin/" + entry.at("Exec"))).isExecutable());

    // The desktop's own checker, where it is installed.
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty()) {
        qWarning("desktop-file-validate not found; checked the entry's form only");
        return;
    }
    const Run r = RunProgram(validator, {file});
    QVERIFY2(r.exitCode == 0 && r.out.isEmpty() && r.err.isEmpty(), r.out + r.err);
}

void TstInstall::icons() {
    for (int size : {48, 256}) {
        const QImage image(path(QStringLiteral("share/icons/hicolor/%1x%1/apps/dervix.png").arg(size)));
        QVERIFY2(!image.isNull(), qPrintable(QString::number(size)));
        QCOMPARE(image.size(), QSize(size, size));
        QVERIFY(image.hasAlphaChannel());
    }
    QFile svg(path("share/icons/hicolor/scalable/apps/dervix.svg"));
    QVERIFY(svg.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&svg);
    QString root;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && root.isEmpty()) root = xml.name().toString();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(root, QStringLiteral("svg"));
}

void TstInstall::readOnlyProgramFolder() {
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(QDir(home.path()).mkpath("config"));
    QFile demo(home.path() + "/config/demo-profile.ini");
    QVERIFY(demo.open(QIODevice::WriteOnly));
    demo.write("[Dervix]\nLogging=1\n");
    demo.close();

    // As the program sees it: the kernel tells it its real folder.
    const QString folder = QFileInfo(path("lib/dervix")).canonicalFilePath();
    const QByteArray folderName = QFile::encodeName(folder);
    // Root writes into any folder; a folder in the log's place stops even root.
    if (::geteuid() == 0) QVERIFY(QDir(folder).mkdir("Dervix.txt"));
    QVERIFY(::chmod(folderName.constData(), 0555) == 0);
    auto restore = qScopeGuard([&] {
        ::chmod(folderName.constData(), 0755);
        QDir(folder).rmdir("Dervix.txt");
    });

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/config");
    env.insert("XDG_CACHE_HOME", home.path() + "/cache");
    env.insert("XDG_STATE_HOME", home.path() + "/state");
    env.remove("DERVIX_LOG");
    env.insert("DERVIX_PROFILE", home.path() + "/config/profile.ini");
    env.insert("DERVIX_RUNTIME_DIR", home.path() + "/run");
    env.remove("XDG_RUNTIME_DIR");

    QProcess program;
    program.setProcessEnvironment(env);
    program.start(path("bin/dervix"), {"--simulate"});
    QVERIFY(program.waitForStarted(kWait));
    const qint64 pid = program.processId();
    QString device;
    auto stop = qScopeGuard([&] {
        program.kill();
        program.waitForFinished(kWait);
        RemoveSerialLock(device, pid);
    });
    QByteArray out;
    while (!out.contains('\n') && program.state() == QProcess::Running && program.waitForReadyRead(kWait))
        out += program.readAllStandardOutput();
    QVERIFY2(out.startsWith("dervix: simulated module on "), out + program.readAllStandardError());
    device = QString::fromUtf8(out).section(' ', 4, 4).section(',', 0, 0);

    // The link answers once the program serves it; a poked command goes to
    // the module and is logged, which fails again without a second report.
    const auto link = [&](const QStringList& args) { return RunProgram(path("bin/dervix-link"), args, env); };
    Run get;
    for (int i = 0; i < 300 && get.exitCode != 0; ++i) {
        get = link({"get", "Label3"});
        if (get.exitCode != 0) QTest::qWait(50);
    }
    QVERIFY2(get.exitCode == 0, get.err.constData());
    QCOMPARE(get.out, QByteArray("Flow Rate\n"));
    for (const char* request : {"STATUS", "MODEL", "ID"}) {
        const Run set = link({"set", "txtDVXScmd", request});
        QVERIFY2(set.exitCode == 0, set.err.constData());
    }
    QCOMPARE(link({"get", "Label5"}).out, QByteArray("mL/min\n"));
    QCOMPARE(program.state(), QProcess::Running);

    QVERIFY(!QFileInfo(folder + "/Dervix.txt").isFile());
    program.kill();
    program.waitForFinished(kWait);
    const QString err = QString::fromUtf8(program.readAllStandardError());
    const QStringList reports = err.split('\n').filter("cannot be written");
    if (::geteuid() != 0) {
        // The folder refuses this user, so the log goes to the user's state folder.
        QVERIFY2(reports.isEmpty(), qPrintable(err));
        QFile log(home.path() + "/state/dervix/Dervix.txt");
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("Send Command - [STATUS]"));
        return;
    }
    // Root may write into the folder, so the log stays there, where a folder
    // stands in its way: told once, and the program went on.
    QVERIFY2(reports.size() == 1, qPrintable(err));
    QVERIFY2(reports.front().startsWith("dervix: The event log " + folder + "/Dervix.txt cannot be written: "),
             qPrintable(reports.front()));
}

QTEST_GUILESS_MAIN(TstInstall)
#include "tst_install.moc"
