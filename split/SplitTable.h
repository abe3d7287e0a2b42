#pragma once
// The module's valve presets: what each splitter code does to the flow.
#include <array>
#include <cstddef>
#include <cstdint>

namespace dervix {

struct SplitEntry {
    double Multiplier;       // split ratio per mL/min of inlet flow
    std::uint8_t Code;       // splitter code the module knows the preset by
    float ValveFreq;         // valve switching frequency, Hz
    std::int16_t LoopVol;    // volume carried per valve switch, nL
};

inline constexpr std::size_t kSplitEntries = 23;

// Ascending multipliers, no two alike: a saved split is found again by the
// text of its multiplier.
using SplitTable = std::array<SplitEntry, kSplitEntries>;

// The presets as the module's maker publishes them. The multipliers are the
// maker's rounded figures, kept as constants rather than recomputed, so a
// saved multiplier text always finds its row.
void FillSplitTable(SplitTable& table);

}  // namespace dervix
