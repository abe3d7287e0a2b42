// How quickly and how calmly the device link works on a real line: the
// program's logic on the real serial port and timer, the simulated module on
// a pseudo-terminal in its own thread. Times are taken on the module's side
// with CLOCK_MONOTONIC, so they include both ends of the terminal.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "Figures.h"
#include "support/PtyRig.h"

using dervix::sim::ModuleSimulator;
using dervix::sim::PtySimulator;
using dervix::test::PtyRig;

namespace {

using dervix::bench::CpuSeconds;
using dervix::bench::Percentile;

constexpr int kExchanges = 1000;
constexpr int kSilentRounds = 4;
constexpr int kIdleSeconds = 10;

// Serves events until done() holds; false when it did not within the time.
bool ServeUntil(const std::function<bool()>& done, int timeoutMs) {
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(timeoutMs);
    while (!done()) {
        if (!deadline.isActive()) return false;
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

const char* Verdict(bool met) { return met ? "goal met" : "GOAL MISSED"; }

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    dervix::bench::PrintLoad();
    PtyRig rig;
    if (!rig.startModule()) {
        std::fprintf(stderr, "bench_devicelink: no pseudo-terminal: %s\n", qPrintable(rig.sim.errorString()));
        return 1;
    }
    rig.sim.withModule([](ModuleSimulator& m) { m.setReplyDelayMs(1); });

    // The last byte of each identity reply, and the split-code frame it led to.
    const QByteArray identityReply = "G1" + QByteArray::fromStdString(ModuleSimulator::kIdentity) + "\r\n";
    qint64 lastReplyNs = 0;
    std::vector<double> turnaroundMs;
    QObject::connect(rig.sim.simulator(), &PtySimulator::bytesSent, &rig.receiver,
                     [&](const QByteArray& bytes, qint64 ns) {
                         if (bytes == identityReply) lastReplyNs = ns;
                     });
    QObject::connect(rig.sim.simulator(), &PtySimulator::frameReceived, &rig.receiver,
                     [&](const QByteArray& frame, qint64 ns) {
                         if (frame.startsWith("G1F") && lastReplyNs != 0) {
                             turnaroundMs.push_back(static_cast<double>(ns - lastReplyNs) / 1e6);
                             lastReplyNs = 0;
                         }
                     });

    rig.w->Form_Load();
    auto settled = [&rig] { return !rig.timer.isActive() && rig.w->DervixResp.text().empty(); };
    for (int i = 0; i < kExchanges + 20; ++i) {
        if (i > 0) rig.w->txtDVXScmd.setText("CHECK");
        const std::size_t want = static_cast<std::size_t>(i) + 1;
        if (!ServeUntil([&] { return turnaroundMs.size() >= want && settled(); }, 5000)) {
            std::fprintf(stderr, "bench_devicelink: exchange %d did not complete\n", i + 1);
            return 1;
        }
    }
    turnaroundMs.erase(turnaroundMs.begin(), turnaroundMs.begin() + 20);  // warm-up
    const double median = Percentile(turnaroundMs, 50), p99 = Percentile(turnaroundMs, 99);
    std::printf("CHECK reply -> split-code frame, %zu exchanges:\n", turnaroundMs.size());
    std::printf("  median %.3f ms, 99th percentile %.3f ms, worst %.3f ms  (goal p99 < 0.5 ms: %s)\n", median, p99,
                Percentile(turnaroundMs, 100), Verdict(p99 < 0.5));

    // A silent module: 16 frames, each after the 190 ms response time.
    rig.sim.withModule([](ModuleSimulator& m) { m.setSilent(true); });
    std::vector<double> spacingMs;
    for (int round = 0; round < kSilentRounds; ++round) {
        const std::size_t firstFrame = rig.frames.size();
        const std::size_t boxes = rig.dialogs.boxes.size();
        rig.w->txtDVXScmd.setText("STATUS");
        if (!ServeUntil([&] { return rig.dialogs.boxes.size() > boxes; }, 10000)) {
            std::fprintf(stderr, "bench_devicelink: the silent module was not given up on\n");
            return 1;
        }
        ServeUntil([] { return false; }, 50);  // the last frame's notice from the module's thread
        std::vector<qint64> times;
        for (std::size_t i = firstFrame; i < rig.frames.size(); ++i)
            if (rig.frames[i].frame == "G1S") times.push_back(rig.frames[i].firstByteNs);
        if (times.size() != 16) {
            std::fprintf(stderr, "bench_devicelink: %zu frames instead of 16\n", times.size());
            return 1;
        }
        for (std::size_t i = 1; i < times.size(); ++i)
            spacingMs.push_back(static_cast<double>(times[i] - times[i - 1]) / 1e6);
    }
    if (qEnvironmentVariableIsSet("BENCH_VERBOSE"))
        for (double s : spacingMs) std::printf("  gap %.3f\n", s);
    std::vector<double> deviationMs;
    for (double s : spacingMs) deviationMs.push_back(std::abs(s - 190.0));
    const double worstDeviation = Percentile(deviationMs, 100);
    std::printf("Silent module, %d rounds of 16 frames (%zu gaps):\n", kSilentRounds, spacingMs.size());
    std::printf("  median gap %.3f ms; deviation from 190 ms: median %.3f ms, 99th percentile %.3f ms, worst %.3f ms"
                "  (goal within 2 ms: %s)\n",
                Percentile(spacingMs, 50), Percentile(deviationMs, 50), Percentile(deviationMs, 99), worstDeviation,
                Verdict(worstDeviation <= 2.0));

    // Idle with the port open: nothing to do must cost nothing.
    rig.sim.withModule([](ModuleSimulator& m) { m.setSilent(false); });
    ServeUntil([] { return false; }, 200);
    const double threadBefore = CpuSeconds(RUSAGE_THREAD), processBefore = CpuSeconds(RUSAGE_SELF);
    ServeUntil([] { return false; }, kIdleSeconds * 1000);
    const double threadCpu = CpuSeconds(RUSAGE_THREAD) - threadBefore;
    const double processCpu = CpuSeconds(RUSAGE_SELF) - processBefore;
    std::printf("Idle for %d s with the port open:\n", kIdleSeconds);
    std::printf("  program thread %.1f ms CPU, whole process incl. module thread %.1f ms CPU  "
                "(goal no measurable idle CPU: %s)\n",
                threadCpu * 1e3, processCpu * 1e3, Verdict(threadCpu < 0.01));
    return 0;
}
