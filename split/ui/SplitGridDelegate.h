#pragma once
#include <QStyledItemDelegate>

class QTableView;

namespace dervix {

// Draws the split grid's cells so the operator sees at a glance which row is
// applied (its colour), which ratios are recommended (a check mark before the
// ratio and bold text, not colour alone) and which row is selected (a frame,
// so the selection never hides the applied row's colour).
class SplitGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // Item data role that is true on the cells of a recommended row.
    static constexpr int kRecommendedRole = Qt::UserRole + 1;
    // The column that carries the check mark.
    static constexpr int kMarkColumn = 0;

    explicit SplitGridDelegate(QTableView* view);

    // Width of the room kept for the check mark in front of the ratio.
    static int markWidth(const QFontMetrics& metrics);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    bool firstShownColumn(int column) const;
    bool lastShownColumn(int column) const;

    QTableView* view_;
};

}  // namespace dervix
