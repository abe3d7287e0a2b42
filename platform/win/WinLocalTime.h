#pragma once
// Local time by the rules of a Windows time zone, for the clock and for
// checking it against zones other than the machine's own.
#include <chrono>

#include "platform/System.h"
#include "platform/win/WinApi.h"

namespace dervix {

// t, in whole seconds rounded down, as local time of zone with the offset of
// that moment (daylight saving included); zone nullptr: the system's time
// zone, by its rules of t's year. The default LocalTime for a moment before
// 1601, which Windows cannot give.
LocalTime WinLocalTime(std::chrono::system_clock::time_point t, const TIME_ZONE_INFORMATION* zone);

}  // namespace dervix
