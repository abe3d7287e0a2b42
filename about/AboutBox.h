#pragma once
#include "shell/Controls.h"

namespace dervix {

class FrmDervix;

// The About box: version, module status, model and identity, diagnostics.
class AboutBox {
public:
    explicit AboutBox(FrmDervix& w) : w_(w) {}
    void showModal() { (void)w_; }
    // The labels the response interpreter fills, or null while the box is
    // not loaded (a late reply is then dropped).
    Label* lblStatus() { return nullptr; }
    Label* lblModel() { return nullptr; }
    Label* lblID() { return nullptr; }

private:
    FrmDervix& w_;
};

}  // namespace dervix
