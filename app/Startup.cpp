#include "app/Startup.h"

#include <QApplication>

#include <cstdio>
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
#ifdef _WIN32
    return true;
#else
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#endif
}

template <typename Lock>
std::optional<int> Acquired(int& argc, char** argv, Lock& instance, typename Lock::Outcome outcome) {
    switch (outcome) {
        case Lock::Outcome::Acquired: return std::nullopt;
        case Lock::Outcome::HeldElsewhere:
            std::fprintf(stderr, "dervix: already running\n");
            return 0;
        case Lock::Outcome::Failed: break;
    }
    return StartupFailure(argc, argv, instance.error());
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

#ifdef _WIN32
std::optional<int> EnterRuntime(int& argc, char** argv, WinInstance& instance) {
    return Acquired(argc, argv, instance, instance.acquire());
}
#else
std::optional<int> EnterRuntime(int& argc, char** argv, FolderResult& runtime, InstanceLock& instance) {
    runtime = PrepareRuntimeFolder();
    if (!runtime.ok()) return StartupFailure(argc, argv, runtime.error);
    return Acquired(argc, argv, instance, instance.acquire(runtime.path));
}
#endif

}  // namespace dervix
