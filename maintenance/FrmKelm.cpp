#include "maintenance/FrmKelm.h"

#include <cmath>

#include "shell/FrmDervix.h"
#include "shell/Numbers.h"

namespace dervix {

namespace {

std::string TrimBlanks(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace

int ProgressBar::steps() const {
    const double low = min_, high = max_, v = value_;
    // A range that is empty or not a number leaves nothing to measure:
    // full once the value has reached the top, else empty.
    if (!(high > low) || !std::isfinite(high - low)) return v >= high ? kSteps : 0;
    if (v >= high) return kSteps;
    if (!(v > low)) return 0;
    const double share = std::floor((v - low) / (high - low) * kSteps);
    // Short of the top by less than a step still shows as short of it.
    return share >= kSteps ? kSteps - 1 : static_cast<int>(share);
}

FrmKelm::FrmKelm(FrmDervix& w) : w_(w) {
    cmdReset.setClickHandler([this] { cmdReset_Click(); });
    cmdOK.setClickHandler([this] { unload(); });
}

void FrmKelm::showModal() {
    if (loaded_) return;  // already open
    loaded_ = true;
    InitForm();
    view_.show(*this);
    loaded_ = false;
}

void FrmKelm::unload() {
    loaded_ = false;
    view_.hide();
}

double FrmKelm::level(const char* key, double fallback) {
    double value = NumericValue(w_.settings.GetIniValue(kSection, key));
    if (value == 0) {
        value = fallback;
        w_.settings.WriteIniValue(kSection, key, SignedForm(value));
    }
    return value;
}

void FrmKelm::InitForm() {
    const double red = level("KelmRed", 1500000);
    const double yellow = level("KelmYellow", 1000000);
    const double total = w_.g.ValveRotations;
    pbarKelm.set(0, static_cast<float>(total > red ? total : red), static_cast<float>(total));
    lblYellow.setCaption("Yellow warning at " + SignedForm(yellow) + " valve rotations");
    lblRed.setCaption("Red warning at " + SignedForm(red) + " valve rotations");
    lblRotations.setCaption("Valve rotor has completed " + FormatWhole(total, false) + " rotations");
}

void FrmKelm::cmdReset_Click() {
    Dialogs& dialogs = w_.platform.dialogs;
    const auto answer =
        dialogs.inputBox("Type 'reset' to reset the vavle rotations counter", "Dervantix Rotations", "");
    if (!answer || UpperAscii(TrimBlanks(*answer)) != "RESET") {
        dialogs.messageBox("No action taken!", MsgBox::Information, kSection);
        return;
    }
    // A count that did not reach the profile would come back at the next
    // start, so the dialog must not claim it was reset.
    if (!w_.settings.WriteIniValue(kSection, "Rotations", "0")) {
        w_.log.LoggedMsgBox("The valve rotations counter could not be reset: the profile cannot be written.",
                            MsgBox::Critical, kSection);
        return;
    }
    w_.g.ValveRotations = 0;
    InitForm();
}

}  // namespace dervix
