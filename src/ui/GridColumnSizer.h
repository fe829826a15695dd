// Column resizing for the main window's file grid: the person drags a
// column's right border inside the fixed header row, as in a string grid.
// While the header row is not fixed (the list is empty) nothing is resized.
#pragma once

#include <QObject>

#include <functional>

class QTableWidget;

namespace qrb {

class GridColumnSizer : public QObject {
  public:
    GridColumnSizer(QTableWidget* grid, std::function<bool()> headerRowFixed);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The column whose right border lies under x in the header row, or -1.
    int BorderAt(const QPoint& position) const;

    QTableWidget* grid_;
    std::function<bool()> headerRowFixed_;
    int column_ = -1;  // the column being resized
    int startX_ = 0;
    int startWidth_ = 0;
};

}  // namespace qrb
