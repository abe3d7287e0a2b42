#pragma once
// The visible form of the About box.
#include <QDialog>

#include "shell/ui/Binding.h"
#include "platform/Dialogs.h"

namespace dervix {

class AboutBox;
class FrmDervix;

class AboutView : public QDialog, public ModalView {
    Q_OBJECT
public:
    AboutView(AboutBox& logic, QWidget* parent);

    void showModal() override;
    void hide() override;
    // Escape and the window frame close it as OK does.
    void reject() override;

private:
    AboutBox& d_;
    WidgetBinding bind_;
};

// The product artwork beside the title and below the buttons.
QPixmap AboutValvePicture();
QPixmap AboutFlowPicture();

// Makes the About box appear as an AboutView over parent.
void InstallAboutView(FrmDervix& w, QWidget* parent);

}  // namespace dervix
