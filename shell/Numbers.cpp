#include "shell/Numbers.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace dervix {

double NumericValue(std::string_view text) {
    std::string clean;
    clean.reserve(text.size());
    for (char c : text) {
        if (c != ' ' && c != '\t' && c != '\n') clean.push_back(c);
    }
    std::size_t i = 0;
    std::string number;
    if (i < clean.size() && (clean[i] == '+' || clean[i] == '-')) number.push_back(clean[i++]);
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
        while (j < clean.size() && clean[j] >= '0' && clean[j] <= '9' && exponent.size() < 8) {
            exponent.push_back(clean[j++]);
            expDigits = true;
        }
        if (expDigits) number += exponent;
    }
    double value = std::strtod(number.c_str(), nullptr);
    if (!std::isfinite(value)) return 0.0;
    return value;
}

std::string SignedForm(double value) {
    if (!std::isfinite(value)) value = 0.0;
    if (value == 0.0) value = 0.0;  // no "-0"
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    std::string text = buffer;
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
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string text = buffer;
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
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.0f", rounded);
    return buffer;
}

}  // namespace dervix
