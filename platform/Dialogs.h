#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace dervix {

// Flags and results of the operator's message boxes.
namespace MsgBox {
constexpr int OkOnly = 0;
constexpr int RetryCancel = 5;
constexpr int Critical = 16;
constexpr int Information = 64;
constexpr int ResultOk = 1;
constexpr int ResultCancel = 2;
constexpr int ResultRetry = 4;
}  // namespace MsgBox

// Modal boxes. Both run a nested event loop while they are open, so serial
// notifications and timer ticks are handled meanwhile.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Line breaks inside prompt are single CR characters.
    virtual int messageBox(const std::string& prompt, int flags, const std::string& title) = 0;
    // nullopt when the operator cancelled.
    virtual std::optional<std::string> inputBox(const std::string& prompt, const std::string& title,
                                                const std::string& defaultText) = 0;
    // The desktop's audible alert.
    virtual void beep() = 0;
};

// The visible form of a modal dialog whose logic lives elsewhere.
class ModalView {
public:
    virtual ~ModalView() = default;
    // Shows the dialog and returns when it is hidden or closed.
    virtual void showModal() = 0;
    // Ends the modal display; the logic decides whether it stays loaded.
    virtual void hide() = 0;
};

// A dialog logic's visible form: made by the installed factory each time the
// dialog shows, and none at all where no factory is installed.
template <typename Dialog>
class ModalViewSlot {
public:
    using Factory = std::function<std::unique_ptr<ModalView>(Dialog&)>;
    void setFactory(Factory factory) { factory_ = std::move(factory); }
    // Returns when the view is hidden or closed.
    void show(Dialog& dialog) {
        if (!factory_) return;
        std::unique_ptr<ModalView> view = factory_(dialog);
        current_ = view.get();
        view->showModal();
        current_ = nullptr;
    }
    void hide() {
        if (current_) current_->hide();
    }

private:
    Factory factory_;
    ModalView* current_ = nullptr;
};

}  // namespace dervix
