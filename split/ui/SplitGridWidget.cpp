#include "split/ui/SplitGridWidget.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QScopedValueRollback>
#include <algorithm>
#include <cmath>

#include "shell/FrmDervix.h"
#include "split/ui/SplitGridDelegate.h"

namespace dervix {

namespace {
Qt::Alignment ToQt(HAlign alignment) {
    switch (alignment) {
    case HAlign::Right: return Qt::AlignRight | Qt::AlignVCenter;
    case HAlign::Center: return Qt::AlignHCenter | Qt::AlignVCenter;
    case HAlign::Left: break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}
}  // namespace

SplitGridWidget::SplitGridWidget(FrmDervix& w, QWidget* parent) : QTableWidget(parent), w_(w), grid_(w.vaSplit) {
    setObjectName(QStringLiteral("vaSplit"));
    setAccessibleName(QStringLiteral("Split ratios"));
    setItemDelegate(new SplitGridDelegate(this));
    setWordWrap(false);
    setCornerButtonEnabled(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // Columns are as wide as columnPixels says, which the grid's size counts
    // on. The header's own minimum is the widest glyph of its font; in some
    // fonts that is wider than a narrow column, which the header would then
    // widen past the grid's edge.
    horizontalHeader()->setMinimumSectionSize(0);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    connect(this, &QTableWidget::currentCellChanged, this,
            [this](int row, int column, int, int) { operatorMoved(row, column); });
    connect(this, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int column) { grid_.pick(column + 1, row + 1); });
    grid_.setObserver([this] {
        // Start-up changes the table several times before the window is
        // shown; a hidden grid catches up once, when it is shown or measured.
        if (isVisible()) refresh();
        else stale_ = layoutStale_ = true;
    });
    shownMoves_ = grid_.activeCellMoves() - 1;  // show the first active cell
    refresh();
}

SplitGridWidget::~SplitGridWidget() { grid_.setObserver(nullptr); }

int SplitGridWidget::characterWidth() const {
    QFont bold = font();
    bold.setBold(true);
    return QFontMetrics(bold).horizontalAdvance(QLatin1Char('0'));
}

int SplitGridWidget::columnPixels(int col) const {
    // Text margins on both sides, and the grid line that takes a pixel off the cell.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int extra = 2 * margin + (showGrid() ? 1 : 0);
    int content = static_cast<int>(std::ceil(grid_.columnWidth(col) * characterWidth()));
    int pixels = content + extra;
    if (col - 1 == SplitGridDelegate::kMarkColumn) {
        QFont bold = font();
        bold.setBold(true);
        const QString widest = QString::fromLatin1(w_.split.WidestRatioText());
        content = std::max(content, static_cast<int>(std::ceil(QFontMetricsF(bold).horizontalAdvance(widest))));
        pixels = content + extra + SplitGridDelegate::markWidth(fontMetrics());
    }
    // A heading wider than its figures (in a font whose letters are wide
    // beside its digits) widens its column rather than being cut off.
    const QHeaderView* header = horizontalHeader();
    const int heading = static_cast<int>(std::ceil(
        QFontMetricsF(header->font()).horizontalAdvance(QString::fromLatin1(grid_.text(col, 0)))));
    return std::max(pixels, heading + 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header));
}

void SplitGridWidget::catchUpLayout() const {
    // The size queries, which start-up makes before the window is shown,
    // need the columns and rows but not the cells. They are made on a const
    // widget: bringing the view up to date changes what it shows, not what it is.
    if (layoutStale_ && grid_.redraw()) {
        layoutStale_ = false;
        const_cast<SplitGridWidget*>(this)->refreshLayout();
    }
}

void SplitGridWidget::showEvent(QShowEvent* event) {
    if (stale_) refresh();
    QTableWidget::showEvent(event);
    // Now the grid has its real height to scroll by.
    if (scrollOnShow_ && currentItem()) scrollToItem(currentItem());
    scrollOnShow_ = false;
}

void SplitGridWidget::refresh() {
    // While redraw is off the logic is halfway through a change.
    if (!grid_.redraw()) return;
    stale_ = layoutStale_ = false;
    QScopedValueRollback guard(refreshing_, true);
    refreshLayout();
    refreshCells();
    if (grid_.rows() > 0 && grid_.columns() > 0) {
        const int row = grid_.activeRow() - 1;
        const int column = grid_.activeCol() - 1;
        if (currentRow() != row || currentColumn() != column) setCurrentCell(row, column);
        // Only the program's own moves scroll; the operator's scrolling stays.
        // A grid not on the screen yet has no real height to scroll by (it
        // would put the chosen row at the top): the scroll waits until it is
        // shown, so a first start shows rows 1 to 5 when the row is among them.
        if (grid_.activeCellMoves() != shownMoves_) {
            shownMoves_ = grid_.activeCellMoves();
            if (isVisible()) {
                scrollToItem(item(row, column));
            } else {
                scrollOnShow_ = true;
            }
        }
    }
    if (grid_.autoSize()) setFixedSize(visibleAreaSize());
    updateGeometry();
}

void SplitGridWidget::refreshLayout() {
    // Spreadsheet rows rather than the roomy default of the style.
    const int rowHeight = fontMetrics().height() + 6;
    verticalHeader()->setMinimumSectionSize(rowHeight);
    verticalHeader()->setDefaultSectionSize(rowHeight);
    const int columns = grid_.columns();
    if (columnCount() != columns) setColumnCount(columns);
    if (rowCount() != grid_.rows()) setRowCount(grid_.rows());
    for (int c = 1; c <= columns; ++c) {
        QTableWidgetItem* heading = horizontalHeaderItem(c - 1);
        if (!heading) {
            heading = new QTableWidgetItem;
            setHorizontalHeaderItem(c - 1, heading);
        }
        heading->setText(QString::fromLatin1(grid_.text(c, 0)));
        setColumnWidth(c - 1, columnPixels(c));
        setColumnHidden(c - 1, grid_.columnHidden(c));
    }
    verticalHeader()->setVisible(grid_.rowHeadersShown());
    const ScrollBars bars = grid_.scrollBars();
    const bool vertical = bars == ScrollBars::Vertical || bars == ScrollBars::Both;
    const bool horizontal = bars == ScrollBars::Horizontal || bars == ScrollBars::Both;
    setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    if (grid_.selectionMode() == dervix::SelectionMode::SingleRow) {
        setSelectionBehavior(QAbstractItemView::SelectRows);
        setSelectionMode(QAbstractItemView::SingleSelection);
    } else {
        setSelectionBehavior(QAbstractItemView::SelectItems);
        setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
    setEditTriggers(grid_.staticText() ? QAbstractItemView::NoEditTriggers
                                       : QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
}

void SplitGridWidget::refreshCells() {
    const Qt::ItemFlags flags = grid_.staticText()
                                    ? Qt::ItemIsEnabled | Qt::ItemIsSelectable
                                    : Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
    const Qt::Alignment alignment = ToQt(grid_.alignment());
    QFont plain = font();
    QFont bold = plain;
    bold.setBold(true);
    for (int r = 1; r <= grid_.rows(); ++r) {
        const Rgb colour = grid_.backColor(r);
        const QBrush background(QColor(colour.red, colour.green, colour.blue));
        const bool marked = grid_.recommended(r);
        for (int c = 1; c <= grid_.columns(); ++c) {
            QTableWidgetItem* cell = item(r - 1, c - 1);
            if (!cell) {
                cell = new QTableWidgetItem;
                setItem(r - 1, c - 1, cell);
            }
            const QString text = QString::fromLatin1(grid_.text(c, r));
            if (cell->text() != text) cell->setText(text);
            if (cell->flags() != flags) cell->setFlags(flags);
            if (cell->textAlignment() != int(alignment)) cell->setTextAlignment(alignment);
            if (cell->background() != background) cell->setBackground(background);
            if (cell->foreground() != QBrush(Qt::black)) cell->setForeground(QBrush(Qt::black));
            if (cell->data(SplitGridDelegate::kRecommendedRole).toBool() != marked)
                cell->setData(SplitGridDelegate::kRecommendedRole, marked);
            // Against the font itself, not the mark: after a font change a
            // cell whose mark stayed would keep the old font.
            const QFont& wanted = marked ? bold : plain;
            if (cell->font() != wanted) cell->setFont(wanted);
        }
    }
}

void SplitGridWidget::operatorMoved(int row, int column) {
    if (refreshing_ || row < 0 || column < 0) return;
    grid_.operatorSelects(column + 1, row + 1);
}

QSize SplitGridWidget::visibleAreaSize() const {
    catchUpLayout();
    int width = 2 * frameWidth();
    int shown = 0;
    for (int c = 1; c <= grid_.columns() && shown < grid_.visibleColumns(); ++c) {
        if (grid_.columnHidden(c)) continue;
        width += columnPixels(c);
        ++shown;
    }
    if (verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
        width += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    if (verticalHeader()->isVisibleTo(this)) width += verticalHeader()->sizeHint().width();
    int height = 2 * frameWidth() + horizontalHeader()->sizeHint().height() +
                 grid_.visibleRows() * verticalHeader()->defaultSectionSize();
    if (horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn)
        height += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    return {width, height};
}

QSize SplitGridWidget::sizeHint() const {
    catchUpLayout();
    return grid_.autoSize() ? visibleAreaSize() : QTableWidget::sizeHint();
}

void SplitGridWidget::changeEvent(QEvent* event) {
    QTableWidget::changeEvent(event);
    // Widths count characters, so a new font or style resizes the grid.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) refresh();
}

void SplitGridWidget::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // The keypad's Enter comes with the keypad modifier; it is still a bare Enter.
    const bool bare = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (enter && bare && currentRow() >= 0) {
        event->accept();
        grid_.pick(grid_.activeCol(), grid_.activeRow());
        return;
    }
    QTableWidget::keyPressEvent(event);
}

}  // namespace dervix
