#pragma once
// "Running" is stored as ISO 8601 local time with its UTC offset, so it reads
// back to the same second whatever the time zone or daylight saving.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/System.h"

namespace dervix {

std::string FormatIso8601(const LocalTime& t);  // 2026-12-07T20:21:23+01:00
// Seconds since 1970-01-01 UTC, or nullopt when the text is not such a time.
std::optional<std::int64_t> ParseIso8601(const std::string& text);
std::int64_t EpochSeconds(const LocalTime& t);

}  // namespace dervix
