#include "shell/FrmDervix.h"

#include <algorithm>
#include <cmath>

#include "shell/Numbers.h"

namespace dervix {

FrmDervix::FrmDervix(Platform& p)
    : platform(p),
      settings(p.profile),
      log(g, p.clock, p.logFile, p.dialogs, p.pump, p.programFolder, p.logPath),
      link(*this),
      split(*this),
      kelm(*this),
      config(*this),
      about(*this) {
    link.wire();
    split.wire();
}

namespace {
int Twips(double value) {
    if (!std::isfinite(value) || std::fabs(value) > 1e8) return 0;
    return static_cast<int>(std::lround(value));
}
}  // namespace

void FrmDervix::Form_Load() {
    split.InitSplitTable();
    // A run left behind by an earlier program is dropped, never counted.
    if (!settings.GetIniValue(kSection, "Running").empty()) settings.WriteIniValue(kSection, "Running", "");
    settings.WriteIniValue(kSection, "ErrorStatus", "");
    g.LogEnabled = NumericValue(settings.GetIniValue(kSection, "Logging"));
    split.LoadSplitSettings();

    form.top = Twips(NumericValue(settings.GetIniValue(kSection, "FormTop")));
    form.left = Twips(NumericValue(settings.GetIniValue(kSection, "FormLeft")));
    KeepOnScreen();
    form.height = kCutHeight;

    g.LinkState = kReady;
    SetupSerialCommunications();
}

void FrmDervix::KeepOnScreen() {
    const ScreenSize screen = platform.screen.size();
    // The window as it really is, frame included: a larger desktop font makes
    // the grid and the window wider than the design, and a stored position
    // near the far edge would leave the grid's last column and Start off the
    // screen. Never less than the design, though: before the window is shown
    // nobody knows its frame, and the design leaves room for one.
    Geometry size{0, 0, kDesignWidth, kDesignHeight};
    if (sizeSource_) {
        const Geometry real = sizeSource_();
        size.width = std::max(size.width, real.width);
        size.height = std::max(size.height, real.height);
    }
    // Only the far edges are checked: a negative position is the operator's
    // own choice on a desktop that extends to the left or top.
    if (form.top + size.height > screen.heightTwips) form.top = screen.heightTwips - size.height;
    if (form.left + size.width > screen.widthTwips) form.left = screen.widthTwips - size.width;
    form.width = size.width;
}

void FrmDervix::Form_Unload() {
    if (platform.serial.isOpen()) platform.serial.close();
    SavePosition();
}

void FrmDervix::SavePosition() {
    if (!positionKnown) return;
    settings.WriteIniValue(kSection, "FormTop", SignedForm(form.top));
    settings.WriteIniValue(kSection, "FormLeft", SignedForm(form.left));
}

}  // namespace dervix
