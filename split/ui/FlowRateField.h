#pragma once
#include <QLineEdit>

namespace dervix {

class FrmDervix;
class TextSlot;

// The flow rate as the operator types it: shows txtFlowRate's text and
// selection, passes typed keys through the key filter, and hands every edit
// to the slot, whose handler recomputes the grid at once.
class FlowRateField : public QLineEdit {
    Q_OBJECT
public:
    FlowRateField(FrmDervix& w, QWidget* parent = nullptr);
    ~FlowRateField() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showSlot();
    void operatorEdited(const QString& text);

    FrmDervix& w_;
    TextSlot& slot_;
    // Set while the operator's own edit reaches the slot: its first echo is
    // the text already shown, with the cursor where he left it.
    bool echoPending_ = false;
};

}  // namespace dervix
