#include "platform/SystemClock.h"

#include <ctime>

namespace dervix {

std::chrono::system_clock::time_point SystemClock::now() const { return std::chrono::system_clock::now(); }

LocalTime SystemClock::toLocal(std::chrono::system_clock::time_point t) const {
    // Whole seconds, rounded down also before 1970.
    const auto seconds = std::chrono::floor<std::chrono::seconds>(t.time_since_epoch()).count();
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm tm{};
    // localtime_r need not apply a changed TZ; tzset makes it do so.
    tzset();
    if (!localtime_r(&time, &tm)) return LocalTime{};
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                     static_cast<int>(tm.tm_gmtoff)};
}

}  // namespace dervix
