// The main window's file grid with row moving, as a string grid offers it:
// the person presses the left button on a file row, drags it up or down and
// releases it over another row; the row takes that row's place and the rows
// between shift by one. Its items travel with it, the current row follows the
// file it showed, and the move itself selects nothing new.
//
// Row 0 is the header row: it never moves and nothing is dropped above it. A
// release over the header drops on the first file row, one in the empty space
// below the last row drops on the last row, and a release outside the grid
// (or Escape during the drag) moves nothing.
#pragma once

#include <QPoint>
#include <QTableWidget>

namespace qrb {

class RowDragGrid : public QTableWidget {
    Q_OBJECT
  public:
    RowDragGrid(int rows, int columns, QWidget* parent = nullptr);
    ~RowDragGrid() override;

    // Moves the file row `from` to index `to`, the rows between shifting by
    // one, and emits rowMoved. Nothing happens for the header row, an index
    // out of range or from == to.
    void MoveRow(int from, int to);

    // The row a drag released at `position` (viewport coordinates) would be
    // dropped on, or -1 when such a release moves nothing.
    int DropRowAt(const QPoint& position) const;

  signals:
    // Row `from` now stands at index `to`; emitted after the grid has moved it.
    void rowMoved(int from, int to);
    // A left click (press and release on one row, no drag) on the row that
    // was current already; a click on another row changes the current row.
    void currentRowClicked(int row);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void CancelDrag();
    bool Dragging() const { return draggedRow_ >= 0 && moved_; }

    int draggedRow_ = -1;  // the file row under the held left button, or -1
    QPoint pressPosition_;
    bool moved_ = false;          // the mouse went past the drag distance since the press
    int dropRow_ = -1;            // where a release now would drop, -1 for nowhere
    int pressedCurrentRow_ = -1;  // the current row when the left button went down on it
};

}  // namespace qrb
