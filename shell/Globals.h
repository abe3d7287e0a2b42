#pragma once
// The state the whole program shares: filled by the settings check, the
// device link, the split restore and the rotation counter.
#include <cstdint>
#include <string>

namespace dervix {

inline const std::string kSection = "Dervix";
inline const std::string kReady = "READY";
inline const std::string kWaiting = "WAITING";

struct Globals {
    // Loaded by CheckSettings.
    std::string PortSettings;
    std::string PortNumber;
    std::uint8_t ModuleAddress = 0;

    double LogEnabled = 0;  // logging is on when greater than 0

    // Device link.
    std::string CurrentCommand;
    std::string LinkState;
    std::uint8_t RetryCount = 0;

    // The split now chosen.
    float CurSplitMult = 0;
    std::uint8_t CurSplitCode = 0;
    float CurValveFreq = 0;

    // Working copy of the stored rotation total.
    double ValveRotations = 0;
};

}  // namespace dervix
