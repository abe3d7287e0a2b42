#include "platform/SystemClock.h"

#include "platform/win/WinLocalTime.h"

namespace dervix {

namespace {

// Seconds from 1601-01-01, where FILETIME counts from, to 1970-01-01.
constexpr long long kFileTimeEpoch = 11644473600LL;
constexpr unsigned long long kTicksPerSecond = 10000000ULL;

long long SecondsOf(const SYSTEMTIME& st) {
    FILETIME ft{};
    if (!::SystemTimeToFileTime(&st, &ft)) return 0;
    const unsigned long long ticks = (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<long long>(ticks / kTicksPerSecond) - kFileTimeEpoch;
}

}  // namespace

LocalTime WinLocalTime(std::chrono::system_clock::time_point t, const TIME_ZONE_INFORMATION* zone) {
    const long long seconds = std::chrono::floor<std::chrono::seconds>(t.time_since_epoch()).count();
    if (seconds < -kFileTimeEpoch) return LocalTime{};
    const unsigned long long ticks = static_cast<unsigned long long>(seconds + kFileTimeEpoch) * kTicksPerSecond;
    const FILETIME ft{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{}, local{};
    if (!::FileTimeToSystemTime(&ft, &utc)) return LocalTime{};
    // The system's zone by the rules of that year, not of today's.
    TIME_ZONE_INFORMATION ofYear{};
    if (!zone && ::GetTimeZoneInformationForYear(utc.wYear, nullptr, &ofYear)) zone = &ofYear;
    if (!::SystemTimeToTzSpecificLocalTime(zone, &utc, &local)) return LocalTime{};
    return LocalTime{local.wYear, local.wMonth,  local.wDay,
                     local.wHour, local.wMinute, local.wSecond,
                     static_cast<int>(SecondsOf(local) - seconds)};
}

std::chrono::system_clock::time_point SystemClock::now() const { return std::chrono::system_clock::now(); }

// The system's zone, not the C runtime's: a TZ variable left by a Unix-like
// shell would make the runtime take a wrong zone without saying so.
LocalTime SystemClock::toLocal(std::chrono::system_clock::time_point t) const { return WinLocalTime(t, nullptr); }

}  // namespace dervix
