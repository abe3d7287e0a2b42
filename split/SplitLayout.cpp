// Building the preset table and laying out the split grid.
#include <iterator>

#include "shell/FrmDervix.h"
#include "shell/Numbers.h"
#include "split/SplitRatio.h"

namespace dervix {

namespace {
struct ColumnLayout {
    const char* heading;
    double width;  // characters
};
constexpr ColumnLayout kColumns[] = {
    {"Split Ratio", 7}, {"Freq(Hz)", 6}, {"Vol(nL)", 5}, {"Code", 4}, {"Multiplier", 9},
};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));
}  // namespace

void SplitRatio::InitSplitTable() {
    FillSplitTable(table_);

    SplitGrid& grid = w_.vaSplit;
    grid.setRedraw(false);
    grid.setDimensions(kColumnCount, static_cast<int>(kSplitEntries));
    for (int c = 1; c <= kColumnCount; ++c) {
        grid.setText(c, 0, kColumns[c - 1].heading);
        grid.setColumnWidth(c, kColumns[c - 1].width);
    }
    // Code and multiplier are what applying a split reads back; the operator
    // has no use for them.
    grid.setColumnHidden(4, true);
    grid.setColumnHidden(5, true);
    grid.setRowHeadersShown(false);
    grid.setScrollBars(ScrollBars::Vertical);
    grid.setSelectionMode(SelectionMode::SingleRow);
    grid.setStaticText(true);
    grid.setAlignment(HAlign::Right);
    for (std::size_t i = 0; i < kSplitEntries; ++i) {
        const SplitEntry& e = table_[i];
        const int r = static_cast<int>(i) + 1;
        grid.setText(2, r, FormatFixed(e.ValveFreq, 3));
        grid.setText(3, r, PlainForm(e.LoopVol));
        grid.setText(4, r, PlainForm(e.Code));
        grid.setText(5, r, FormatOptionalInteger(e.Multiplier, 3));
    }
    grid.setVisibleSize(3, 5);
    grid.setAutoSize(true);
    grid.setRedraw(true);
}

}  // namespace dervix
