#pragma once
#include <QTableWidget>

namespace dervix {

class FrmDervix;
class SplitGrid;

// The split grid on screen, bound to FrmDervix::vaSplit. The logic's texts
// are shown unchanged; the operator picks a row by double-clicking it or by
// pressing Enter or Return on it.
class SplitGridWidget : public QTableWidget {
    Q_OBJECT
public:
    SplitGridWidget(FrmDervix& w, QWidget* parent = nullptr);
    ~SplitGridWidget() override;

    // Pixels of one column-width unit: the width of a digit in bold, since
    // the grid shows figures and a recommended row is drawn bold.
    int characterWidth() const;
    // A column's width on screen. The ratio column also keeps room for the
    // check mark, and is never too narrow for the longest ratio: a figure
    // cut short would mislead the operator.
    int columnPixels(int col) const;
    // The size that shows the grid's visible columns and rows, scroll bar included.
    QSize visibleAreaSize() const;
    QSize sizeHint() const override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void catchUpLayout() const;
    void refreshLayout();
    void refreshCells();
    void operatorMoved(int row, int column);

    FrmDervix& w_;
    SplitGrid& grid_;
    bool refreshing_ = false;
    // Changed while hidden: the whole view is brought up to date when shown,
    // its layout already when it is measured.
    bool stale_ = false;
    mutable bool layoutStale_ = false;
    unsigned shownMoves_ = 0;
    bool scrollOnShow_ = false;
};

}  // namespace dervix
