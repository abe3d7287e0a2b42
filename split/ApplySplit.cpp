// Taking the operator's chosen row as the current split.
#include <optional>

#include "shell/FrmDervix.h"
#include "shell/Numbers.h"
#include "split/SplitNumbers.h"
#include "split/SplitRatio.h"

namespace dervix {

void SplitRatio::vaSplit_DblClick(int, int) {
    // The module takes a new code only with the valve at rest. Set itself is
    // disabled during a run, but the grid gesture has no button to grey out.
    if (w_.cmdStart.caption() != "&Start") {
        w_.log.LoggedMsgBox("Cannot change split ratio while splitter is running!",
                            MsgBox::OkOnly | MsgBox::Information, kSection);
        return;
    }
    ApplySplit();
}

void SplitRatio::ApplySplit() {
    SplitGrid& grid = w_.vaSplit;
    Globals& g = w_.g;
    const int r = grid.activeRow();
    // The values come from the row's texts: the frequency counted for the
    // rotations is the one the operator sees (2.222, not 2.22222).
    const std::string freqText = grid.text(2, r);
    const std::string codeText = grid.text(4, r);
    const std::string multText = grid.text(5, r);
    const std::optional<float> freq = ToSingle(NumericValue(freqText));
    const std::optional<float> mult = ToSingle(NumericValue(multText));
    const std::optional<std::uint8_t> code = ToByte(RoundHalfEven(NumericValue(codeText)));
    if (!freq || !mult || !code) {
        w_.log.WriteLog("Set - row " + PlainForm(r) + " holds no split setting: [" + freqText + "] [" + codeText +
                        "] [" + multText + "]");
        return;
    }

    Highlight(r);
    g.CurSplitMult = *mult;
    g.CurSplitCode = *code;
    SendSplitterCode(g.CurSplitCode);
    w_.settings.WriteIniValue(kSection, "FlowRate", w_.txtFlowRate.text());
    w_.settings.WriteIniValue(kSection, "SplitMult", multText);
    w_.settings.WriteIniValue(kSection, "SplitCode", codeText);
    g.CurValveFreq = *freq;
}

}  // namespace dervix
