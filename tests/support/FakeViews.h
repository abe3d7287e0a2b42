#pragma once
// The visible form of a dialog in logic tests. Each opening runs the next
// script, which stands in for what the operator does while the dialog is on
// screen (choose Com3 and "A", press OK). With no script left the view
// returns at once, as if the operator closed it through its frame.
#include <deque>
#include <functional>
#include <memory>
#include <utility>

#include "platform/Dialogs.h"

namespace dervix::test {

template <class Dialog>
class ScriptedViews {
public:
    using Script = std::function<void(Dialog&)>;

    // Makes the dialog open its views from here.
    void install(Dialog& dialog) {
        dialog.setViewFactory([this](Dialog& d) -> std::unique_ptr<ModalView> {
            Script script;
            if (!scripts.empty()) {
                script = std::move(scripts.front());
                scripts.pop_front();
            }
            return std::make_unique<View>(*this, d, std::move(script));
        });
    }

    std::deque<Script> scripts;
    int opened = 0;  // views shown
    int hides = 0;   // hide() calls from the logic
    int live = 0;    // views that exist now

private:
    class View : public ModalView {
    public:
        View(ScriptedViews& owner, Dialog& dialog, Script script)
            : owner_(owner), dialog_(dialog), script_(std::move(script)) {
            ++owner_.live;
        }
        ~View() override { --owner_.live; }
        void showModal() override {
            ++owner_.opened;
            if (script_) script_(dialog_);
        }
        void hide() override { ++owner_.hides; }

    private:
        ScriptedViews& owner_;
        Dialog& dialog_;
        Script script_;
    };
};

}  // namespace dervix::test
