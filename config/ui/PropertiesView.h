#pragma once
// The visible form of the configuration dialog.
#include <QDialog>

#include "shell/ui/Binding.h"
#include "platform/Dialogs.h"

class QComboBox;
class QLabel;

namespace dervix {

class ComboList;
class ConfigDialog;
class FrmDervix;

class PropertiesView : public QDialog, public ModalView {
    Q_OBJECT
public:
    PropertiesView(ConfigDialog& logic, QWidget* parent);

    void showModal() override;
    void hide() override;
    // Escape and the window frame act as Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void bindList(QComboBox* view, ComboList& list, bool utf8 = false);
    void showTooltips();

    ConfigDialog& d_;
    QComboBox* cboPort_ = nullptr;
    QComboBox* cboDevice_ = nullptr;
    WidgetBinding bind_;
};

// Makes the configuration dialog appear as a PropertiesView over parent.
void InstallPropertiesView(FrmDervix& w, QWidget* parent);

}  // namespace dervix
