#include "app/posix/PosixSystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

#include "app/MainWindow.h"
#include "app/Startup.h"
#include "app/System.h"
#include "platform/posix/FileProfileStore.h"
#include "platform/posix/LogPlace.h"
#include "platform/posix/PosixLineFile.h"
#include "platform/SystemClock.h"
#include "platform/qt/posix/EndSignals.h"
#include "platform/qt/posix/LinkServer.h"
#include "platform/qt/posix/QtSerialDevices.h"
#include "platform/qt/posix/PosixSerialPort.h"
#include "shell/LinkProtocol.h"
#include "shell/Numbers.h"
#include "simulator/qt/posix/InProcessSimulator.h"

namespace dervix {

namespace {

class PosixAdapters final : public SystemAdapters {
public:
    PosixAdapters(std::string profilePath, const std::string& runtimeFolder)
        : profile_(std::move(profilePath)), runtimeFolder_(runtimeFolder) {
        const LogPlace place = ChooseLogPlace(QCoreApplication::applicationDirPath().toStdString());
        logFile_ = std::make_unique<PosixLineFile>(place.folderToMake);
        logPath_ = place.path;
    }

    // Every port of the configuration dialog reaches the module played on a
    // pseudo-terminal inside the program. The empty text, or why not.
    std::string simulate() {
        simulator_ = std::make_unique<sim::InProcessSimulator>();
        const QString pty = simulator_->start(PrepareDemoProfile(profile_));
        if (pty.isEmpty())
            return "the simulated module could not be started: " + simulator_->errorString().toStdString();
        for (int n = 1; n <= 4; ++n) profile_.write("Ports", "Com" + PlainForm(n), pty.toStdString());
        std::printf("dervix: simulated module on %s, profile %s\n", qPrintable(pty), profile_.path().c_str());
        std::fflush(stdout);
        return {};
    }

    ProfileStore& profile() override { return profile_; }
    LineFile& logFile() override { return *logFile_; }
    std::string logPath() const override { return logPath_; }
    SerialPort& serial() override { return serial_; }
    SerialDevices& devices() override { return devices_; }
    Clock& clock() override { return clock_; }

    void startingUp(FrmDervix&, MainWindow&, std::function<void()> end) override {
        // SIGTERM, SIGHUP (logout, shutdown) and SIGINT (Ctrl+C).
        endSignals_ = std::make_unique<EndSignals>(std::move(end));
    }

    std::string openLink(LinkProtocol& protocol) override {
        link_ = std::make_unique<LinkServer>(
            [&protocol](const std::string& line, LinkWatcher& client) { return protocol.handle(line, &client); });
        if (link_->listen(QString::fromStdString(runtimeFolder_))) return {};
        return link_->errorString().toStdString();
    }

private:
    FileProfileStore profile_;
    std::string runtimeFolder_;
    std::unique_ptr<LineFile> logFile_;
    std::string logPath_;
    PosixSerialPort serial_;
    QtSerialDevices devices_;
    SystemClock clock_;
    std::unique_ptr<sim::InProcessSimulator> simulator_;
    std::unique_ptr<EndSignals> endSignals_;
    std::unique_ptr<LinkServer> link_;
};

class PosixSystem final : public System {
public:
    const char* simulateHelp() const override { return "run against a simulated module on a pseudo-terminal"; }

    std::optional<int> enter(int& argc, char** argv) override {
        // Under Wayland a program cannot place its own window, and the stored
        // position would be ignored.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
            qputenv("QT_QPA_PLATFORM", "xcb");
        // One instance per user: a second start ends before it reads or
        // writes anything or opens a port.
        return EnterRuntime(argc, argv, runtime_, instance_);
    }

    std::unique_ptr<SystemAdapters> makeAdapters(bool simulate, std::string& failure) override {
        // The demonstration profile lies beside the real one.
        const QFileInfo real(QString::fromStdString(ProfilePath()));
        const std::string demo = QDir(real.absolutePath()).filePath(QStringLiteral("demo-profile.ini")).toStdString();
        auto adapters = std::make_unique<PosixAdapters>(simulate ? demo : ProfilePath(), runtime_.path);
        if (simulate) failure = adapters->simulate();
        if (!failure.empty()) return nullptr;
        return adapters;
    }

private:
    FolderResult runtime_;
    InstanceLock instance_;
};

}  // namespace

std::optional<int> EnterRuntime(int& argc, char** argv, FolderResult& runtime, InstanceLock& instance) {
    runtime = PrepareRuntimeFolder();
    if (!runtime.ok()) return StartupFailure(argc, argv, runtime.error);
    return Entered(argc, argv, instance, instance.acquire(runtime.path));
}

bool DisplayNamed() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

std::unique_ptr<System> MakeSystem() { return std::make_unique<PosixSystem>(); }

}  // namespace dervix
