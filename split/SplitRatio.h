#pragma once
#include <cstdint>
#include <string>

#include "split/SplitTable.h"

namespace dervix {

class FrmDervix;

// The splitter code table, the flow rate with its recommended ratios, and
// applying a split to the module.
class SplitRatio {
public:
    explicit SplitRatio(FrmDervix& w) : w_(w) {}
    // Makes txtFlowRate, cmdSetSplit and the grid's pick gesture run their handlers.
    void wire();

    // Fills the table and lays out the grid; once, before anything reads either.
    void InitSplitTable();
    // Restores the saved flow rate and split, highlights its row and refreshes
    // the maintenance badge.
    void LoadSplitSettings();
    void SendSplitterCode(std::uint8_t code);

    // Handlers.
    void txtFlowRate_KeyPress(int& KeyAscii);  // sets KeyAscii to 0 to discard the key
    void txtFlowRate_Change();
    void cmdSetSplit_Click() { ApplySplit(); }
    void vaSplit_DblClick(int col, int row);

    // The recommended ratios for a flow in mL/min.
    static float MinSplitRatio(float flow);
    static float MaxSplitRatio(float flow);
    // " 500:1" for 500.
    static std::string SplitRatioText(float ratio);
    // The longest ratio text the grid can show: the top flow on the last preset.
    std::string WidestRatioText() const;

    static constexpr float kMaxFlow = 100;  // mL/min

    const SplitTable& table() const { return table_; }

private:
    void ApplySplit();
    void ShowRatios(float flow);
    float RatioFor(float flow, std::size_t entry) const;
    void Highlight(int row);

    FrmDervix& w_;
    SplitTable table_{};
};

}  // namespace dervix
