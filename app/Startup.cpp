#include "app/Startup.h"

#include <QApplication>

#include <memory>

#include "platform/Dialogs.h"
#include "platform/qt/QtDesktop.h"

namespace dervix {

namespace {

// A box can only be shown where a desktop will take it. On the offscreen or
// minimal platform, or with no display at all, it would wait for an answer
// nobody can give, or make Qt abort before the reason is out.
bool DesktopAvailable() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty()) return !platform.startsWith("offscreen") && !platform.startsWith("minimal");
    return DisplayNamed();
}

}  // namespace

int StartupFailure(int& argc, char** argv, const std::string& reason) {
    std::fprintf(stderr, "dervix: %s\n", reason.c_str());
    std::fflush(stderr);
    std::unique_ptr<QApplication> app;
    if (!QApplication::instance()) {
        if (!DesktopAvailable()) return 1;
        app = std::make_unique<QApplication>(argc, argv);
    }
    QtDialogs().messageBox("Dervix cannot start:\r" + reason, MsgBox::Critical, "Dervix");
    return 1;
}

}  // namespace dervix
