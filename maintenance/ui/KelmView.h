#pragma once
// The visible form of the maintenance dialog.
#include <QDialog>
#include <vector>

#include "shell/ui/Binding.h"
#include "platform/Dialogs.h"

class QProgressBar;

namespace dervix {

class FrmDervix;
class FrmKelm;
struct Place;

class KelmView : public QDialog, public ModalView {
    Q_OBJECT
public:
    KelmView(FrmKelm& logic, QWidget* parent);

    void showModal() override;
    void hide() override;
    // Escape and the window frame close it as OK does.
    void reject() override;

private:
    void place(QWidget* control, const Place& twips);
    // Controls row by row, top to bottom.
    void fitToFont(const std::vector<std::vector<QWidget*>>& rows);

    FrmKelm& d_;
    QProgressBar* bar_ = nullptr;
    WidgetBinding bind_;
};

// Makes the maintenance dialog appear as a KelmView over parent.
void InstallKelmView(FrmDervix& w, QWidget* parent);

}  // namespace dervix
