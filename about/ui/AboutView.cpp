#include "about/ui/AboutView.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>
#include <cmath>

#include "shell/FrmDervix.h"

namespace dervix {

QPixmap AboutValvePicture() {
    // The rotary valve from the front: stator, rotor and its sample loop.
    QPixmap picture(64, 64);
    picture.fill(Qt::transparent);  // the dialog's own background around it
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(200, 200, 210));
    p.drawEllipse(QPointF(32, 32), 28, 28);
    p.setBrush(QColor(0, 90, 160));
    p.drawEllipse(QPointF(32, 32), 16, 16);
    p.setPen(QPen(QColor(0, 200, 255), 3));
    p.drawArc(QRectF(20, 20, 24, 24), 30 * 16, 120 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 40, 40));
    for (int i = 0; i < 6; ++i) {
        const double angle = i * 3.14159265 / 3;
        p.drawEllipse(QPointF(32 + 22 * std::cos(angle), 32 + 22 * std::sin(angle)), 2.5, 2.5);
    }
    return picture;
}

QPixmap AboutFlowPicture() {
    // One stream in, two out: the split.
    QPixmap picture(96, 32);
    picture.fill(Qt::transparent);  // the dialog's own background around it
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 90, 160), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(4, 16, 44, 16);
    p.drawLine(44, 16, 92, 6);
    p.setPen(QPen(QColor(0, 200, 255), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(44, 16, 92, 28);
    return picture;
}

AboutView::AboutView(AboutBox& logic, QWidget* parent) : QDialog(parent), d_(logic) {
    setObjectName("frmAbout");
    setWindowTitle(ToQ(AboutBox::kCaption));
    setWindowModality(Qt::ApplicationModal);

    auto label = [this](const char* name, Label& control) {
        auto* view = new QLabel(this);
        view->setObjectName(name);
        bind_.label(view, control);
        return view;
    };
    auto button = [this](const char* name, Button& control) {
        auto* view = new QPushButton(this);
        view->setObjectName(name);
        view->setAutoDefault(false);
        bind_.button(view, control);
        return view;
    };

    auto* image2 = new QLabel(this);
    image2->setObjectName("Image2");
    image2->setPixmap(AboutValvePicture());
    auto* image3 = new QLabel(this);
    image3->setObjectName("Image3");
    image3->setPixmap(AboutFlowPicture());
    // Labels and buttons name themselves to a screen reader by their texts.
    image2->setAccessibleName(QStringLiteral("Rotary valve"));
    image3->setAccessibleName(QStringLiteral("Flow split"));
    QLabel* title = label("lblTitle", d_.lblTitle);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    title->setFont(big);

    auto* heading = new QVBoxLayout;
    heading->addWidget(title);
    heading->addWidget(label("lblVersion", d_.lblVersion));
    heading->addWidget(label("lblDescription", d_.lblDescription));
    auto* top = new QHBoxLayout;
    top->addWidget(image2, 0, Qt::AlignTop);
    top->addSpacing(8);
    top->addLayout(heading, 1);

    // Status, model and identity on one line.
    auto* identity = new QHBoxLayout;
    identity->addWidget(label("Label3", d_.Label3));
    identity->addWidget(label("lblStatus", d_.statusLabel()));
    identity->addSpacing(16);
    identity->addWidget(label("Label2", d_.Label2));
    identity->addWidget(label("lblModel", d_.modelLabel()));
    identity->addSpacing(16);
    identity->addWidget(label("Label1", d_.Label1));
    identity->addWidget(label("lblID", d_.idLabel()));
    identity->addStretch(1);

    auto* diagnostics = new QHBoxLayout;
    diagnostics->addStretch(1);
    diagnostics->addWidget(button("cmdHome", d_.cmdHome));
    diagnostics->addWidget(button("cmdTest", d_.cmdTest));
    diagnostics->addStretch(1);
    QPushButton* ok = button("cmdOK", d_.cmdOK);
    ok->setDefault(true);
    auto* closing = new QHBoxLayout;
    closing->addWidget(image3);
    closing->addStretch(1);
    closing->addWidget(ok);

    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addSpacing(8);
    all->addLayout(identity);
    all->addSpacing(8);
    all->addLayout(diagnostics);
    all->addLayout(closing);
    ok->setFocus();
}

void AboutView::showModal() { exec(); }

void AboutView::hide() { done(QDialog::Accepted); }

void AboutView::reject() {
    d_.cmdOK.click();
    if (isVisible()) QDialog::reject();
}

void InstallAboutView(FrmDervix& w, QWidget* parent) {
    QPointer<QWidget> owner(parent);
    w.about.setViewFactory([owner](AboutBox& d) -> std::unique_ptr<ModalView> {
        return std::make_unique<AboutView>(d, owner.data());
    });
}

}  // namespace dervix
