// The dervantix-sim program as a script drives it: path on the first line,
// a link that follows the device, fault commands on standard input.
#include <QtTest>
#include <csignal>
#include <sys/stat.h>

#include "platform/qt/posix/PosixSerialPort.h"

using dervix::CommEvent::Dcb;
using dervix::CommEvent::Receive;
using dervix::LineSettings;
using dervix::PosixSerialPort;

namespace {

QString ToolPath() { return qEnvironmentVariable("DERVIX_BIN_DIR") + "/dervantix-sim"; }

QString ReadLine(QProcess& p) {
    for (int i = 0; i < 100 && !p.canReadLine(); ++i) p.waitForReadyRead(50);
    return QString::fromLocal8Bit(p.readLine()).trimmed();
}

QString Command(QProcess& p, const QByteArray& command) {
    p.write(command + "\n");
    return ReadLine(p);
}

// A port on the device, collecting what arrives.
struct Port {
    PosixSerialPort port;
    std::string received;
    QList<int> codes;
    bool open(const QString& device) {
        port.setDevice(device.toStdString());
        port.setLineSettings(LineSettings{});
        port.setNotificationHandler([this](int code) {
            codes << code;
            if (code == Receive) received += port.readAll();
        });
        return !port.open();
    }
};

}  // namespace

class TstSimTool : public QObject {
    Q_OBJECT

private slots:
    void helpAndBadArguments() {
        QProcess help;
        help.start(ToolPath(), {"--help"});
        QVERIFY(help.waitForFinished(5000));
        QCOMPARE(help.exitCode(), 0);
        const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
        for (const char* word : {"--address", "--link", "silence on|off", "delay MS", "split N", "stray on|off",
                                 "lowercase-check on|off", "hangup"})
            QVERIFY2(text.contains(QLatin1String(word)), word);

        for (const QStringList& args : {QStringList{"--address", "256"}, QStringList{"--address", "x"},
                                        QStringList{"--split", "0"}, QStringList{"extra"}}) {
            QProcess bad;
            bad.start(ToolPath(), args);
            QVERIFY(bad.waitForFinished(5000));
            QCOMPARE(bad.exitCode(), 2);
            QVERIFY(bad.readAllStandardOutput().isEmpty());
        }
    }

    void refusesToReplaceAFile() {
        QTemporaryDir dir;
        const QString file = dir.filePath("plain");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep me");
        f.close();
        QProcess tool;
        tool.start(ToolPath(), {"--link", file});
        QVERIFY(tool.waitForFinished(5000));
        QCOMPARE(tool.exitCode(), 1);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep me"));
    }

    void drivenThroughItsInput() {
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyDVX");
        QProcess tool;
        tool.start(ToolPath(), {"--address", "10", "--link", link});
        QVERIFY(tool.waitForStarted());
        const QString path = ReadLine(tool);
        QVERIFY2(path.startsWith("/dev/pts/"), qPrintable(path));
        QCOMPARE(QFileInfo(link).symLinkTarget(), path);

        Port port;
        QVERIFY(port.open(link));
        port.port.write("GAS\r\n");
        QTRY_COMPARE(port.received, std::string("GAREADY\r\n"));
        port.received.clear();

        QCOMPARE(Command(tool, "split 3 2"), QString("ok"));
        QCOMPARE(Command(tool, "stray on"), QString("ok"));
        port.port.write("GAT\r\n");
        QTRY_VERIFY(!port.received.empty() && static_cast<unsigned char>(port.received.back()) == 254);
        QCOMPARE(port.received.size(), std::string("GADVX-23\r\n").size() + 2);
        port.received.clear();
        QCOMPARE(Command(tool, "stray off"), QString("ok"));
        QCOMPARE(Command(tool, "split 1"), QString("ok"));
        QCOMPARE(Command(tool, "lowercase-check on"), QString("ok"));
        port.port.write("GA%\r\n");
        QTRY_COMPARE(port.received, std::string("gASN 40213\r\n"));
        port.received.clear();

        QCOMPARE(Command(tool, "silence on"), QString("ok"));
        port.port.write("GAC\r\n");
        QTest::qWait(150);
        QCOMPARE(port.received, std::string());
        QCOMPARE(Command(tool, "silence off"), QString("ok"));
        QCOMPARE(Command(tool, "address 1"), QString("ok"));
        port.port.write("G1C\r\n");
        QTRY_COMPARE(port.received, std::string("G1C\r\n"));
        QVERIFY(Command(tool, "status").contains("valve=running"));
        QVERIFY(Command(tool, "delay -3").startsWith("error:"));
        QVERIFY(Command(tool, "juggle").startsWith("error:"));

        QCOMPARE(Command(tool, "hangup"), QString("ok"));
        QTRY_VERIFY(port.codes.contains(Dcb));
        QVERIFY(!port.port.isOpen());
        const QString replug = Command(tool, "replug");
        QVERIFY2(replug.startsWith("ok /dev/pts/"), qPrintable(replug));
        const QString next = replug.mid(3);
        QCOMPARE(QFileInfo(link).symLinkTarget(), next);
        QVERIFY(port.open(link));
        port.received.clear();
        port.port.write("G1S\r\n");
        QTRY_COMPARE(port.received, std::string("G1RUNNING\r\n"));

        ::kill(static_cast<pid_t>(tool.processId()), SIGTERM);
        QVERIFY(tool.waitForFinished(5000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 0);
        struct stat st {};
        QCOMPARE(lstat(link.toLocal8Bit().constData(), &st), -1);  // no dangling link left
    }
};

QTEST_GUILESS_MAIN(TstSimTool)
#include "tst_sim_tool.moc"
