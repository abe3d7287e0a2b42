#include "maintenance/Kelm.h"

#include <cmath>

#include "shell/FrmDervix.h"
#include "shell/Numbers.h"

namespace dervix {

std::string Kelm::BadgeKey(double total, double yellow, double red) {
    if (total >= red) return "kelm-r";
    if (total >= yellow) return "kelm-y";
    return "kelm-g";
}

void Kelm::setKelmgraphic(double& rotations) {
    Settings& settings = w_.settings;
    rotations = NumericValue(settings.GetIniValue(kSection, "Rotations"));
    // Absent levels are stored once, so the operator finds them to edit.
    double red = RoundHalfEven(NumericValue(settings.GetIniValue(kSection, "KelmRed")));
    if (red == 0) {
        red = kDefaultRed;
        settings.WriteIniValue(kSection, "KelmRed", SignedForm(red));
    }
    double yellow = RoundHalfEven(NumericValue(settings.GetIniValue(kSection, "KelmYellow")));
    if (yellow == 0) {
        yellow = kDefaultYellow;
        settings.WriteIniValue(kSection, "KelmYellow", SignedForm(yellow));
    }
    setKelmlogo(BadgeKey(rotations, yellow, red));
    MenuBadge& badge = w_.platform.badge;
    if (badge.menuValid()) badge.describe(BadgeDescription(rotations, yellow, red));
}

std::string Kelm::BadgeDescription(double total, double yellow, double red) {
    const std::string key = BadgeKey(total, yellow, red);
    const char* colour = key == "kelm-r" ? "Red" : key == "kelm-y" ? "Yellow" : "Green";
    // Completed rotations: a total half a rotation short of a level is not
    // said to be at it.
    return std::string(colour) + ": " + FormatWhole(std::floor(total), false) + " valve rotations; yellow warning at " +
           FormatWhole(yellow, false) + ", red warning at " + FormatWhole(red, false);
}

void Kelm::setKelmlogo(const std::string& imageKey) {
    MenuBadge& badge = w_.platform.badge;
    if (!badge.menuValid()) {
        w_.log.LoggedMsgBox("Menu handle invalid", MsgBox::Information, "");
        return;
    }
    badge.show(imageKey);
}

}  // namespace dervix
