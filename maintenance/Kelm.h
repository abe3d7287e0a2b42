#pragma once
#include <string>

namespace dervix {

class FrmDervix;

// The rotation counter's badge and the maintenance dialog.
class Kelm {
public:
    explicit Kelm(FrmDervix& w) : w_(w) {}
    void setKelmgraphic(double& rotations);
    void setKelmlogo(const std::string& imageKey);
    void showDialog() {}

private:
    FrmDervix& w_;
};

}  // namespace dervix
