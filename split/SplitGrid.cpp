#include "split/SplitGrid.h"

#include <stdexcept>

namespace dervix {

namespace {
[[noreturn]] void OutOfGrid(const char* what, int value) {
    throw std::out_of_range(std::string("split grid: ") + what + " " + std::to_string(value) + " out of range");
}
}  // namespace

void SplitGrid::changed() {
    if (redraw_) notify();
}

void SplitGrid::setRedraw(bool on) {
    const bool wasOff = !redraw_;
    redraw_ = on;
    if (on && wasOff) notify();
}

void SplitGrid::setDimensions(int columns, int rows) {
    if (columns < 0) OutOfGrid("column count", columns);
    if (rows < 0) OutOfGrid("row count", rows);
    columns_ = columns;
    rows_ = rows;
    cells_.assign(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows + 1), std::string());
    columnInfo_.assign(static_cast<std::size_t>(columns), Column{});
    rowInfo_.assign(static_cast<std::size_t>(rows), Row{});
    if (activeRow_ > rows_) activeRow_ = rows_ > 0 ? 1 : 0;
    if (activeCol_ > columns_) activeCol_ = columns_ > 0 ? 1 : 0;
    changed();
}

const SplitGrid::Column& SplitGrid::columnInfo(int col) const {
    if (col < 1 || col > columns_) OutOfGrid("column", col);
    return columnInfo_[static_cast<std::size_t>(col - 1)];
}

void SplitGrid::setColumnWidth(int col, double width) {
    columnInfo(col);
    columnInfo_[static_cast<std::size_t>(col - 1)].width = width;
    changed();
}

void SplitGrid::setColumnHidden(int col, bool hidden) {
    columnInfo(col);
    columnInfo_[static_cast<std::size_t>(col - 1)].hidden = hidden;
    changed();
}

void SplitGrid::setVisibleSize(int columns, int rows) {
    visibleColumns_ = columns;
    visibleRows_ = rows;
    changed();
}

std::size_t SplitGrid::cellIndex(int col, int row) const {
    if (col < 1 || col > columns_) OutOfGrid("column", col);
    if (row < 0 || row > rows_) OutOfGrid("row", row);
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) + static_cast<std::size_t>(col - 1);
}

void SplitGrid::setText(int col, int row, std::string text) {
    cells_[cellIndex(col, row)] = std::move(text);
    changed();
}

const std::string& SplitGrid::text(int col, int row) const { return cells_[cellIndex(col, row)]; }

void SplitGrid::checkDataRow(int row) const {
    if (row < 1 || row > rows_) OutOfGrid("row", row);
}

SplitGrid::Row& SplitGrid::rowInfo(int row) {
    checkDataRow(row);
    return rowInfo_[static_cast<std::size_t>(row - 1)];
}

const SplitGrid::Row& SplitGrid::rowInfo(int row) const {
    checkDataRow(row);
    return rowInfo_[static_cast<std::size_t>(row - 1)];
}

void SplitGrid::setBackColor(int row, Rgb colour) {
    if (row == kAll) {
        for (Row& r : rowInfo_) r.colour = colour;
    } else {
        rowInfo(row).colour = colour;
    }
    changed();
}

Rgb SplitGrid::backColor(int row) const { return rowInfo(row).colour; }

void SplitGrid::setRecommended(int row, bool marked) {
    if (row == kAll) {
        for (Row& r : rowInfo_) r.recommended = marked;
    } else {
        rowInfo(row).recommended = marked;
    }
    changed();
}

bool SplitGrid::recommended(int row) const { return rowInfo(row).recommended; }

void SplitGrid::setActiveCell(int col, int row) {
    columnInfo(col);
    checkDataRow(row);
    activeCol_ = col;
    activeRow_ = row;
    ++activeCellMoves_;
    changed();
}

void SplitGrid::operatorSelects(int col, int row) {
    columnInfo(col);
    checkDataRow(row);
    activeCol_ = col;
    activeRow_ = row;
    changed();
}

}  // namespace dervix
