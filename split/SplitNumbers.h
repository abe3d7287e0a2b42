#pragma once
// Narrowing a number read from a text into the split's own types. A value the
// type cannot hold gives nullopt instead of an undefined conversion.
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace dervix {

inline std::optional<float> ToSingle(double value) {
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) return std::nullopt;
    return static_cast<float>(value);
}

// value must already be a whole number.
inline std::optional<std::uint8_t> ToByte(double value) {
    if (!(value >= 0 && value <= 255)) return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

}  // namespace dervix
