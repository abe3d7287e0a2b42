#pragma once
// Keeps a widget showing a logic control's state, and passes the operator's
// actions back to it.
#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>

#include "platform/qt/QtText.h"
#include "shell/Controls.h"

namespace dervix {

inline void Bind(Button& button, QAbstractButton* widget) {
    auto show = [&button, widget] {
        widget->setText(ToQ(button.caption()));
        widget->setEnabled(button.enabled());
    };
    show();
    button.setObserver([show] { show(); });
    QObject::connect(widget, &QAbstractButton::clicked, widget, [&button] { button.click(); });
}

inline void Bind(Label& label, QLabel* widget) {
    widget->setText(ToQ(label.caption()));
    label.setObserver([&label, widget] { widget->setText(ToQ(label.caption())); });
}

// A text slot shown in a line edit; edits by the operator become changes.
inline void Bind(TextSlot& slot, QLineEdit* widget) {
    widget->setText(ToQ(slot.text()));
    slot.setObserver([&slot, widget] {
        const QString text = ToQ(slot.text());
        if (widget->text() != text) widget->setText(text);
        if (slot.selLength() > 0) widget->setSelection(slot.selStart(), slot.selLength());
    });
    QObject::connect(widget, &QLineEdit::textEdited, widget, [&slot](const QString& text) { slot.setText(FromQ(text)); });
}

}  // namespace dervix
