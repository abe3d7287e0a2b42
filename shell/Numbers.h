#pragma once
// The number forms used in every stored setting and every displayed figure.
#include <string>
#include <string_view>

namespace dervix {

// The number at the start of a text: blanks, tabs and line feeds are skipped
// wherever they stand, then an optional sign, digits with at most one "."
// and an optional exponent. A text without a number gives 0.
double NumericValue(std::string_view text);

// A leading blank for a value that is not negative, else "-"; "." as decimal
// point, no thousands separator, up to 15 significant digits (" 1500000").
std::string SignedForm(double value);

// Digits only, a "-" for a negative value ("1", "15").
std::string PlainForm(long long value);

// Rounds to the nearest whole number, halves to even (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double value);

// Fixed decimals with at least one digit before the point ("0.000": 0.625).
std::string FormatFixed(double value, int decimals);

// Fixed decimals where a zero before the point is left out ("####.000": .500).
std::string FormatOptionalInteger(double value, int decimals);

// A whole number rounded half away from zero; with emptyForZero a value that
// rounds to 0 gives the empty text ("###"), otherwise "0" ("########0").
std::string FormatWhole(double value, bool emptyForZero);

}  // namespace dervix
