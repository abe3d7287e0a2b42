#include "maintenance/ui/KelmView.h"
#include "platform/qt/QtDesktop.h"

#include <QPointer>
#include <QProgressBar>
#include <algorithm>

#include "shell/FrmDervix.h"

namespace dervix {

KelmView::KelmView(FrmKelm& logic, QWidget* parent) : QDialog(parent), d_(logic) {
    setObjectName("frmKelm");
    setWindowTitle(ToQ(FrmKelm::kCaption));
    setWindowModality(Qt::ApplicationModal);

    auto* rotations = new QLabel(this);
    rotations->setObjectName("lblRotations");
    bar_ = new QProgressBar(this);
    bar_->setObjectName("pbarKelm");
    bar_->setTextVisible(false);
    auto* yellow = new QLabel(this);
    yellow->setObjectName("lblYellow");
    auto* red = new QLabel(this);
    red->setObjectName("lblRed");
    auto* reset = new QPushButton(this);
    reset->setObjectName("cmdReset");
    reset->setAutoDefault(false);
    auto* ok = new QPushButton(this);
    ok->setObjectName("cmdOK");
    ok->setDefault(true);

    place(rotations, FrmKelm::kRotationsPlace);
    place(bar_, FrmKelm::kBarPlace);
    place(yellow, FrmKelm::kYellowPlace);
    place(red, FrmKelm::kRedPlace);
    place(reset, FrmKelm::kResetPlace);
    place(ok, FrmKelm::kOKPlace);
    setFixedSize(TwipsToPixels(FrmKelm::kWidth, logicalDpiX()), TwipsToPixels(FrmKelm::kHeight, logicalDpiY()));

    bind_.label(rotations, d_.lblRotations);
    bind_.label(yellow, d_.lblYellow);
    bind_.label(red, d_.lblRed);
    bind_.button(reset, d_.cmdReset);
    bind_.button(ok, d_.cmdOK);
    bind_.watch(d_.pbarKelm, [this] {
        bar_->setRange(0, ProgressBar::kSteps);
        bar_->setValue(d_.pbarKelm.steps());
    });
    fitTexts();
    setTabOrder(reset, ok);
}

void KelmView::place(QWidget* control, const Place& twips) {
    const int dpiX = logicalDpiX(), dpiY = logicalDpiY();
    control->setGeometry(TwipsToPixels(twips.left, dpiX), TwipsToPixels(twips.top, dpiY),
                         TwipsToPixels(twips.width, dpiX), TwipsToPixels(twips.height, dpiY));
}

void KelmView::fitTexts() {
    // The places were drawn for a narrower font: a text that needs more room
    // widens its label and the dialog rather than being cut off.
    int right = width();
    for (QLabel* label : findChildren<QLabel*>()) {
        const int wanted = label->x() + label->sizeHint().width();
        if (wanted > label->geometry().right() + 1) label->resize(wanted - label->x(), label->height());
        right = std::max(right, label->geometry().right() + 1 + label->x());
    }
    if (right > width()) setFixedSize(right, height());
}

void KelmView::showModal() { exec(); }

void KelmView::hide() { done(QDialog::Accepted); }

void KelmView::reject() {
    d_.cmdOK.click();
    if (isVisible()) QDialog::reject();
}

void InstallKelmView(FrmDervix& w, QWidget* parent) {
    QPointer<QWidget> owner(parent);
    w.kelm.frmKelm.setViewFactory([owner](FrmKelm& d) -> std::unique_ptr<ModalView> {
        return std::make_unique<KelmView>(d, owner.data());
    });
}

}  // namespace dervix
