#pragma once
#include <cstdint>

namespace dervix {

class FrmDervix;

// The splitter code table, the flow rate and applying a split.
class SplitRatio {
public:
    explicit SplitRatio(FrmDervix& w) : w_(w) {}
    void wire() {}
    void InitSplitTable() {}
    void LoadSplitSettings();
    void SendSplitterCode(std::uint8_t code);

private:
    FrmDervix& w_;
};

}  // namespace dervix
