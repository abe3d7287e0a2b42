#pragma once
// The split grid as the logic sees it: a plain state object the logic writes
// and one widget shows. Columns count from 1; row 0 holds the headings and
// the data rows count from 1.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shell/Controls.h"

namespace dervix {

struct Rgb {
    std::uint8_t red = 255, green = 255, blue = 255;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kPureGreen{0, 255, 0};

enum class ScrollBars { None, Horizontal, Vertical, Both };
enum class SelectionMode { Cells, SingleRow };
enum class HAlign { Left, Right, Center };

class SplitGrid : public Observable {
public:
    static constexpr int kAll = -1;

    // Off before a bulk change; switching it back on shows the result once.
    void setRedraw(bool on);
    bool redraw() const { return redraw_; }

    // Columns and data rows; every cell starts empty and white.
    void setDimensions(int columns, int rows);
    int columns() const { return columns_; }
    int rows() const { return rows_; }

    // Widths count characters of the grid's font.
    void setColumnWidth(int col, double width);
    double columnWidth(int col) const { return columnInfo(col).width; }
    // A hidden column keeps its texts for the logic to read.
    void setColumnHidden(int col, bool hidden);
    bool columnHidden(int col) const { return columnInfo(col).hidden; }

    void setRowHeadersShown(bool shown) { update(rowHeadersShown_, shown); }
    bool rowHeadersShown() const { return rowHeadersShown_; }
    void setScrollBars(ScrollBars bars) { update(scrollBars_, bars); }
    ScrollBars scrollBars() const { return scrollBars_; }
    void setSelectionMode(SelectionMode mode) { update(selectionMode_, mode); }
    SelectionMode selectionMode() const { return selectionMode_; }
    // Static cells show text the operator cannot edit.
    void setStaticText(bool on) { update(staticText_, on); }
    bool staticText() const { return staticText_; }
    void setAlignment(HAlign alignment) { update(alignment_, alignment); }
    HAlign alignment() const { return alignment_; }

    // The area shown at once; with autoSize the control takes exactly that size.
    void setVisibleSize(int columns, int rows);
    int visibleColumns() const { return visibleColumns_; }
    int visibleRows() const { return visibleRows_; }
    void setAutoSize(bool on) { update(autoSize_, on); }
    bool autoSize() const { return autoSize_; }

    void setText(int col, int row, std::string text);
    const std::string& text(int col, int row) const;

    // Row kAll sets every data row.
    void setBackColor(int row, Rgb colour);
    Rgb backColor(int row) const;
    void setRecommended(int row, bool marked);
    bool recommended(int row) const;

    // The program's choice of active cell; the widget brings it into view.
    void setActiveCell(int col, int row);
    // The operator moved the selection; the view is already where he wants it.
    void operatorSelects(int col, int row);
    int activeCol() const { return activeCol_; }
    int activeRow() const { return activeRow_; }
    // Grows with every setActiveCell, so a widget can tell a move by the
    // program from a refresh for other reasons.
    unsigned activeCellMoves() const { return activeCellMoves_; }

    // The operator's gesture that picks a row; the handler gets column and row.
    void setPickHandler(std::function<void(int, int)> handler) { pick_ = std::move(handler); }
    void pick(int col, int row) {
        if (pick_) pick_(col, row);
    }

private:
    struct Column {
        double width = 8;
        bool hidden = false;
    };
    struct Row {
        Rgb colour = kWhite;
        bool recommended = false;
    };

    template <typename T>
    void update(T& field, const T& value) {
        field = value;
        changed();
    }
    void changed();
    const Column& columnInfo(int col) const;
    Row& rowInfo(int row);
    const Row& rowInfo(int row) const;
    std::size_t cellIndex(int col, int row) const;
    void checkDataRow(int row) const;

    int columns_ = 0;
    int rows_ = 0;
    std::vector<std::string> cells_;  // (rows_ + 1) x columns_, heading row first
    std::vector<Column> columnInfo_;
    std::vector<Row> rowInfo_;        // data rows only
    bool redraw_ = true;
    bool rowHeadersShown_ = true;
    ScrollBars scrollBars_ = ScrollBars::Both;
    SelectionMode selectionMode_ = SelectionMode::Cells;
    bool staticText_ = false;
    HAlign alignment_ = HAlign::Left;
    int visibleColumns_ = 0;
    int visibleRows_ = 0;
    bool autoSize_ = false;
    int activeCol_ = 1;
    int activeRow_ = 1;
    unsigned activeCellMoves_ = 0;
    std::function<void(int, int)> pick_;
};

}  // namespace dervix
