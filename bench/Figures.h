#pragma once
// What the benchmarks count with.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstddef>
#include <vector>

namespace dervix::bench {

// The p-th percentile (0 to 100) of values, nearest rank; 0 for none.
inline double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// CPU seconds, user and system, of who (RUSAGE_SELF, RUSAGE_THREAD).
inline double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Both ends share the machine: a busy machine shows in every figure, so
// the load it started with is printed with them.
inline void PrintLoad() {
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) == 3)
        std::printf("Load average at start: %.2f %.2f %.2f on %d processors\n", load[0], load[1], load[2],
                    static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
}

}  // namespace dervix::bench
