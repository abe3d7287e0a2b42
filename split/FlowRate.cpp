// The flow rate field: its key filter and the ratios it gives every preset.
#include <cmath>
#include <optional>

#include "shell/FrmDervix.h"
#include "shell/Numbers.h"
#include "split/SplitNumbers.h"
#include "split/SplitRatio.h"

namespace dervix {

void SplitRatio::txtFlowRate_KeyPress(int& KeyAscii) {
    constexpr int kBackspace = 8;
    const bool digit = KeyAscii >= '0' && KeyAscii <= '9';
    if (!digit && KeyAscii != '.' && KeyAscii != kBackspace) KeyAscii = 0;
}

float SplitRatio::MinSplitRatio(float flow) {
    if (flow <= 5) return 100;
    if (flow <= 25) return 500;
    return 4000;
}

float SplitRatio::MaxSplitRatio(float flow) {
    if (flow <= 1.5f) return 1000;
    if (flow <= 3) return 4000;
    if (flow <= 5) return 10000;
    if (flow <= 25) return 20000;
    return 100000;
}

std::string SplitRatio::SplitRatioText(float ratio) { return SignedForm(ratio) + ":1"; }

float SplitRatio::RatioFor(float flow, std::size_t entry) const {
    // The flow as held (a single) times the multiplier in double precision:
    // a single product would round 0.7 x 100 = 69.9999988 up to 70.
    return static_cast<float>(std::floor(static_cast<double>(flow) * table_[entry].Multiplier));
}

std::string SplitRatio::WidestRatioText() const {
    return SplitRatioText(RatioFor(kMaxFlow, kSplitEntries - 1));
}

void SplitRatio::txtFlowRate_Change() {
    // A number too large for the flow's type is as far out of range as 101.
    const std::optional<float> flow = ToSingle(NumericValue(w_.txtFlowRate.text()));
    if (!flow || *flow < 0 || *flow > kMaxFlow) {
        w_.log.LoggedMsgBox("Flow rate must be between 0 and 100 mL/min", MsgBox::OkOnly | MsgBox::Information,
                            kSection);
        w_.cmdSetSplit.setEnabled(false);
        // Handled at once as the flow 0, which enables Set again.
        w_.txtFlowRate.setText("0");
        w_.txtFlowRate.select(0, static_cast<int>(w_.txtFlowRate.text().size()));
    } else {
        ShowRatios(*flow);
        w_.cmdSetSplit.setEnabled(true);
    }
    w_.settings.WriteIniValue(kSection, "FlowRate", w_.txtFlowRate.text());
}

void SplitRatio::ShowRatios(float flow) {
    const float lo = MinSplitRatio(flow);
    const float hi = MaxSplitRatio(flow);
    SplitGrid& grid = w_.vaSplit;
    grid.setRedraw(false);
    for (std::size_t i = 0; i < kSplitEntries; ++i) {
        const int r = static_cast<int>(i) + 1;
        const float ratio = RatioFor(flow, i);
        grid.setText(1, r, SplitRatioText(ratio));
        grid.setRecommended(r, lo <= ratio && ratio <= hi);
    }
    grid.setRedraw(true);
}

}  // namespace dervix
