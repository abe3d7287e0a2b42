#pragma once
// The maintenance dialog: the rotor's rotation total against the warning
// levels, and the reset after the valve has been serviced.
#include <functional>
#include <memory>
#include <string>

#include "platform/Dialogs.h"
#include "shell/Controls.h"

namespace dervix {

class FrmDervix;

// A progress bar's range and value as the dialog sets them. The bar is full
// exactly when value has reached maximum.
class ProgressBar : public Observable {
public:
    float minimum() const { return min_; }
    float maximum() const { return max_; }
    float value() const { return value_; }
    void set(float minimum, float maximum, float value) {
        min_ = minimum;
        max_ = maximum;
        value_ = value;
        notify();
    }

    // Whole steps for a bar that counts in int: the range 0..kSteps, full
    // exactly when the value has reached the maximum and empty at or below
    // the minimum, whatever the size of the numbers.
    static constexpr int kSteps = 1000000;
    int steps() const;

private:
    float min_ = 0;
    float max_ = 100;
    float value_ = 0;
};

// A control's place in the dialog, in twips.
struct Place {
    int left, top, width, height;
};

class FrmKelm {
public:
    static constexpr const char* kCaption = "Corvane Dervantix - Kelm";
    static constexpr Place kRotationsPlace{180, 120, 3495, 255};
    static constexpr Place kBarPlace{180, 540, 3495, 315};
    static constexpr Place kYellowPlace{180, 960, 3495, 255};
    static constexpr Place kRedPlace{180, 1320, 3495, 255};
    static constexpr Place kResetPlace{840, 1740, 915, 375};
    static constexpr Place kOKPlace{2400, 1740, 915, 375};
    // The inside of the dialog, in twips.
    static constexpr int kWidth = 3855;
    static constexpr int kHeight = 2280;

    using ViewFactory = ModalViewSlot<FrmKelm>::Factory;

    explicit FrmKelm(FrmDervix& w);
    FrmKelm(const FrmKelm&) = delete;
    FrmKelm& operator=(const FrmKelm&) = delete;

    // Loads and fills the dialog, shows it and returns when it is closed.
    void showModal();
    void setViewFactory(ViewFactory factory) { view_.setFactory(std::move(factory)); }
    bool loaded() const { return loaded_; }

    // Fills every control from the stored levels and the working total.
    void InitForm();

    Label lblRotations;
    ProgressBar pbarKelm;
    Label lblYellow{"Warning Level"};
    Label lblRed{"Warning Level"};
    Button cmdReset{"&Reset"};
    Button cmdOK{"OK"};

private:
    void cmdReset_Click();
    void unload();
    double level(const char* key, double fallback);

    FrmDervix& w_;
    ModalViewSlot<FrmKelm> view_;
    bool loaded_ = false;
};

}  // namespace dervix
