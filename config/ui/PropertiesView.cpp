#include "config/ui/PropertiesView.h"
#include "platform/qt/QtDesktop.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <cmath>

#include "shell/FrmDervix.h"

namespace dervix {

namespace {

// A serial plug seen from the front: nine pins in a D-shaped shell.
QPixmap SerialPlugPicture() {
    QPixmap picture(64, 64);
    picture.fill(QColor(192, 192, 192));
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(64, 64, 64), 2));
    p.setBrush(QColor(160, 160, 176));
    const QPointF shell[] = {{6, 20}, {58, 20}, {52, 44}, {12, 44}};
    p.drawPolygon(shell, 4);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(32, 32, 32));
    for (int i = 0; i < 5; ++i) p.drawEllipse(QPointF(14 + i * 9, 28), 2.5, 2.5);
    for (int i = 0; i < 4; ++i) p.drawEllipse(QPointF(18.5 + i * 9, 37), 2.5, 2.5);
    p.setBrush(QColor(0, 0, 128));
    p.drawRect(QRectF(28, 44, 8, 14));
    return picture;
}

}  // namespace

PropertiesView::PropertiesView(ConfigDialog& logic, QWidget* parent) : QDialog(parent), d_(logic) {
    setObjectName("frmProperties");
    setWindowTitle(ToQ(ConfigDialog::kCaption));
    setWindowModality(Qt::ApplicationModal);

    auto* picture = new QLabel(this);
    picture->setObjectName("Picture1");
    picture->setPixmap(SerialPlugPicture());
    picture->setAlignment(Qt::AlignTop);

    auto* label1 = new QLabel(this);
    label1->setObjectName("Label1");
    cboPort_ = new QComboBox(this);
    cboPort_->setObjectName("cboPort");
    cboDevice_ = new QComboBox(this);
    cboDevice_->setObjectName("cboDevice");
    // A device is told apart by the whole of its name: the list grows with
    // the longest one present, and the dialog with it.
    cboDevice_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cboDevice_->setSizePolicy(QSizePolicy::Minimum, cboDevice_->sizePolicy().verticalPolicy());
    auto* device = new QLabel(this);
    device->setObjectName("lblDevice");
    auto* label2 = new QLabel(this);
    label2->setObjectName("Label2");
    auto* address = new QComboBox(this);
    address->setObjectName("cboASaddr");
    auto* ok = new QPushButton(this);
    ok->setObjectName("cmdOK");
    ok->setDefault(true);
    auto* cancel = new QPushButton(this);
    cancel->setObjectName("cmdCancel");
    auto* line = new QFrame(this);
    line->setObjectName("Line1");
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    // A screen reader names each control by the label an operator reads next
    // to it; labels and buttons name themselves by their captions.
    picture->setAccessibleName(QStringLiteral("Serial port"));
    cboPort_->setAccessibleName(QStringLiteral("PC COM Port"));
    cboDevice_->setAccessibleName(QStringLiteral("Serial device"));
    address->setAccessibleName(QStringLiteral("Module Address"));
    line->setAccessibleName(QStringLiteral("Separator"));

    auto* fields = new QGridLayout;
    fields->addWidget(label1, 0, 0);
    fields->addWidget(cboPort_, 0, 1);
    fields->addWidget(cboDevice_, 1, 1);
    fields->addWidget(device, 2, 1);
    fields->addWidget(label2, 3, 0);
    fields->addWidget(address, 3, 1);
    fields->setRowStretch(4, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(picture);
    top->addSpacing(8);
    top->addLayout(fields, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top, 1);
    all->addWidget(line);
    all->addLayout(buttons);

    bind_.label(label1, d_.Label1);
    bind_.label(label2, d_.Label2);
    bind_.label(device, d_.lblDevice);
    bind_.button(ok, d_.cmdOK);
    bind_.button(cancel, d_.cmdCancel);
    bindList(cboPort_, d_.cboPort);
    // What devices say of themselves is UTF-8.
    bindList(cboDevice_, d_.cboDevice, true);
    bindList(address, d_.cboASaddr);
    showTooltips();
    setTabOrder(cboPort_, cboDevice_);
    setTabOrder(cboDevice_, address);
    setTabOrder(address, ok);
    setTabOrder(ok, cancel);

    const int dpiX = logicalDpiX(), dpiY = logicalDpiY();
    resize(QSize(TwipsToPixels(ConfigDialog::kWidth, dpiX), TwipsToPixels(ConfigDialog::kHeight, dpiY))
               .expandedTo(sizeHint()));
    move(TwipsToPixels(d_.left, dpiX), TwipsToPixels(d_.top, dpiY));
}

void PropertiesView::showEvent(QShowEvent* event) {
    // Centred by the size the dialog really has, which grows past the design
    // with a larger font or more controls; by then its layout has settled.
    const double tpp = TwipsPerPixel(this);
    d_.centre(static_cast<int>(std::lround(width() * tpp)), static_cast<int>(std::lround(height() * tpp)));
    move(static_cast<int>(std::lround(d_.left / tpp)), static_cast<int>(std::lround(d_.top / tpp)));
    QDialog::showEvent(event);
}

void PropertiesView::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // A longer device name grows the dialog to its new least size: it grows
    // about its middle, so it stays centred where it was put. A size the
    // operator drags to is the operator's own, and moves nothing.
    const QSize old = event->oldSize();
    if (!isVisible() || !old.isValid()) return;
    const int dx = width() > old.width() && width() == minimumWidth() ? (width() - old.width()) / 2 : 0;
    const int dy = height() > old.height() && height() == minimumHeight() ? (height() - old.height()) / 2 : 0;
    if (dx != 0 || dy != 0) move(x() - dx, y() - dy);
}

void PropertiesView::bindList(QComboBox* view, ComboList& list, bool utf8) {
    bind_.watch(list, [this, view, &list, utf8] {
        const QSignalBlocker quiet(view);
        QStringList items;
        for (const std::string& item : list.items())
            items << (utf8 ? QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size())) : ToQ(item));
        // Compared whole: a device list keeps its length when one adapter
        // takes another's place.
        bool same = view->count() == items.size();
        for (int i = 0; same && i < view->count(); ++i) same = view->itemText(i) == items[i];
        if (!same) {
            view->clear();
            view->addItems(items);
        }
        view->setCurrentIndex(list.listIndex());
        // The port's note follows the device chosen for it.
        if ((view == cboPort_ && !same) || view == cboDevice_) showTooltips();
    });
    connect(view, &QComboBox::currentIndexChanged, this, [&list](int index) { list.setListIndex(index); });
}

void PropertiesView::showTooltips() {
    for (int i = 0; i < cboPort_->count(); ++i)
        cboPort_->setItemData(i, ToQ(d_.deviceNote(i)), Qt::ToolTipRole);
}

void PropertiesView::showModal() { exec(); }

void PropertiesView::hide() { done(QDialog::Accepted); }

void PropertiesView::reject() {
    d_.cmdCancel.click();
    if (isVisible()) QDialog::reject();
}

void InstallPropertiesView(FrmDervix& w, QWidget* parent) {
    QPointer<QWidget> owner(parent);
    w.config.setViewFactory([owner](ConfigDialog& d) -> std::unique_ptr<ModalView> {
        return std::make_unique<PropertiesView>(d, owner.data());
    });
}

}  // namespace dervix
