// Dervix: puts the main window's logic together with the desktop and starts
// it. What differs between systems comes from the system's own factory
// (app/System.h); everything here is the same on every system.
#include <QApplication>
#include <QIcon>
#include <QMenuBar>
#include <cstdio>
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
#include "shell/FrmDervix.h"
#include "shell/LinkProtocol.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "app/System.h"

namespace {

void PrintUsage(std::FILE* to, const dervix::System& system) {
    std::fprintf(to,
                 "Usage: dervix [--simulate]\n"
                 "  --simulate   %s, with a\n"
                 "               separate demonstration profile (the real one is left alone)\n"
                 "  --version    print the version and end\n",
                 system.simulateHelp());
}

}  // namespace

int main(int argc, char** argv) {
    const std::unique_ptr<dervix::System> system = dervix::MakeSystem();
    bool simulate = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--simulate") == 0) {
            simulate = true;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("dervix %d.%d.%d\n", DERVIX_VERSION_MAJOR, DERVIX_VERSION_MINOR, DERVIX_VERSION_PATCH);
            return 0;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage(stdout, *system);
            return 0;
        } else {
            std::fprintf(stderr, "dervix: unknown option %s\n", argv[i]);
            PrintUsage(stderr, *system);
            return 2;
        }
    }
    if (const std::optional<int> exitCode = system->enter(argc, argv)) return *exitCode;

    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("dervix"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("dervix")));

    std::string failure;
    const std::unique_ptr<dervix::SystemAdapters> adapters = system->makeAdapters(simulate, failure);
    if (!adapters) return dervix::StartupFailure(argc, argv, failure);

    const std::string programFolder = QCoreApplication::applicationDirPath().toStdString();
    dervix::QtDialogs dialogs;
    dervix::QtTimer timer;
    dervix::QtTimer reopenTimer;
    dervix::QtEventPump pump;
    dervix::QtScreen screen;
    dervix::QtMenuBadge badge;
    dervix::QtProcess process;
    dervix::SerialPort& serial = adapters->serial();
    process.setLastWork([&serial] { serial.close(); });
    // By name: two timers, and other members of one type, could be swapped
    // unnoticed by position.
    dervix::Platform platform{.profile = adapters->profile(),
                              .logFile = adapters->logFile(),
                              .dialogs = dialogs,
                              .serial = serial,
                              .timer = timer,
                              .clock = adapters->clock(),
                              .pump = pump,
                              .screen = screen,
                              .badge = badge,
                              .process = process,
                              .devices = adapters->devices(),
                              .reopenTimer = reopenTimer,
                              .programFolder = programFolder,
                              .version = {DERVIX_VERSION_MAJOR, DERVIX_VERSION_MINOR, DERVIX_VERSION_PATCH},
                              .logPath = adapters->logPath()};
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
    adapters->startingUp(frm, window, [&window, &frm] {
        if (window.isVisible()) window.close();
        else frm.endProgram();
    });

    frm.Form_Load();

    // Made before the protocol, which sets its handler, and gone after it.
    dervix::QtTimer linkPacer;
    dervix::LinkProtocol protocol(frm, &linkPacer);
    if (const std::string reason = adapters->openLink(protocol); !reason.empty()) {
        // The program is of use without the link, so it goes on; but the
        // operator of a program started from the menu sees no standard error,
        // and another program that relies on the link would fail unexplained.
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
