#include "split/SplitRatio.h"

#include "shell/FrmDervix.h"
#include "shell/Numbers.h"

namespace dervix {

void SplitRatio::LoadSplitSettings() {
    // Until the split table lands only the code is restored, so CHECK and
    // LOAD send what the operator chose last.
    double code = RoundHalfEven(NumericValue(w_.settings.GetIniValue(kSection, "Splitcode")));
    w_.g.CurSplitCode = (code <= 0 || code > 255) ? 19 : static_cast<std::uint8_t>(code);
    w_.kelm.setKelmgraphic(w_.g.ValveRotations);
}

void SplitRatio::SendSplitterCode(std::uint8_t code) { w_.txtDVXScmd.setText(SignedForm(code)); }

}  // namespace dervix
