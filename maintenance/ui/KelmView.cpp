#include "maintenance/ui/KelmView.h"
#include "platform/qt/QtDesktop.h"

#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <vector>

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

    bind_.label(rotations, d_.lblRotations);
    bind_.label(yellow, d_.lblYellow);
    bind_.label(red, d_.lblRed);
    bind_.button(reset, d_.cmdReset);
    bind_.button(ok, d_.cmdOK);
    bind_.watch(d_.pbarKelm, [this] {
        bar_->setRange(0, ProgressBar::kSteps);
        bar_->setValue(d_.pbarKelm.steps());
    });
    // What a screen reader says: the labels and buttons say it themselves.
    bar_->setAccessibleName(QStringLiteral("Valve rotations against the red warning level"));
    fitToFont({{rotations}, {bar_}, {yellow}, {red}, {reset, ok}});
    setTabOrder(reset, ok);
}

void KelmView::place(QWidget* control, const Place& twips) {
    const int dpiX = logicalDpiX(), dpiY = logicalDpiY();
    control->setGeometry(TwipsToPixels(twips.left, dpiX), TwipsToPixels(twips.top, dpiY),
                         TwipsToPixels(twips.width, dpiX), TwipsToPixels(twips.height, dpiY));
}

void KelmView::fitToFont(const std::vector<std::vector<QWidget*>>& rows) {
    // The places were drawn for a smaller font. A control whose text needs
    // more room grows, and what lies below it moves down by as much, so a
    // large desktop font cuts neither a label's descenders nor a button's
    // caption; at a font that fits, every control keeps its place.
    int shift = 0, labelsRight = 0;
    for (const auto& row : rows) {
        int grown = 0;
        for (QWidget* control : row) {
            const QRect design = control->geometry();
            QRect place = design.translated(0, shift);
            if (qobject_cast<QLabel*>(control)) {
                place.setSize(place.size().expandedTo(control->sizeHint()));
                labelsRight = std::max(labelsRight, place.right() + 1);
            } else if (const auto* button = qobject_cast<QPushButton*>(control)) {
                // Room for the caption; the style's minimum width is no need of it.
                const QFontMetrics metrics = button->fontMetrics();
                const QString caption = QString(button->text()).remove(QLatin1Char('&'));
                place.setWidth(std::max(design.width(), metrics.horizontalAdvance(caption) + metrics.height()));
                place.setHeight(std::max(design.height(), button->sizeHint().height()));
            }
            control->setGeometry(place);
            grown = std::max(grown, place.height() - design.height());
        }
        shift += grown;
    }
    // The bar measures what the labels tell, and is as wide as they are.
    bar_->resize(std::max(bar_->width(), labelsRight - bar_->x()), bar_->height());
    int right = 0;
    for (QWidget* control : findChildren<QWidget*>()) right = std::max(right, control->geometry().right() + 1);
    const int margin = TwipsToPixels(FrmKelm::kBarPlace.left, logicalDpiX());
    setFixedSize(std::max(TwipsToPixels(FrmKelm::kWidth, logicalDpiX()), right + margin),
                 TwipsToPixels(FrmKelm::kHeight, logicalDpiY()) + shift);
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
