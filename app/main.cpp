// Dervix: puts the main window's logic together with the desktop and starts it.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMenuBar>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "about/ui/AboutView.h"
#include "config/ui/PropertiesView.h"
#include "maintenance/ui/KelmView.h"
#include "maintenance/ui/QtMenuBadge.h"
#include "platform/qt/QtDesktop.h"
#include "platform/qt/QtTimer.h"
#ifdef _WIN32
#include <QSessionManager>

#include "platform/qt/win/DdeServer.h"
#include "platform/qt/win/WinSerialDevices.h"
#include "platform/qt/win/WinSerialPort.h"
#include "platform/win/SystemClock.h"
#include "platform/win/WinIniProfileStore.h"
#include "platform/win/WinLineFile.h"
#include "platform/win/WinLogPlace.h"
#include "platform/win/WinProfilePlace.h"
#include "platform/win/WinText.h"
#include "simulator/qt/SimulatedLine.h"
#else
#include "platform/posix/FileProfileStore.h"
#include "platform/posix/LogPlace.h"
#include "platform/posix/PosixLineFile.h"
#include "platform/posix/Runtime.h"
#include "platform/posix/SystemClock.h"
#include "platform/qt/EndSignals.h"
#include "platform/qt/LinkServer.h"
#include "platform/qt/QtSerialDevices.h"
#include "platform/qt/QtSerialPort.h"
#include "simulator/qt/InProcessSimulator.h"
#endif
#include "shell/FrmDervix.h"
#include "shell/LinkProtocol.h"
#include "shell/Numbers.h"
#include "app/MainWindow.h"
#include "app/Startup.h"

namespace {

const char* const kUsage =
    "Usage: dervix [--simulate]\n"
    "  --simulate   run against a simulated module on a pseudo-terminal, with a\n"
    "               separate demonstration profile (the real one is left alone)\n"
    "  --version    print the version and end\n";

#ifdef _WIN32
using ProfileFile = dervix::WinIniProfileStore;
using LineFileOnDisk = dervix::WinLineFile;
using SerialLine = dervix::WinSerialPort;
using SerialDeviceList = dervix::WinSerialDevices;
using Link = dervix::DdeServer;

// The real profile is the user's WIN.INI, or where WinProfilePlace.h says;
// the demonstration has a file of its own in the user's application data.
std::string DemoProfilePath() {
    return dervix::WinOwnProfileFolder(dervix::win::UserFolder("APPDATA", "AppData\\Roaming")) +
           "\\demo-profile.ini";
}
dervix::LogPlace ChooseLogPlace(const std::string& programFolder) { return dervix::ChooseWinLogPlace(programFolder); }
#else
using ProfileFile = dervix::FileProfileStore;
using LineFileOnDisk = dervix::PosixLineFile;
using SerialLine = dervix::QtSerialPort;
using SerialDeviceList = dervix::QtSerialDevices;
using Link = dervix::LinkServer;

// The demonstration profile lies beside the real one.
std::string DemoProfilePath() {
    const QFileInfo real(QString::fromStdString(dervix::ProfilePath()));
    return QDir(real.absolutePath()).filePath(QStringLiteral("demo-profile.ini")).toStdString();
}
std::string RealProfilePath() { return dervix::ProfilePath(); }
using dervix::ChooseLogPlace;
#endif

// Points the configured port at the simulator and fills in what a first start
// would otherwise have to ask for, so the demonstration talks at once.
int PrepareDemoProfile(dervix::ProfileStore& profile) {
    auto value = [&profile](const char* key) { return profile.read(dervix::kSection, key).value_or(""); };
    if (value("Settings").empty()) profile.write(dervix::kSection, "Settings", "19200,N,8,1");
    if (value("CommPort").empty()) profile.write(dervix::kSection, "CommPort", "1");
    if (value("ModuleID").empty()) profile.write(dervix::kSection, "ModuleID", "1");
    const double address = dervix::RoundHalfEven(dervix::NumericValue(value("ModuleID")));
    return address >= 0 && address <= 255 ? static_cast<int>(address) : 1;
}

}  // namespace

int main(int argc, char** argv) {
    bool simulate = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--simulate") == 0) {
            simulate = true;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("dervix %d.%d.%d\n", DERVIX_VERSION_MAJOR, DERVIX_VERSION_MINOR, DERVIX_VERSION_PATCH);
            return 0;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "dervix: unknown option %s\n%s", argv[i], kUsage);
            return 2;
        }
    }

#ifdef _WIN32
    // One instance per user: a second start ends before it reads or writes
    // anything or opens a port.
    dervix::WinInstance instance;
    if (const std::optional<int> exitCode = dervix::EnterRuntime(argc, argv, instance)) return *exitCode;
#else
    // Under Wayland a program cannot place its own window, and the stored
    // position would be ignored.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    // One instance per user: a second start ends before it reads or writes
    // anything or opens a port.
    dervix::FolderResult runtime;
    dervix::InstanceLock instance;
    if (const std::optional<int> exitCode = dervix::EnterRuntime(argc, argv, runtime, instance)) return *exitCode;
#endif

    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("dervix"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("dervix")));

#ifdef _WIN32
    const dervix::WinProfilePlace profilePlace =
        simulate ? dervix::WinProfilePlace{DemoProfilePath(), {}, false}
                 : dervix::ChooseWinProfilePlace(dervix::ThisUsersProfileFacts());
    ProfileFile profile(profilePlace.file);
    const std::string takenOver = dervix::TakeOverProfile(profile, profilePlace.earlier);
    // No pseudo-terminal here: the simulated module is at the end of an
    // in-memory line that stands in for the serial port.
    std::unique_ptr<dervix::sim::SimulatedLine> simulatedLine;
    if (simulate) simulatedLine = std::make_unique<dervix::sim::SimulatedLine>(PrepareDemoProfile(profile));
#else
    ProfileFile profile(simulate ? DemoProfilePath() : RealProfilePath());
    std::unique_ptr<dervix::sim::InProcessSimulator> simulator;
    if (simulate) {
        const int address = PrepareDemoProfile(profile);
        simulator = std::make_unique<dervix::sim::InProcessSimulator>();
        const QString pty = simulator->start(address);
        if (pty.isEmpty())
            return dervix::StartupFailure(argc, argv, "the simulated module could not be started: " +
                                                          simulator->errorString().toStdString());
        // Every port of the configuration dialog reaches the simulated module.
        for (int n = 1; n <= 4; ++n) profile.write("Ports", "Com" + dervix::PlainForm(n), pty.toStdString());
        std::printf("dervix: simulated module on %s, profile %s\n", qPrintable(pty), DemoProfilePath().c_str());
        std::fflush(stdout);
    }
#endif

    const std::string programFolder = QCoreApplication::applicationDirPath().toStdString();
    const dervix::LogPlace logPlace = ChooseLogPlace(programFolder);
    LineFileOnDisk logFile(logPlace.folderToMake);
    dervix::QtDialogs dialogs;
    SerialLine realSerial;
#ifdef _WIN32
    dervix::SerialPort& serial = simulatedLine ? static_cast<dervix::SerialPort&>(*simulatedLine) : realSerial;
#else
    dervix::SerialPort& serial = realSerial;
#endif
    dervix::QtTimer timer;
    dervix::QtTimer reopenTimer;
    dervix::SystemClock clock;
    dervix::QtEventPump pump;
    dervix::QtScreen screen;
    dervix::QtMenuBadge badge;
    dervix::QtProcess process;
    SerialDeviceList devices;
    process.setLastWork([&serial] { serial.close(); });
    dervix::Platform platform{profile, logFile, dialogs, serial,  timer,       clock,
                              pump,    screen,  badge,   process, devices,     reopenTimer,
                              programFolder,
                              {DERVIX_VERSION_MAJOR, DERVIX_VERSION_MINOR, DERVIX_VERSION_PATCH},
                              logPlace.path};
    dervix::FrmDervix frm(platform);

    dervix::MainWindow window(frm);
    dialogs.setParent(&window);
    badge.setAction(window.badgeItem());
    dervix::ShowBadgeFullSize(window.menuBar());
    dervix::InstallPropertiesView(frm, &window);
    dervix::InstallKelmView(frm, &window);
    dervix::InstallAboutView(frm, &window);

    // Ended by the session (logout, shutdown, Ctrl+C): as the operator's
    // closing of the window would, so the port is closed (on Linux its lock
    // file not left behind) and the window's place kept; before the window is
    // up, at once, so no position of a window never shown is kept.
    auto endBySession = [&window, &frm] {
        if (window.isVisible()) window.close();
        else frm.endProgram();
    };
#ifdef _WIN32
    // Windows first asks whether the session may end, and another program may
    // still refuse: Dervix must then be running yet, a valve run and all. The
    // question only saves what would otherwise be lost, and says nothing, as
    // nobody may answer a box now; the program ends when the session does
    // (Qt's aboutToQuit on WM_ENDSESSION, just before Windows ends the
    // process).
    QObject::connect(&app, &QGuiApplication::commitDataRequest, [&window](QSessionManager&) { window.savePlace(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, endBySession);

    // Where the settings came from and where they live, once the window is
    // up, like every later notice.
    if (!takenOver.empty() || profilePlace.tell) {
        pump.post([&frm, takenOver, file = profilePlace.tell ? profilePlace.file : std::string()] {
            if (!takenOver.empty()) frm.log.WriteLog(takenOver);
            if (!file.empty())
                frm.log.LoggedMsgBox(dervix::OwnProfileNotice(file), dervix::MsgBox::Information, "Dervix");
        });
    }
#else
    dervix::EndSignals endSignals(endBySession);
#endif

    frm.Form_Load();

    dervix::LinkProtocol protocol(frm);
    Link link([&protocol](const std::string& line, dervix::LinkWatcher& client) {
        return protocol.handle(line, &client);
    });
#ifdef _WIN32
    if (!link.listen()) {
#else
    if (!link.listen(QString::fromStdString(runtime.path))) {
#endif
        // The program is of use without the link, so it goes on; but the
        // operator of a program started from the menu sees no standard error,
        // and another program that relies on the link would fail unexplained.
        const std::string reason = link.errorString().toStdString();
        std::fprintf(stderr, "dervix: other programs cannot reach this one: %s\n", reason.c_str());
        // Shown once the window is up, like every later notice.
        pump.post([&frm, reason] {
            frm.log.LoggedMsgBox("Other programs cannot reach Dervix:\r" + reason, dervix::MsgBox::Critical, "Dervix");
        });
    }

    window.applyStartupGeometry();
    window.show();
    return app.exec();
}
