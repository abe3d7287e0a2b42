#pragma once
// A drop-down list as the dialog logic sees it: fixed entries and the chosen
// position, -1 when nothing is chosen.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "shell/Controls.h"

namespace dervix {

class ComboList : public Observable {
public:
    void clear() {
        items_.clear();
        listIndex_ = -1;
        notify();
        changed();
    }
    void addItem(std::string text) {
        items_.push_back(std::move(text));
        notify();
    }
    const std::vector<std::string>& items() const { return items_; }
    int listIndex() const { return listIndex_; }
    // A position without an entry chooses nothing rather than failing: a
    // hand-edited profile must never keep the dialog from opening.
    void setListIndex(int index) {
        listIndex_ = (index >= 0 && index < static_cast<int>(items_.size())) ? index : -1;
        notify();
        changed();
    }
    std::string text() const { return listIndex_ < 0 ? std::string() : items_[static_cast<std::size_t>(listIndex_)]; }
    // Runs after every change of the chosen position, for the dialog's logic.
    void setChangeHandler(std::function<void()> handler) { change_ = std::move(handler); }

private:
    void changed() {
        if (change_) change_();
    }

    std::vector<std::string> items_;
    int listIndex_ = -1;
    std::function<void()> change_;
};

}  // namespace dervix
