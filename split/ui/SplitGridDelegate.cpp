#include "split/ui/SplitGridDelegate.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QTableView>

namespace dervix {

SplitGridDelegate::SplitGridDelegate(QTableView* view) : QStyledItemDelegate(view), view_(view) {}

int SplitGridDelegate::markWidth(const QFontMetrics& metrics) { return metrics.height(); }

bool SplitGridDelegate::firstShownColumn(int column) const {
    for (int c = 0; c < column; ++c)
        if (!view_->isColumnHidden(c)) return false;
    return true;
}

bool SplitGridDelegate::lastShownColumn(int column) const {
    const int count = view_->model() ? view_->model()->columnCount() : 0;
    for (int c = column + 1; c < count; ++c)
        if (!view_->isColumnHidden(c)) return false;
    return true;
}

void SplitGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const bool selected = opt.state & QStyle::State_Selected;
    opt.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
    const bool marked = index.data(kRecommendedRole).toBool();
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();

    painter->save();
    painter->fillRect(opt.rect, opt.backgroundBrush);
    QStyleOptionViewItem textOpt = opt;
    const int gutter = index.column() == kMarkColumn ? markWidth(view_->fontMetrics()) : 0;
    textOpt.rect.setLeft(opt.rect.left() + gutter);
    style->drawControl(QStyle::CE_ItemViewItem, &textOpt, painter, widget);

    if (marked && index.column() == kMarkColumn) {
        const QRectF box(opt.rect.left() + 2, opt.rect.center().y() - gutter / 2.0 + 2, gutter - 4, gutter - 4);
        QPainterPath check;
        check.moveTo(box.left(), box.top() + box.height() * 0.55);
        check.lineTo(box.left() + box.width() * 0.4, box.bottom());
        check.lineTo(box.right(), box.top());
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(opt.palette.color(QPalette::Text), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter->drawPath(check);
    }
    if (selected) {
        const QColor frame = opt.palette.color(QPalette::Active, QPalette::Highlight).darker(140);
        const QRect r = opt.rect;
        constexpr int kFrame = 2;
        painter->fillRect(QRect(r.left(), r.top(), r.width(), kFrame), frame);
        painter->fillRect(QRect(r.left(), r.bottom() - kFrame + 1, r.width(), kFrame), frame);
        if (firstShownColumn(index.column())) painter->fillRect(QRect(r.left(), r.top(), kFrame, r.height()), frame);
        if (lastShownColumn(index.column()))
            painter->fillRect(QRect(r.right() - kFrame + 1, r.top(), kFrame, r.height()), frame);
    }
    painter->restore();
}

QSize SplitGridDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (index.column() == kMarkColumn) size.rwidth() += markWidth(view_->fontMetrics());
    return size;
}

}  // namespace dervix
