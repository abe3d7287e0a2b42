#include "maintenance/Kelm.h"

#include "shell/FrmDervix.h"
#include "shell/Numbers.h"

namespace dervix {

void Kelm::setKelmgraphic(double& rotations) {
    rotations = NumericValue(w_.settings.GetIniValue(kSection, "Rotations"));
}

void Kelm::setKelmlogo(const std::string& imageKey) { w_.platform.badge.show(imageKey); }

}  // namespace dervix
