#pragma once
// Ties a dialog's widgets to the logic's controls: each widget shows what
// the logic sets, and the operator's clicks reach the logic. Unbinds when it
// goes, so a control never calls into a widget that is gone.
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "shell/Controls.h"

namespace dervix {

// The logic's texts are single-byte strings.
inline QString Latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Twips to pixels at the widget's logical DPI (15 twips a pixel at 96 DPI).
inline int TwipsToPixels(int twips, int logicalDpi) {
    return static_cast<int>(std::lround(static_cast<double>(twips) * logicalDpi / 1440.0));
}

class DialogBinding {
public:
    DialogBinding() = default;
    DialogBinding(const DialogBinding&) = delete;
    DialogBinding& operator=(const DialogBinding&) = delete;
    ~DialogBinding() {
        for (Observable* control : bound_) control->setObserver(nullptr);
    }

    // Runs show now and after every change of the control.
    void watch(Observable& control, std::function<void()> show) {
        control.setObserver(show);
        bound_.push_back(&control);
        show();
    }
    void label(QLabel* view, Label& control) {
        // Plain text: a module's reply must never be read as markup.
        view->setTextFormat(Qt::PlainText);
        watch(control, [view, &control] { view->setText(Latin1(control.caption())); });
    }
    void button(QPushButton* view, Button& control) {
        watch(control, [view, &control] {
            view->setText(Latin1(control.caption()));
            view->setEnabled(control.enabled());
        });
        QObject::connect(view, &QPushButton::clicked, view, [&control] { control.click(); });
    }

private:
    std::vector<Observable*> bound_;
};

}  // namespace dervix
