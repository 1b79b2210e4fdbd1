// The page list of the scanning utility: a grid of text cells addressed by
// row and column index (from 0), with a current cell that the program moves
// and reads, a colour marking per cell, column widths in twips (1/1440 inch),
// and click / key-press signals. It holds only texts and markings, so a list
// of many thousand pages stays small.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>

class QTableWidget;
class QTableWidgetItem;

namespace orvo::widgets {

class PageList : public QWidget {
    Q_OBJECT

  public:
    explicit PageList(QWidget* parent = nullptr);

    int rows() const;
    // Adds empty rows at the end or drops rows from the end (a current row
    // beyond the new end moves to the last row).
    void setRows(int rows);
    int cols() const;
    void setCols(int cols);

    // The current cell. Indices outside the grid are ignored.
    int row() const { return row_; }
    void setRow(int row);
    int col() const { return col_; }
    void setCol(int col);

    // Text of the current cell ("" outside the grid).
    QString text() const;
    void setText(const QString& text);
    QString cellText(int row, int col) const;

    // Marking of the current cell as a colour value 0x00BBGGRR; 0 is the
    // normal cell colour, 0xFFFF yellow (a MICR record with read errors),
    // 0x9999FF light red (a page with image defects).
    void setCellMarking(uint32_t colour);
    uint32_t cellMarking() const;
    uint32_t cellMarkingAt(int row, int col) const;
    static constexpr uint32_t kMarkedYellow = 0xFFFF;
    static constexpr uint32_t kMarkedDefect = 0x9999FF;

    // Scrolls so that `row` is the first visible row (as far as it can).
    void setTopRow(int row);
    // False holds back repainting until it is set true again.
    void setRedraw(bool redraw);
    // When the current cell is highlighted: 0 never, 1 always, 2 while the
    // list has the focus.
    void setHighlight(int mode);

    void setColumnWidthTwips(int col, int twips);
    int columnWidthTwips(int col) const;

    // Removes one row; the current cell stays on the same index where it can.
    void removeRow(int row);
    // Empties every cell (texts and markings); rows and columns stay.
    void clearCells();
    void refresh();

    QTableWidget* table() const { return table_; }

  signals:
    // The operator clicked a cell; it is the current cell by then.
    void clicked();
    // The operator moved the current cell with the keyboard.
    void cellEntered();
    // A key with a character was pressed in the list: its code ('d' = 100).
    // Typed characters never move the current cell.
    void keyPressed(int key);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Tab / Shift+Tab: the focus goes to the next / previous control of the
    // window; false when there is none.
    bool LeaveByTab(bool forward);
    QTableWidgetItem* itemAt(int row, int col, bool create);
    void moveCurrent();
    void applyHighlight();

    QTableWidget* table_;
    int row_ = 0;
    int col_ = 0;
    int highlight_ = 1;
    bool moving_ = false;
    bool mousePressed_ = false;
};

}  // namespace orvo::widgets
