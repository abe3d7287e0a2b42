#pragma once

namespace dervix {

class FrmDervix;

// The port and module configuration dialog.
class ConfigDialog {
public:
    explicit ConfigDialog(FrmDervix& w) : w_(w) {}
    void showModal() { (void)w_; }

private:
    FrmDervix& w_;
};

}  // namespace dervix
