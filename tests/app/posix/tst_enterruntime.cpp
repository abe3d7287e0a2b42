// The steps before the window: a runtime folder or instance lock that cannot
// be used ends the program with a box the operator sees, a second instance
// ends quietly.
#include <QtTest>
#include <QMessageBox>

#include <unistd.h>

#include <functional>

#include "app/posix/PosixSystem.h"
#include "support/CapturedStderr.h"
#include "support/WidgetHelpers.h"

using namespace dervix;
using namespace dervix::test;

namespace {

}  // namespace

class EnterRuntimeTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void outcomes_data();
    void outcomes();

private:
    QStringList boxes_;  // title and text of every box answered, whichever row's helper found it
};

void EnterRuntimeTest::outcomes_data() {
    QTest::addColumn<QString>("runtime");  // what stands at the runtime path beforehand
    QTest::addColumn<int>("exitCode");     // -1: the program goes on
    QTest::addColumn<QString>("reason");   // in the box and on standard error; empty: no box
    QTest::newRow("nothing yet") << "absent" << -1 << "";
    QTest::newRow("another instance runs") << "held" << 0 << "";
    QTest::newRow("runtime path is a regular file") << "file" << 1 << "run is not a folder";
    QTest::newRow("instance lock cannot be opened") << "lock is a folder" << 1 << "cannot open";
}

void EnterRuntimeTest::outcomes() {
    QFETCH(QString, runtime);
    QFETCH(int, exitCode);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("run");
    InstanceLock other;
    if (runtime == "file") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (runtime == "lock is a folder") {
        QVERIFY(QDir(dir.path()).mkpath("run/instance.lock"));
    } else if (runtime == "held") {
        QVERIFY(QDir(dir.path()).mkpath("run"));
        QCOMPARE(other.acquire(path.toStdString()), InstanceLock::Outcome::Acquired);
    }
    // A folder made beforehand is a private one, as the program requires.
    if (QFileInfo(path).isDir()) QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray saved = qgetenv("DERVIX_RUNTIME_DIR");
    auto restore = qScopeGuard([&] { qputenv("DERVIX_RUNTIME_DIR", saved); });
    qputenv("DERVIX_RUNTIME_DIR", QFile::encodeName(path));

    boxes_.clear();
    WhenModal([this](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        boxes_ << modal->windowTitle() + "|" + (box ? box->text() : QString());
        modal->close();
    });
    int argc = 1;
    char name[] = "dervix";
    char* argv[] = {name, nullptr};
    FolderResult folder;
    InstanceLock instance;
    std::optional<int> code;
    const QByteArray err = CapturedStderr([&] { code = EnterRuntime(argc, argv, folder, instance); });

    QCOMPARE(code.value_or(-1), exitCode);
    QCOMPARE(instance.held(), exitCode == -1);
    if (runtime == "held") QVERIFY(err.contains("already running"));
    if (reason.isEmpty()) {
        QCOMPARE(boxes_.size(), 0);
        return;
    }
    QVERIFY2(err.startsWith("dervix: ") && err.contains(reason.toUtf8()), err.constData());
    QCOMPARE(boxes_.size(), 1);
    QVERIFY2(boxes_[0].startsWith("Dervix|") && boxes_[0].contains(reason), qPrintable(boxes_[0]));
}

QTEST_MAIN(EnterRuntimeTest)
#include "tst_enterruntime.moc"
