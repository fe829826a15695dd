#include "ui/RowDragGrid.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>

#include <algorithm>
#include <vector>

namespace qrb {

namespace {

constexpr int kHeaderRow = 0;
constexpr int kFirstFileRow = 1;
constexpr int kDropLineWidth = 2;

// Where a row stands after row `from` was moved to `to`.
int RowAfterMove(int row, int from, int to) {
    if (row == from) {
        return to;
    }
    if (from < row && row <= to) {
        return row - 1;
    }
    if (to <= row && row < from) {
        return row + 1;
    }
    return row;
}

}  // namespace

RowDragGrid::RowDragGrid(int rows, int columns, QWidget* parent)
    : QTableWidget(rows, columns, parent) {
    // A rebuild of the list during a drag leaves nothing to drop.
    const auto cancel = [this] { CancelDrag(); };
    connect(model(), &QAbstractItemModel::modelReset, this, cancel);
    connect(model(), &QAbstractItemModel::layoutChanged, this, cancel);
    connect(model(), &QAbstractItemModel::rowsInserted, this, cancel);
    connect(model(), &QAbstractItemModel::rowsRemoved, this, cancel);
}

RowDragGrid::~RowDragGrid() {
    // The base class clears the model after this part of the object is gone;
    // its signals must not reach CancelDrag() then.
    disconnect(model(), nullptr, this, nullptr);
}

void RowDragGrid::MoveRow(int from, int to) {
    const int count = rowCount();
    if (from < kFirstFileRow || from >= count || to < kFirstFileRow || to >= count || from == to) {
        return;
    }
    const int newCurrentRow = RowAfterMove(currentRow(), from, to);
    const int currentColumnBefore = currentColumn();
    {
        // Taking the row out and putting it back in moves the current index
        // on its way; the window must see no selection for that.
        const QSignalBlocker quiet(this);
        std::vector<QTableWidgetItem*> cells;
        cells.reserve(static_cast<std::size_t>(columnCount()));
        for (int column = 0; column < columnCount(); ++column) {
            cells.push_back(takeItem(from, column));
        }
        removeRow(from);
        insertRow(to);
        for (int column = 0; column < columnCount(); ++column) {
            setItem(to, column, cells[static_cast<std::size_t>(column)]);
        }
        if (newCurrentRow >= 0) {
            setCurrentCell(newCurrentRow, std::max(currentColumnBefore, 0));
        }
    }
    emit rowMoved(from, to);
}

int RowDragGrid::DropRowAt(const QPoint& position) const {
    const int lastRow = rowCount() - 1;
    if (lastRow < kFirstFileRow || !viewport()->rect().contains(position)) {
        return -1;
    }
    const int row = rowAt(position.y());
    if (row < 0) {
        return lastRow;  // the empty space below the rows
    }
    return row == kHeaderRow ? kFirstFileRow : row;
}

void RowDragGrid::mousePressEvent(QMouseEvent* event) {
    CancelDrag();
    pressedCurrentRow_ = -1;
    if (event->button() == Qt::LeftButton) {
        const QPoint at = event->position().toPoint();
        const int row = indexAt(at).isValid() ? rowAt(at.y()) : -1;
        if (row >= kFirstFileRow) {
            draggedRow_ = row;
            pressPosition_ = at;
        }
        if (row >= 0 && row == currentRow()) {
            pressedCurrentRow_ = row;
        }
    }
    // The press selects the row as always; a drag starts from the selection.
    QTableWidget::mousePressEvent(event);
}

void RowDragGrid::mouseMoveEvent(QMouseEvent* event) {
    if (draggedRow_ < 0 || !(event->buttons() & Qt::LeftButton)) {
        CancelDrag();
        QTableWidget::mouseMoveEvent(event);
        return;
    }
    // While a file row is held the selection stays where the press put it.
    const QPoint at = event->position().toPoint();
    if (!moved_ && (at - pressPosition_).manhattanLength() >= QApplication::startDragDistance()) {
        moved_ = true;
    }
    if (moved_) {
        const int dropRow = DropRowAt(at);
        if (dropRow != dropRow_) {
            dropRow_ = dropRow;
            if (dropRow_ >= 0) {
                scrollTo(model()->index(dropRow_, 0));
            }
            viewport()->update();
        }
    }
    event->accept();
}

void RowDragGrid::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const int clickedRow = event->button() == Qt::LeftButton && !Dragging() &&
                                   indexAt(at).isValid() && rowAt(at.y()) == pressedCurrentRow_
                               ? pressedCurrentRow_
                               : -1;
    pressedCurrentRow_ = -1;
    if (event->button() == Qt::LeftButton && Dragging()) {
        const int from = draggedRow_;
        const int to = DropRowAt(event->position().toPoint());
        CancelDrag();
        MoveRow(from, to);
    } else if (event->button() == Qt::LeftButton) {
        CancelDrag();
    }
    QTableWidget::mouseReleaseEvent(event);
    if (clickedRow >= 0 && clickedRow == currentRow()) {
        emit currentRowClicked(clickedRow);
    }
}

void RowDragGrid::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && Dragging()) {
        CancelDrag();
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

void RowDragGrid::paintEvent(QPaintEvent* event) {
    QTableWidget::paintEvent(event);
    if (!Dragging() || dropRow_ < 0 || dropRow_ == draggedRow_) {
        return;
    }
    // A line on the side of the drop row where the dragged row will stand.
    const int top = rowViewportPosition(dropRow_);
    const int y = dropRow_ < draggedRow_ ? top : top + rowHeight(dropRow_) - kDropLineWidth;
    QPainter painter(viewport());
    painter.fillRect(0, y, viewport()->width(), kDropLineWidth, palette().highlight());
}

void RowDragGrid::CancelDrag() {
    if (Dragging()) {
        viewport()->update();
    }
    draggedRow_ = -1;
    moved_ = false;
    dropRow_ = -1;
}

}  // namespace qrb
