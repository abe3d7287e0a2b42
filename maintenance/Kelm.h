#pragma once
// The rotation counter's warning badge on the menu bar, and the maintenance
// dialog that shows and resets the count.
#include <string>

#include "maintenance/FrmKelm.h"

namespace dervix {

class FrmDervix;

class Kelm {
public:
    static constexpr double kDefaultRed = 1500000;
    static constexpr double kDefaultYellow = 1000000;

    explicit Kelm(FrmDervix& w) : frmKelm(w), w_(w) {}

    // Reloads the total into rotations from the stored count, then shows the
    // badge for it against the warning levels.
    void setKelmgraphic(double& rotations);
    // Puts the badge with this key ("kelm-g", "kelm-y", "kelm-r") on the menu.
    void setKelmlogo(const std::string& imageKey);
    void showDialog() { frmKelm.showModal(); }

    // The badge key for a total against the levels; red is tested first.
    static std::string BadgeKey(double total, double yellow, double red);
    // The badge in words: its colour, the total and the levels.
    static std::string BadgeDescription(double total, double yellow, double red);

    FrmKelm frmKelm;

private:
    FrmDervix& w_;
};

}  // namespace dervix
