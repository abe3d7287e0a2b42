#include "app/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <cmath>

#include "platform/qt/QtDesktop.h"
#include "shell/ui/Binding.h"
#include "split/ui/FlowRateField.h"
#include "split/ui/SplitGridWidget.h"

namespace dervix {

MainWindow::MainWindow(FrmDervix& w, QWidget* parent) : QMainWindow(parent), w_(w) {
    setWindowTitle(QString::fromLatin1(FrmDervix::kCaption));
    setObjectName("frmDervix");
    scale_ = fontScale();
    buildMenu();
    buildControls();
    // Start-up keeps the window on the screen by the size it will have once
    // cut below the buttons, with the frame the window manager puts round it
    // (known only once the window is shown; none before); rounded up, so a
    // window placed at the far edge ends there rather than a pixel beyond it.
    w_.setSizeSource([this] {
        const double tpp = TwipsPerPixel(this);
        const QSize size = startupSize(FrmDervix::kCutHeight) + frameGeometry().size() - geometry().size();
        return Geometry{0, 0, static_cast<int>(std::ceil(size.width() * tpp)),
                        static_cast<int>(std::ceil(size.height() * tpp))};
    });
}

MainWindow::~MainWindow() { w_.setSizeSource(nullptr); }

double MainWindow::fontScale() const {
    // The design's font had 13-pixel lines; a larger desktop font gets room.
    return std::max(1.0, fontMetrics().height() / 13.0);
}

QRect MainWindow::Place(int left, int top, int width, int height) const {
    const double f = scale_ / TwipsPerPixel(this);
    return QRect(static_cast<int>(std::lround(left * f)), static_cast<int>(std::lround(top * f)),
                 static_cast<int>(std::lround(width * f)), static_cast<int>(std::lround(height * f)));
}

void MainWindow::buildMenu() {
    // A global-menu desktop would move the bar, and the badge with it.
    menuBar()->setNativeMenuBar(false);
    QMenu* mnuEdit = menuBar()->addMenu(QStringLiteral("&Edit"));
    mnuEdit->setObjectName("mnuEdit");
    // An open menu is named to a screen reader by its own name, not its title.
    mnuEdit->setAccessibleName(QStringLiteral("Edit"));
    QAction* mnuCfg = mnuEdit->addAction(QStringLiteral("&Configuration"));
    mnuCfg->setObjectName("mnuCfg");
    connect(mnuCfg, &QAction::triggered, this, [this] { w_.mnuCfg_Click(); });
    QAction* mnuQuit = mnuEdit->addAction(QStringLiteral("E&xit"));
    mnuQuit->setObjectName("mnuQuit");
    connect(mnuQuit, &QAction::triggered, this, [this] { w_.mnuQuit_Click(); });

    QMenu* mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelp->setObjectName("mnuHelp");
    mnuHelp->setAccessibleName(QStringLiteral("Help"));
    QAction* mnuAbout = mnuHelp->addAction(QStringLiteral("&About"));
    mnuAbout->setObjectName("mnuAbout");
    connect(mnuAbout, &QAction::triggered, this, [this] { w_.mnuAbout_Click(); });

    QAction* mnuDummy0 = menuBar()->addAction(QString());
    mnuDummy0->setObjectName("mnuDummy0");
    mnuDummy0->setEnabled(false);

    mnuKelm_ = menuBar()->addAction(QStringLiteral("Kelm"));
    mnuKelm_->setObjectName("mnuKelm");
    connect(mnuKelm_, &QAction::triggered, this, [this] { w_.mnuKelm_Click(); });
}

void MainWindow::buildControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);

    auto* label3 = new QLabel(central);
    label3->setObjectName("Label3");
    aboveGrid_.push_back({label3, QRect(150, 120, 945, 225)});
    bind_.label(label3, w_.Label3);

    auto* flow = new FlowRateField(w_, central);
    aboveGrid_.push_back({flow, QRect(1200, 120, 615, 285)});
    label3->setBuddy(flow);
    // A screen reader names each control by the label an operator reads next
    // to it; labels and buttons name themselves by their captions.
    flow->setAccessibleName(ToQ(w_.Label3.caption()));

    auto* label5 = new QLabel(central);
    label5->setObjectName("Label5");
    aboveGrid_.push_back({label5, QRect(1920, 120, 705, 225)});
    bind_.label(label5, w_.Label5);

    // The grid sizes itself to three columns by five rows.
    grid_ = new SplitGridWidget(w_, central);

    auto below = [this](QWidget* widget, int left, int top, int width, int height) {
        belowGrid_.push_back({widget, QRect(left, top, width, height)});
    };

    line1_ = new QFrame(central);
    line1_->setObjectName("Line1");
    line1_->setFrameShape(QFrame::HLine);
    line1_->setAccessibleName(QStringLiteral("Separator"));
    below(line1_, 240, 1965, 2355, 30);

    setSplit_ = new QPushButton(central);
    setSplit_->setObjectName("cmdSetSplit");
    below(setSplit_, 240, 2040, 915, 315);
    bind_.button(setSplit_, w_.cmdSetSplit);

    cmdStart_ = new QPushButton(central);
    cmdStart_->setObjectName("cmdStart");
    below(cmdStart_, 1680, 2040, 915, 315);
    bind_.button(cmdStart_, w_.cmdStart);

    // The command path's two slots lie below the buttons, cut off by the
    // window's height: present, as other programs read them, but not shown.
    auto* resp = new QLineEdit(central);
    resp->setObjectName("DervixResp");
    resp->setReadOnly(true);
    below(resp, 120, 3060, 2355, 285);
    bind_.text(resp, w_.DervixResp);
    auto* cmd = new QLineEdit(central);
    cmd->setObjectName("txtDVXScmd");
    cmd->setReadOnly(true);
    below(cmd, 120, 3480, 2355, 315);
    bind_.text(cmd, w_.txtDVXScmd);
    resp->setFocusPolicy(Qt::NoFocus);
    cmd->setFocusPolicy(Qt::NoFocus);
    resp->setAccessibleName(QStringLiteral("Module response"));
    cmd->setAccessibleName(QStringLiteral("Command request"));
    layoutControls();
}

void MainWindow::layoutControls() {
    // The row above the grid keeps the design's places, but a caption that
    // needs more room in the desktop's font (a wide one: Wine's, say) gets
    // it, and what follows it moves right: a caption is never cut.
    int nextLeft = 0;
    for (const auto& [widget, design] : aboveGrid_) {
        QRect placed = Place(design.x(), design.y(), design.width(), design.height());
        if (qobject_cast<QLabel*>(widget)) placed.setWidth(std::max(placed.width(), widget->sizeHint().width()));
        placed.moveLeft(std::max(placed.left(), nextLeft));
        widget->setGeometry(placed);
        nextLeft = placed.left() + placed.width() + Place(0, 0, 105, 0).width();
    }
    grid_->move(Place(240, 480, 0, 0).topLeft());
    layoutBelowGrid();
}

void MainWindow::layoutBelowGrid() {
    // The grid sizes itself to its rows once it is laid out; what lies below
    // it keeps the design's distance from it, whatever the desktop's font.
    const QSize grid = grid_->sizeHint();
    const int gridBottom = grid_->y() + grid.height();
    const int shift = gridBottom + Place(0, 0, 0, 105).height() - Place(0, 2040, 0, 0).y();
    for (const auto& [widget, design] : belowGrid_)
        widget->setGeometry(Place(design.x(), design.y(), design.width(), design.height()).translated(0, shift));
    // The separator and the buttons span the grid as it really is: Set under
    // its left edge, Start ending under its right one.
    const int left = grid_->x(), right = grid_->x() + grid.width();
    line1_->setGeometry(left, line1_->y(), right - left, line1_->height());
    for (QPushButton* button : {setSplit_, cmdStart_}) {
        const int height = std::max(button->height(), button->sizeHint().height());
        button->resize(std::max(button->width(), button->sizeHint().width()), height);
    }
    setSplit_->move(left, setSplit_->y());
    cmdStart_->move(std::max(right - cmdStart_->width(), setSplit_->geometry().right() + 7), cmdStart_->y());
}

QSize MainWindow::startupSize(int heightTwips) {
    layoutBelowGrid();
    const QRect start = cmdStart_->geometry();
    const int width = std::max({Place(0, 0, FrmDervix::kDesignWidth - 120, 0).width(), start.right() + 12,
                                grid_->x() + grid_->sizeHint().width() + 12,
                                aboveGrid_.back().first->geometry().right() + 12});
    // A little below the Start button, as the logic's height asks.
    const int below = Place(0, 0, 0, heightTwips - 2040 - 315 - 390).height();
    return {width, menuBar()->sizeHint().height() + start.bottom() + std::max(below, 8)};
}

void MainWindow::applyStartupGeometry() {
    const double tpp = TwipsPerPixel(this);
    setFixedSize(startupSize(w_.form.height));
    sized_ = true;
    framePending_ = true;
    move(static_cast<int>(std::lround(w_.form.left / tpp)), static_cast<int>(std::lround(w_.form.top / tpp)));
}

void MainWindow::keepFramedOnScreen() {
    // Once, when the frame first shows: later moves are the operator's own.
    if (!framePending_ || frameGeometry().size() == size()) return;
    framePending_ = false;
    pullBackOnScreen();
}

void MainWindow::pullBackOnScreen() {
    const Geometry placed = w_.form;
    w_.KeepOnScreen();
    if (w_.form.left == placed.left && w_.form.top == placed.top) return;
    const double tpp = TwipsPerPixel(this);
    move(static_cast<int>(std::lround(w_.form.left / tpp)), static_cast<int>(std::lround(w_.form.top / tpp)));
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // A desktop hands a running program its new font: the window is laid out
    // and sized for it as start-up would have, where it stands. The controls
    // have their new font by now; the grid has already resized itself.
    if (event->type() != QEvent::FontChange) return;
    scale_ = fontScale();
    layoutControls();
    if (!sized_) return;
    setFixedSize(startupSize(w_.form.height));
    // Grown where it stands, it may now run past the screen's far edges: it
    // is pulled back as start-up pulls it (until its frame is first counted,
    // that first pull does it at the new size). A native Wayland window is
    // never told where it stands, and there is nothing to pull back.
    if (framePending_ || QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return;
    recordPlace();
    pullBackOnScreen();
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    keepFramedOnScreen();
}

void MainWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    // A window manager frames the window after it is shown, moving it as it does.
    keepFramedOnScreen();
}

void MainWindow::recordPlace() {
    // A native Wayland window is never told where it is: Qt 6.8 reports its
    // frame margins as a position (-3, -30), which must not replace the
    // operator's stored one.
    w_.positionKnown = !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    const double tpp = TwipsPerPixel(this);
    w_.form.left = static_cast<int>(std::lround(pos().x() * tpp));
    w_.form.top = static_cast<int>(std::lround(pos().y() * tpp));
}

void MainWindow::savePlace() {
    recordPlace();
    w_.SavePosition();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    recordPlace();
    w_.Form_Unload();
    event->accept();
    w_.endProgram();
}

}  // namespace dervix
