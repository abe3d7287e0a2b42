#pragma once
// Ties widgets to the logic's controls: each widget shows what the logic
// sets, and the operator's actions reach the logic. Unbinds when it goes, so
// a control never calls into a widget that is gone.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <functional>
#include <vector>

#include "platform/qt/QtText.h"
#include "shell/Controls.h"

namespace dervix {

class WidgetBinding {
public:
    WidgetBinding() = default;
    WidgetBinding(const WidgetBinding&) = delete;
    WidgetBinding& operator=(const WidgetBinding&) = delete;
    ~WidgetBinding() {
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
        watch(control, [view, &control] { view->setText(ToQ(control.caption())); });
    }
    void button(QPushButton* view, Button& control) {
        watch(control, [view, &control] {
            view->setText(ToQ(control.caption()));
            view->setEnabled(control.enabled());
        });
        QObject::connect(view, &QPushButton::clicked, view, [&control] { control.click(); });
    }
    // A text slot shown in a line edit; the operator's edits become changes.
    void text(QLineEdit* view, TextSlot& control) {
        watch(control, [view, &control] {
            const QString shown = ToQ(control.text());
            if (view->text() != shown) view->setText(shown);
            if (control.selLength() > 0) view->setSelection(control.selStart(), control.selLength());
        });
        QObject::connect(view, &QLineEdit::textEdited, view,
                         [&control](const QString& typed) { control.setText(FromQ(typed)); });
    }

private:
    std::vector<Observable*> bound_;
};

}  // namespace dervix
