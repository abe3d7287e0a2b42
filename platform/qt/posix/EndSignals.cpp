#include "platform/qt/posix/EndSignals.h"

#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace dervix {

namespace {

constexpr std::array kSignals{SIGTERM, SIGHUP, SIGINT};
int pipeEnds[2] = {-1, -1};

void Handler(int) {
    // Only what a signal handler may do: the work waits for the event loop,
    // which also runs while a message box is open.
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

}  // namespace

EndSignals::EndSignals(std::function<void()> onEnd, QObject* parent) : QObject(parent), onEnd_(std::move(onEnd)) {
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(pipeEnds[0], bytes, sizeof bytes) > 0) {
        }
        if (onEnd_) onEnd_();
    });
    for (int signal : kSignals) {
        struct sigaction old {};
        ::sigaction(signal, nullptr, &old);
        // A signal the caller chose to ignore (nohup) stays ignored.
        if (old.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = Handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signal, &action, nullptr);
    }
}

EndSignals::~EndSignals() {
    for (int signal : kSignals) {
        struct sigaction old {};
        ::sigaction(signal, nullptr, &old);
        if (old.sa_handler == Handler) ::signal(signal, SIG_DFL);
    }
    delete notifier_;
    for (int& end : pipeEnds) {
        if (end >= 0) ::close(end);
        end = -1;
    }
}

}  // namespace dervix
