// How quickly a change reaches the link's clients that watch it, and what
// watching costs while nothing changes: the program's logic on fakes behind
// the real socket link, each watcher a plain socket read in a thread of its
// own. A change is timed from the setting of the response slot's text in the
// program's thread (as the receive path sets it) to the return of the read
// that brings it to the watcher; the next change waits until every watcher
// has had this one.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/qt/posix/LinkServer.h"
#include "Figures.h"
#include "shell/LinkProtocol.h"
#include "support/Rig.h"

namespace {

using dervix::bench::CpuSeconds;
using dervix::bench::Percentile;

using Clock = std::chrono::steady_clock;

constexpr int kWarmUp = 50;
constexpr int kChanges = 1000;
constexpr int kIdleSeconds = 10;

std::mutex g_mutex;
std::condition_variable g_arrived;

// One client that watches DervixResp: when each numbered change came.
class Watcher {
public:
    Watcher(const QString& path, int changes) : arrivals_(std::size_t(changes)) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof address.sun_path - 1);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::send(fd_, "WATCH DervixResp\n", 17, MSG_NOSIGNAL) != 17) {
            std::perror("bench_link: watcher");
            std::exit(1);
        }
        thread_ = std::thread([this] { read(); });
    }
    ~Watcher() {
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
    }
    bool watching() const { return watching_; }
    int received() const { return received_; }
    Clock::time_point arrival(int change) const { return arrivals_[std::size_t(change)]; }

private:
    void read() {
        std::string pending;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0;) {
            const Clock::time_point now = Clock::now();
            pending.append(buffer, std::size_t(n));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
                const std::string line = pending.substr(0, end);
                if (line.rfind("OK ", 0) == 0) watching_ = true;
                if (line.rfind("CHANGED DervixResp G1 ", 0) != 0) continue;
                const int change = std::atoi(line.c_str() + 22);
                if (change >= 0 && std::size_t(change) < arrivals_.size()) arrivals_[std::size_t(change)] = now;
                const std::lock_guard lock(g_mutex);
                received_ = change + 1;
            }
            g_arrived.notify_all();
        }
    }

    int fd_ = -1;
    std::vector<Clock::time_point> arrivals_;
    std::atomic<bool> watching_ = false;
    std::atomic<int> received_ = 0;
    std::thread thread_;
};

void Serve(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Connects the watchers, makes the changes and prints the times.
void Measure(dervix::test::Rig& rig, const QString& path, int watchers, bool idle) {
    const int total = kWarmUp + kChanges;
    std::vector<std::unique_ptr<Watcher>> clients;
    for (int i = 0; i < watchers; ++i) clients.push_back(std::make_unique<Watcher>(path, total));
    while (!std::all_of(clients.begin(), clients.end(), [](const auto& c) { return c->watching(); })) Serve(1);
    std::vector<Clock::time_point> made(static_cast<std::size_t>(total));
    for (int change = 0; change < total; ++change) {
        made[std::size_t(change)] = Clock::now();
        rig.w->DervixResp.setText("G1 " + std::to_string(change));
        std::unique_lock lock(g_mutex);
        while (!std::all_of(clients.begin(), clients.end(), [&](const auto& c) { return c->received() > change; })) {
            // A write that did not go at once waits for the event loop.
            if (g_arrived.wait_for(lock, std::chrono::milliseconds(5)) == std::cv_status::timeout) {
                lock.unlock();
                QCoreApplication::processEvents();
                lock.lock();
            }
        }
    }
    std::vector<double> each, last;
    for (int change = kWarmUp; change < total; ++change) {
        double latest = 0;
        for (const auto& c : clients) {
            const std::chrono::duration<double, std::milli> took = c->arrival(change) - made[std::size_t(change)];
            each.push_back(took.count());
            latest = std::max(latest, took.count());
        }
        last.push_back(latest);
    }
    std::printf("%d watcher%s, %d changes: change to delivery median %.3f ms, 99th percentile %.3f ms",
                watchers, watchers == 1 ? "" : "s", kChanges, Percentile(each, 50), Percentile(each, 99));
    if (watchers > 1)
        std::printf("; to the last of them median %.3f ms, 99th percentile %.3f ms", Percentile(last, 50),
                    Percentile(last, 99));
    std::printf("  (goal a few ms: %s)\n", Percentile(last, 99) < 5 ? "goal met" : "GOAL MISSED");
    if (!idle) return;
    Serve(200);
    const double threadBefore = CpuSeconds(RUSAGE_THREAD), processBefore = CpuSeconds(RUSAGE_SELF);
    Serve(kIdleSeconds * 1000);
    const double threadCpu = CpuSeconds(RUSAGE_THREAD) - threadBefore;
    const double processCpu = CpuSeconds(RUSAGE_SELF) - processBefore;
    std::printf("Idle for %d s with %d watchers connected: program thread %.1f ms CPU, whole process %.1f ms CPU"
                "  (goal no measurable idle CPU: %s)\n",
                kIdleSeconds, watchers, threadCpu * 1e3, processCpu * 1e3,
                threadCpu < 0.01 ? "goal met" : "GOAL MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    dervix::bench::PrintLoad();
    dervix::test::Rig rig;
    dervix::LinkProtocol protocol(*rig.w);
    dervix::LinkServer server(
        [&protocol](const std::string& line, dervix::LinkWatcher& client) { return protocol.handle(line, &client); });
    QTemporaryDir folder;
    if (!server.listen(folder.path())) {
        std::fprintf(stderr, "bench_link: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    Measure(rig, server.socketPath(), 1, false);
    Measure(rig, server.socketPath(), 30, true);
    return 0;
}
