// The class is the one Linux has; its header holds nothing of POSIX.
#include "platform/posix/SystemClock.h"

#include "platform/win/WinApi.h"

namespace dervix {

namespace {

// Seconds from 1601-01-01, where FILETIME counts from, to 1970-01-01.
constexpr long long kFileTimeEpoch = 11644473600LL;

long long SecondsOf(const SYSTEMTIME& st) {
    FILETIME ft{};
    if (!::SystemTimeToFileTime(&st, &ft)) return 0;
    const unsigned long long ticks = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<long long>(ticks / 10000000ULL) - kFileTimeEpoch;
}

}  // namespace

std::chrono::system_clock::time_point SystemClock::now() const { return std::chrono::system_clock::now(); }

LocalTime SystemClock::toLocal(std::chrono::system_clock::time_point t) const {
    // Whole seconds, rounded down also before 1970.
    const long long seconds = std::chrono::floor<std::chrono::seconds>(t.time_since_epoch()).count();
    if (seconds < -kFileTimeEpoch) return LocalTime{};
    const unsigned long long ticks = static_cast<unsigned long long>(seconds + kFileTimeEpoch) * 10000000ULL;
    const FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{}, local{};
    if (!::FileTimeToSystemTime(&ft, &utc)) return LocalTime{};
    // The time zone's rules of that year, not of today's. The system's zone,
    // not the C runtime's: a TZ variable left by a Unix-like shell would
    // make the runtime take a wrong zone without saying so.
    TIME_ZONE_INFORMATION zone{};
    const bool ofYear = ::GetTimeZoneInformationForYear(utc.wYear, nullptr, &zone);
    if (!::SystemTimeToTzSpecificLocalTime(ofYear ? &zone : nullptr, &utc, &local)) return LocalTime{};
    // The offset of that moment, daylight saving included.
    return LocalTime{local.wYear, local.wMonth,  local.wDay,
                     local.wHour, local.wMinute, local.wSecond,
                     static_cast<int>(SecondsOf(local) - seconds)};
}

}  // namespace dervix
