#pragma once
// The window controls the logic reads and writes. Widgets bind to them: they
// show what the logic sets and report what the operator does.
#include <functional>
#include <string>
#include <utility>

namespace dervix {

// Lets one widget follow a control's state.
class Observable {
public:
    void setObserver(std::function<void()> observer) { observer_ = std::move(observer); }

protected:
    void notify() {
        if (observer_) observer_();
    }

private:
    std::function<void()> observer_;
};

// Lets the link follow a control's text, beside the widget that shows it: told
// only when the text itself changes (not its selection), before the control's
// change handler runs, so a handler that changes the text again is told of in
// the order the texts were set.
class TextWatched {
public:
    void setTextWatcher(std::function<void()> watcher) { textWatcher_ = std::move(watcher); }

protected:
    void textChanged() const {
        if (textWatcher_) textWatcher_();
    }

private:
    std::function<void()> textWatcher_;
};

// A text cell whose change handler runs at once, nested inside the call that
// set the text. By default every setText counts as a change, so placing the
// same request twice sends it twice; a slot made with OnChange runs it only
// when the text really changes.
class TextSlot : public Observable, public TextWatched {
public:
    enum Runs { OnEverySet, OnChange };
    explicit TextSlot(std::string initial = {}, Runs runs = OnEverySet) : text_(std::move(initial)), runs_(runs) {}
    const std::string& text() const { return text_; }
    void setText(std::string text) {
        const bool changed = text != text_;
        if (runs_ == OnChange && !changed) return;
        text_ = std::move(text);
        selStart_ = static_cast<int>(text_.size());
        selLength_ = 0;
        notify();
        if (changed) textChanged();
        if (handler_) handler_();
    }
    void setHandler(std::function<void()> handler) { handler_ = std::move(handler); }
    void select(int start, int length) {
        selStart_ = start;
        selLength_ = length;
        notify();
    }
    int selStart() const { return selStart_; }
    int selLength() const { return selLength_; }

private:
    std::string text_;
    Runs runs_;
    std::function<void()> handler_;
    int selStart_ = 0;
    int selLength_ = 0;
};

class Label : public Observable, public TextWatched {
public:
    explicit Label(std::string caption = {}) : caption_(std::move(caption)) {}
    const std::string& caption() const { return caption_; }
    void setCaption(std::string caption) {
        const bool changed = caption != caption_;
        caption_ = std::move(caption);
        notify();
        if (changed) textChanged();
    }

private:
    std::string caption_;
};

class Button : public Observable {
public:
    explicit Button(std::string caption) : caption_(std::move(caption)) {}
    const std::string& caption() const { return caption_; }
    bool enabled() const { return enabled_; }
    void setCaption(std::string caption) {
        caption_ = std::move(caption);
        notify();
    }
    void setEnabled(bool enabled) {
        enabled_ = enabled;
        notify();
    }
    void setClickHandler(std::function<void()> handler) { click_ = std::move(handler); }
    // What the operator's click or access key does; a disabled button ignores it.
    void click() {
        if (enabled_ && click_) click_();
    }

private:
    std::string caption_;
    bool enabled_ = true;
    std::function<void()> click_;
};

}  // namespace dervix
