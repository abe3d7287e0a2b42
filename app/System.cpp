#include "app/System.h"

#include "shell/Globals.h"
#include "shell/Numbers.h"

namespace dervix {

int PrepareDemoProfile(ProfileStore& profile) {
    auto value = [&profile](const char* key) { return profile.read(kSection, key).value_or(""); };
    if (value("Settings").empty()) profile.write(kSection, "Settings", "19200,N,8,1");
    if (value("CommPort").empty()) profile.write(kSection, "CommPort", "1");
    if (value("ModuleID").empty()) profile.write(kSection, "ModuleID", "1");
    const double address = RoundHalfEven(NumericValue(value("ModuleID")));
    return address >= 0 && address <= 255 ? static_cast<int>(address) : 1;
}

}  // namespace dervix
