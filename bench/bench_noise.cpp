// What a noisy line costs: a device that streams bytes without ever ending a
// reply (another baud rate, a floating line). The program's logic on fakes,
// with logging on and one client watching the response slot; the noise comes
// in small chunks spread over simulated time, the timers fired as that time
// passes. Counted are the bytes written to the log and the bytes of the lines
// sent to the watcher, each per byte of noise received.
#include <cstddef>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "shell/LinkProtocol.h"
#include "support/Fakes.h"
#include "support/Rig.h"

namespace {

using dervix::test::FakeTimer;
using dervix::test::Rig;

// The field's figure: 4,518 bytes in 10 s.
constexpr int kNoiseBytes = 4518;
constexpr double kNoiseMs = 10000;
constexpr double kLogGoalBytes = 1e6;

struct CountingWatcher : dervix::LinkWatcher {
    std::size_t bytes = 0;
    void changed(std::string_view, const std::string& line) override { bytes += line.size() + 1; }
};

// A fake timer run by simulated time: due its interval after each start.
struct SimulatedTimer {
    FakeTimer& timer;
    int seenStarts = 0;
    double due = 0;
    void sync(double now) {
        if (timer.starts == seenStarts) return;
        seenStarts = timer.starts;
        due = now + timer.intervalMs;
    }
};

struct Figures {
    double log = 0;
    double watcher = 0;
};

// noiseBytes at the field's rate, in chunks of chunk bytes. pollEveryMs > 0:
// a client asks for STATUS that often, so a request is awaited (and re-sent
// on each time-out) all along.
Figures Run(std::size_t chunk, double pollEveryMs, std::size_t noiseBytes = kNoiseBytes) {
    const double noiseMs = kNoiseMs * static_cast<double>(noiseBytes) / kNoiseBytes;
    Rig rig;
    rig.startAndAnswerCheck();
    rig.serial.deliver("G1\r\n");  // the split code's reply
    rig.w->g.LogEnabled = 1;
    FakeTimer pacer;  // as the program spaces out long texts for watchers
    dervix::LinkProtocol protocol(*rig.w, &pacer);
    CountingWatcher watcher;
    protocol.handle("WATCH DervixResp", &watcher);
    watcher.bytes = 0;
    rig.logFile.lines.clear();

    std::vector<SimulatedTimer> timers{{rig.timer}, {pacer}};
    std::size_t logBytes = 0;
    const auto takeLog = [&] {
        for (const std::string& line : rig.logFile.lines) logBytes += line.size();
        rig.logFile.lines.clear();
    };
    double now = 0;
    const auto advanceTo = [&](double until) {
        for (;;) {
            SimulatedTimer* next = nullptr;
            for (SimulatedTimer& t : timers)
                if (t.timer.active && t.due <= until && (!next || t.due < next->due)) next = &t;
            if (!next) break;
            rig.clock.advance(std::chrono::milliseconds(static_cast<long>(next->due - now)));
            now = next->due;
            next->timer.fire();
            for (SimulatedTimer& t : timers) t.sync(now);
        }
        rig.clock.advance(std::chrono::milliseconds(static_cast<long>(until - now)));
        now = until;
    };

    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> byte(0, 255);
    const std::size_t chunks = (noiseBytes + chunk - 1) / chunk;
    double nextPoll = pollEveryMs > 0 ? 0 : noiseMs * 2;
    std::size_t sent = 0;
    for (std::size_t i = 0; i < chunks; ++i) {
        const double at = noiseMs * static_cast<double>(i) / static_cast<double>(chunks);
        while (nextPoll <= at) {
            advanceTo(nextPoll);
            rig.w->txtDVXScmd.setText("STATUS");
            for (SimulatedTimer& t : timers) t.sync(now);
            nextPoll += pollEveryMs;
        }
        advanceTo(at);
        std::string bytes;
        for (std::size_t k = 0; k < chunk && sent < noiseBytes; ++k, ++sent)
            bytes.push_back(static_cast<char>(byte(random)));
        rig.serial.deliver(bytes);
        for (SimulatedTimer& t : timers) t.sync(now);
        takeLog();
    }
    advanceTo(noiseMs);
    takeLog();
    return {static_cast<double>(logBytes), static_cast<double>(watcher.bytes)};
}

}  // namespace

int main() {
    std::printf("Noise of %d random bytes over %.0f s of simulated time, logging on, one watcher of "
                "DervixResp:\n",
                kNoiseBytes, kNoiseMs / 1000);
    bool met = true;
    for (const double poll : {0.0, 1000.0}) {
        std::printf("%s:\n", poll > 0 ? "STATUS asked for every second (a request awaited all along)"
                                      : "Nothing awaited (the slot grows to its bound)");
        for (const std::size_t chunk : {1, 4, 16}) {
            const Figures f = Run(chunk, poll);
            met = met && f.log <= kLogGoalBytes;
            std::printf("  chunks of %2zu bytes: log %8.3f MB, %7.1f bytes per noise byte; watcher %8.3f MB, "
                        "%7.1f bytes per noise byte\n",
                        chunk, f.log / 1e6, f.log / kNoiseBytes, f.watcher / 1e6, f.watcher / kNoiseBytes);
        }
    }
    std::printf("Goal: at most %.0f MB of log for these %d bytes: %s\n", kLogGoalBytes / 1e6, kNoiseBytes,
                met ? "goal met" : "GOAL MISSED");
    // Below the slot's bound, a cost that grows with the square of the noise
    // shows as a cost per byte that grows with the noise.
    std::printf("A reply that never ends, nothing awaited, chunks of 1 byte at the same rate:\n");
    for (const std::size_t bytes : {512, 1024, 2048, 4096}) {
        const Figures f = Run(1, 0, bytes);
        std::printf("  %4zu bytes: log %7.1f, watcher %7.1f bytes per noise byte\n", bytes,
                    f.log / static_cast<double>(bytes), f.watcher / static_cast<double>(bytes));
    }
    return 0;
}
