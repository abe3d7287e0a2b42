#pragma once
// The main window's visible form, bound to its logic in FrmDervix.
#include <QMainWindow>
#include <utility>
#include <vector>

#include "shell/FrmDervix.h"
#include "shell/ui/Binding.h"

class QAction;
class QFrame;
class QPushButton;
class QLineEdit;
class QWidget;

namespace dervix {
class SplitGridWidget;
}

namespace dervix {

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(FrmDervix& w, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Places and sizes the window as start-up left it in w.form.
    void applyStartupGeometry();
    // The fourth top-level menu item, which carries the maintenance badge.
    QAction* badgeItem() const { return mnuKelm_; }
    // Stores where the window is, as closing it would, and nothing else.
    void savePlace();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void buildMenu();
    void buildControls();
    double fontScale() const;
    QRect Place(int left, int top, int width, int height) const;
    void layoutControls();
    void layoutBelowGrid();
    // The window's size once cut to heightTwips, its controls laid out.
    QSize startupSize(int heightTwips);
    // Pulls the window back again once its frame is known and counted.
    void keepFramedOnScreen();
    // Pulls the window from w.form's place back onto the screen by its size
    // now, and moves it there.
    void pullBackOnScreen();
    // The window's place into w.form, where the desktop tells it.
    void recordPlace();

    FrmDervix& w_;
    WidgetBinding bind_;
    double scale_ = 1.0;  // the layout grows with a font larger than the design's
    bool sized_ = false;  // sized by start-up, and by every font change after it
    bool framePending_ = false;  // placed by start-up, its frame not yet counted
    // Controls above and below the grid, with their place in the design (twips).
    std::vector<std::pair<QWidget*, QRect>> aboveGrid_;
    std::vector<std::pair<QWidget*, QRect>> belowGrid_;
    QAction* mnuKelm_ = nullptr;
    QFrame* line1_ = nullptr;
    QPushButton* setSplit_ = nullptr;
    QPushButton* cmdStart_ = nullptr;
    SplitGridWidget* grid_ = nullptr;
};

}  // namespace dervix
