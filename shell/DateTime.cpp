#include "shell/DateTime.h"

#include <cstdio>

namespace dervix {
namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool Digits(const std::string& s, std::size_t at, std::size_t count, int& out) {
    if (at + count > s.size()) return false;
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::string FormatIso8601(const LocalTime& t) {
    int offset = t.utcOffsetSeconds;
    char sign = offset < 0 ? '-' : '+';
    if (offset < 0) offset = -offset;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, sign, offset / 3600, offset / 60 % 60);
    return buffer;
}

std::int64_t EpochSeconds(const LocalTime& t) {
    std::int64_t days = DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day));
    return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second - t.utcOffsetSeconds;
}

std::optional<std::int64_t> ParseIso8601(const std::string& text) {
    LocalTime t;
    if (text.size() < 20) return std::nullopt;
    if (!Digits(text, 0, 4, t.year) || text[4] != '-' || !Digits(text, 5, 2, t.month) || text[7] != '-' ||
        !Digits(text, 8, 2, t.day) || (text[10] != 'T' && text[10] != ' ') || !Digits(text, 11, 2, t.hour) ||
        text[13] != ':' || !Digits(text, 14, 2, t.minute) || text[16] != ':' || !Digits(text, 17, 2, t.second))
        return std::nullopt;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > DaysInMonth(t.year, t.month) || t.hour > 23 ||
        t.minute > 59 || t.second > 59)
        return std::nullopt;
    const std::string zone = text.substr(19);
    if (zone == "Z") {
        t.utcOffsetSeconds = 0;
    } else {
        int hours = 0, minutes = 0;
        if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || !Digits(zone, 1, 2, hours) ||
            zone[3] != ':' || !Digits(zone, 4, 2, minutes) || hours > 23 || minutes > 59)
            return std::nullopt;
        t.utcOffsetSeconds = (hours * 3600 + minutes * 60) * (zone[0] == '-' ? -1 : 1);
    }
    return EpochSeconds(t);
}

}  // namespace dervix
