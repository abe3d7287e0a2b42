#include "split/SplitRatio.h"

#include <optional>

#include "shell/FrmDervix.h"
#include "shell/Numbers.h"
#include "split/SplitNumbers.h"

namespace dervix {

void SplitRatio::wire() {
    w_.txtFlowRate.setHandler([this] { txtFlowRate_Change(); });
    w_.cmdSetSplit.setClickHandler([this] { cmdSetSplit_Click(); });
    w_.vaSplit.setPickHandler([this](int col, int row) { vaSplit_DblClick(col, row); });
}

void SplitRatio::LoadSplitSettings() {
    Settings& settings = w_.settings;
    Globals& g = w_.g;

    const std::optional<float> flow = ToSingle(NumericValue(settings.GetIniValue(kSection, "FlowRate")));
    // Every setText is a change, so the ratios are recomputed even when the
    // field already shows this text.
    if (flow && *flow > 0 && *flow <= kMaxFlow) {
        w_.txtFlowRate.setText(FormatWhole(*flow, true));
    } else {
        w_.txtFlowRate.setText("20");
    }

    const std::string multText = settings.GetIniValue(kSection, "SplitMult");
    std::optional<float> mult = ToSingle(NumericValue(multText));
    if (!mult) {
        w_.log.WriteLog("SplitMult - out of range, 50 used: [" + multText + "]");
        mult = 0.0f;
    }
    g.CurSplitMult = *mult == 0 ? 50.0f : *mult;

    // A damaged code must not cost the operator the rest of his settings.
    const std::string codeText = settings.GetIniValue(kSection, "Splitcode");
    std::optional<std::uint8_t> code = ToByte(RoundHalfEven(NumericValue(codeText)));
    if (!code) {
        w_.log.WriteLog("Splitcode - not a splitter code, 19 used: [" + codeText + "]");
        code = 0;
    }
    g.CurSplitCode = *code == 0 ? 19 : *code;

    // Matched by text: the saved multiplier is held as a single (33.333 becomes
    // 33.3330002), which would never equal the table's double.
    const std::string wanted = FormatOptionalInteger(g.CurSplitMult, 3);
    std::size_t i = 0;
    while (FormatOptionalInteger(table_[i].Multiplier, 3) != wanted && i < kSplitEntries - 1) ++i;
    if (FormatOptionalInteger(table_[i].Multiplier, 3) == wanted) g.CurValveFreq = table_[i].ValveFreq;
    Highlight(static_cast<int>(i) + 1);

    w_.kelm.setKelmgraphic(w_.g.ValveRotations);
}

void SplitRatio::SendSplitterCode(std::uint8_t code) { w_.txtDVXScmd.setText(SignedForm(code)); }

void SplitRatio::Highlight(int row) {
    SplitGrid& grid = w_.vaSplit;
    grid.setBackColor(SplitGrid::kAll, kWhite);
    grid.setBackColor(row, kPureGreen);
    grid.setActiveCell(1, row);
}

}  // namespace dervix
