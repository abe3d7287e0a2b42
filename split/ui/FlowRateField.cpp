#include "split/ui/FlowRateField.h"

#include <QKeyEvent>

#include "shell/FrmDervix.h"

namespace dervix {

FlowRateField::FlowRateField(FrmDervix& w, QWidget* parent) : QLineEdit(parent), w_(w), slot_(w.txtFlowRate) {
    setObjectName(QStringLiteral("txtFlowRate"));
    connect(this, &QLineEdit::textEdited, this, &FlowRateField::operatorEdited);
    slot_.setObserver([this] { showSlot(); });
    showSlot();
}

FlowRateField::~FlowRateField() { slot_.setObserver(nullptr); }

void FlowRateField::showSlot() {
    const QString text = QString::fromLatin1(slot_.text());
    if (echoPending_) {
        echoPending_ = false;
        if (text == this->text()) return;
    }
    // setText does not raise textEdited, so this never comes back to the slot.
    if (text != this->text()) setText(text);
    if (slot_.selLength() > 0) {
        setSelection(slot_.selStart(), slot_.selLength());
    } else {
        setCursorPosition(slot_.selStart());
    }
}

void FlowRateField::operatorEdited(const QString& text) {
    echoPending_ = true;
    // The handler may change the text again (a refused flow becomes "0");
    // those changes reach showSlot after the echo.
    slot_.setText(text.toLatin1().toStdString());
    echoPending_ = false;
}

void FlowRateField::keyPressEvent(QKeyEvent* event) {
    const QString typed = event->text();
    // Ctrl and Meta keys are editing commands (copy, paste, select all), and
    // Delete types nothing, though some platforms give it a character.
    const bool command = (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) != 0;
    if (!typed.isEmpty() && !command && event->key() != Qt::Key_Delete) {
        for (QChar c : typed) {
            int keyAscii = c.unicode();
            w_.split.txtFlowRate_KeyPress(keyAscii);
            if (keyAscii == 0) {
                event->accept();
                return;
            }
        }
    }
    QLineEdit::keyPressEvent(event);
}

}  // namespace dervix
