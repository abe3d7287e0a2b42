#include "shell/Numbers.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace dervix {

// Every conversion here goes through <charconv>: strtod and printf follow
// the process locale, which the desktop toolkit sets from the user's
// environment, and a German desktop would then read "1.5" as 1 and write
// "1,5" into the profile.
namespace {

std::string ToChars(double value, std::chars_format format, int precision) {
    char buffer[512];  // a fixed form of the largest double needs 309 digits
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format, precision);
    if (result.ec != std::errc()) return "0";
    return std::string(buffer, result.ptr);
}

}  // namespace

double NumericValue(std::string_view text) {
    std::string clean;
    clean.reserve(text.size());
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\n') clean.push_back(c);
    }
    std::size_t i = 0;
    std::string number;
    if (i < clean.size() && (clean[i] == '+' || clean[i] == '-')) {
        if (clean[i] == '-') number.push_back('-');  // from_chars takes no "+"
        ++i;
    }
    bool digits = false;
    bool point = false;
    for (; i < clean.size(); ++i) {
        char c = clean[i];
        if (c >= '0' && c <= '9') {
            number.push_back(c);
            digits = true;
        } else if (c == '.' && !point) {
            number.push_back(c);
            point = true;
        } else {
            break;
        }
    }
    if (!digits) return 0.0;
    if (i < clean.size() && (clean[i] == 'e' || clean[i] == 'E' || clean[i] == 'd' || clean[i] == 'D')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < clean.size() && (clean[j] == '+' || clean[j] == '-')) exponent.push_back(clean[j++]);
        bool expDigits = false;
        while (j < clean.size() && clean[j] >= '0' && clean[j] <= '9') {
            exponent.push_back(clean[j++]);
            expDigits = true;
        }
        if (expDigits) number += exponent;
    }
    double value = 0.0;
    auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    // Out of range either way: too small is 0, too large has no sensible
    // reading and is treated as no number at all.
    if (result.ec != std::errc() || !std::isfinite(value)) return 0.0;
    return value;
}

std::string SignedForm(double value) {
    if (!std::isfinite(value)) value = 0.0;
    if (value == 0.0) value = 0.0;  // no "-0"
    std::string text = ToChars(value, std::chars_format::general, 15);
    if (value >= 0) text.insert(text.begin(), ' ');
    return text;
}

std::string PlainForm(long long value) { return std::to_string(value); }

double RoundHalfEven(double value) {
    if (!std::isfinite(value)) return value;
    double floor = std::floor(value);
    double diff = value - floor;
    if (diff < 0.5) return floor;
    if (diff > 0.5) return floor + 1.0;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

std::string FormatFixed(double value, int decimals) {
    if (!std::isfinite(value)) value = 0.0;
    std::string text = ToChars(value, std::chars_format::fixed, decimals < 0 ? 0 : decimals);
    if (text.find_first_not_of("-0.") == std::string::npos && text[0] == '-') text.erase(0, 1);
    return text;
}

std::string FormatOptionalInteger(double value, int decimals) {
    std::string text = FormatFixed(value, decimals);
    bool negative = !text.empty() && text[0] == '-';
    std::size_t digitsAt = negative ? 1 : 0;
    if (text.compare(digitsAt, 2, "0.") == 0) text.erase(digitsAt, 1);
    return text;
}

std::string FormatWhole(double value, bool emptyForZero) {
    if (!std::isfinite(value)) value = 0.0;
    double rounded = std::round(value);  // halves away from zero
    if (rounded == 0.0) return emptyForZero ? std::string() : std::string("0");
    return ToChars(rounded, std::chars_format::fixed, 0);
}

}  // namespace dervix
