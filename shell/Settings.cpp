#include "shell/Settings.h"

#include <cmath>

#include "platform/SystemNames.h"
#include "shell/Numbers.h"

namespace dervix {

std::string Settings::GetShortPath(const std::string& path) { return ShortFolderPath(path); }

std::string Settings::GetIniValue(const std::string& section, const std::string& key) {
    auto value = store_.read(section, key);
    if (!value) return {};
    if (value->size() > kMaxValueLength) value->resize(kMaxValueLength);
    return *value;
}

bool Settings::WriteIniValue(const std::string& section, const std::string& key, const std::string& value) {
    return store_.write(section, key, value);
}

std::string Settings::CheckSettings(Globals& g) {
    std::string result;
    g.PortSettings = GetIniValue(kSection, "Settings");
    if (g.PortSettings.empty()) result = "Serial port has not been configured!";
    g.PortNumber = GetIniValue(kSection, "CommPort");
    if (g.PortNumber.empty()) result = "Serial port has not been selected!";
    std::string moduleId = GetIniValue(kSection, "ModuleID");
    if (moduleId.empty()) result = "Dervantix code has not been set!";
    double address = RoundHalfEven(NumericValue(moduleId));
    if (address < 0 || address > 255) {
        // A hand-edited address that no frame can carry: treat it as unset
        // rather than sending frames to a wrapped-around address.
        g.ModuleAddress = 0;
        result = "Dervantix code has not been set!";
    } else {
        g.ModuleAddress = static_cast<std::uint8_t>(address);
    }
    return result;
}

}  // namespace dervix
