// Draws the cells of the main window's file grid the way a string grid does:
// the text 2 pixels in from the cell's left edge, cut at the cell's edge
// rather than shortened with an ellipsis, so that a full firmware file name
// fits its 144-pixel column.
#pragma once

#include <QStyledItemDelegate>

namespace qrb {

class GridCellDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

}  // namespace qrb
