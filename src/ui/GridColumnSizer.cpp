#include "ui/GridColumnSizer.h"

#include <QMouseEvent>
#include <QTableWidget>

#include <algorithm>
#include <cstdlib>

namespace qrb {

namespace {
constexpr int kGrabDistance = 2;  // pixels either side of a border
constexpr int kMinimumWidth = 4;
}  // namespace

GridColumnSizer::GridColumnSizer(QTableWidget* grid, std::function<bool()> headerRowFixed)
    : QObject(grid), grid_(grid), headerRowFixed_(std::move(headerRowFixed)) {
    grid_->viewport()->installEventFilter(this);
}

int GridColumnSizer::BorderAt(const QPoint& position) const {
    if (!headerRowFixed_() || grid_->rowAt(position.y()) != 0) {
        return -1;
    }
    for (int column = 0; column < grid_->columnCount(); ++column) {
        const int border = grid_->columnViewportPosition(column) + grid_->columnWidth(column);
        if (std::abs(position.x() - border) <= kGrabDistance) {
            return column;
        }
    }
    return -1;
}

bool GridColumnSizer::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonRelease) {
        return QObject::eventFilter(watched, event);
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint at = mouse->position().toPoint();
    switch (type) {
        case QEvent::MouseButtonPress:
            if (mouse->button() == Qt::LeftButton && (column_ = BorderAt(at)) >= 0) {
                startX_ = at.x();
                startWidth_ = grid_->columnWidth(column_);
                return true;
            }
            break;
        case QEvent::MouseMove:
            if (column_ >= 0) {
                grid_->setColumnWidth(column_,
                                      std::max(kMinimumWidth, startWidth_ + at.x() - startX_));
                return true;
            }
            if (BorderAt(at) >= 0) {
                grid_->viewport()->setCursor(Qt::SplitHCursor);
            } else {
                grid_->viewport()->unsetCursor();
            }
            break;
        default:  // release
            if (column_ >= 0 && mouse->button() == Qt::LeftButton) {
                column_ = -1;
                return true;
            }
            break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace qrb
