#pragma once
// Qt's side of the small desktop services: boxes, serving events, the screen,
// ending the program.
#include <QPointer>
#include <QWidget>
#include <cmath>

#include "platform/Dialogs.h"
#include "platform/System.h"

namespace dervix {

class QtDialogs : public Dialogs {
public:
    void setParent(QWidget* parent) { parent_ = parent; }
    int messageBox(const std::string& prompt, int flags, const std::string& title) override;
    std::optional<std::string> inputBox(const std::string& prompt, const std::string& title,
                                        const std::string& defaultText) override;
    void beep() override;

private:
    QPointer<QWidget> parent_;
};

class QtEventPump : public EventPump {
public:
    void serveEvents() override;
    void post(std::function<void()> work) override;
};

// Twips from pixels at the screen's logical DPI (15 twips a pixel at 96 DPI).
double TwipsPerPixel(const QWidget* widget = nullptr);

inline int TwipsToPixels(int twips, int logicalDpi) {
    return static_cast<int>(std::lround(static_cast<double>(twips) * logicalDpi / 1440.0));
}

class QtScreen : public Screen {
public:
    ScreenSize size() const override;
};

class QtProcess : public Process {
public:
    // Work that must happen even when the program ends at once, such as
    // releasing the serial device's lock file for the next user.
    void setLastWork(std::function<void()> work) { lastWork_ = std::move(work); }
    [[noreturn]] void terminate() override;

private:
    std::function<void()> lastWork_;
};

}  // namespace dervix
