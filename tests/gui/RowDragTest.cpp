// Moving rows of the main window's file grid with the mouse: the row and its
// cells travel, the selection stays with the file, the header row stays
// first, a plain click still selects, and the catalogue behind the grid sees
// the same order.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "GuiTestSupport.h"
#include "ui/RowDragGrid.h"
#include "ui/TargetButton.h"
#include "ui/fw.h"

namespace qrb {
namespace {

using test::FirmwareText;
using test::ScopedCurrentFolder;

using RowTexts = std::array<QString, 3>;

std::vector<RowTexts> GridRowTexts(const TfrmMain& w) {
    std::vector<RowTexts> rows;
    for (int row = 0; row < w.grdFileList->rowCount(); ++row) {
        rows.push_back({w.grdFileList->item(row, 0)->text(), w.grdFileList->item(row, 1)->text(),
                        w.grdFileList->item(row, 2)->text()});
    }
    return rows;
}

std::vector<RowTexts> CatalogueRowTexts(const TfrmMain& w) {
    std::vector<RowTexts> rows;
    for (const GridRow& row : w.Catalogue().rows()) {
        rows.push_back({QString::fromStdString(row[0]), QString::fromStdString(row[1]),
                        QString::fromStdString(row[2])});
    }
    return rows;
}

// The rows after row `from` was taken out and put in again at index `to`.
std::vector<RowTexts> Moved(std::vector<RowTexts> rows, int from, int to) {
    const RowTexts moved = rows[static_cast<std::size_t>(from)];
    rows.erase(rows.begin() + from);
    rows.insert(rows.begin() + to, moved);
    return rows;
}

QPoint RowCentre(const TfrmMain& w, int row) {
    return w.grdFileList->visualItemRect(w.grdFileList->item(row, 0)).center();
}

// A mouse move with the left button held (QTest moves carry no buttons).
void MoveHeld(QWidget* viewport, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, at, viewport->mapTo(viewport->window(), at),
                     viewport->mapToGlobal(at), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &move);
}

// Press at `from`, move there in a few steps, release at `to`; `beforeRelease`
// runs with the button still held.
void Drag(TfrmMain& w, QPoint from, QPoint to, const std::function<void()>& beforeRelease = {}) {
    QWidget* viewport = w.grdFileList->viewport();
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    constexpr int kSteps = 4;
    for (int step = 1; step <= kSteps; ++step) {
        MoveHeld(viewport, from + (to - from) * step / kSteps);
    }
    if (beforeRelease) {
        beforeRelease();
    }
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
}

void ClickRow(TfrmMain& w, int row) {
    QTest::mouseClick(w.grdFileList->viewport(), Qt::LeftButton, {}, RowCentre(w, row));
}

// Four files with different date texts, so that every column tells rows apart.
class RowDragOnScreen : public ::testing::Test {
  protected:
    void SetUp() override {
        constexpr long long kDay = 86400;
        long long mtime = 1600000000;
        folder_.write("QRB117.ini", "1");
        for (const auto& [name, header] : headers_) {
            folder_.write(name, FirmwareText({header}), mtime);
            mtime -= 2 * kDay;
        }
        window_ = std::make_unique<TfrmMain>();
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        ASSERT_EQ(window_->grdFileList->rowCount(), 5);
        sorted_ = GridRowTexts(*window_);
    }

    // The name in column 0 of a row as the rebuild sorted it.
    std::string sortedName(int row) const {
        return sorted_[static_cast<std::size_t>(row)][0].toStdString();
    }

    const std::map<std::string, std::string> headers_ = {
        {"TN508001_M_V0104.SFL", "Master 1.04"},
        {"TN508001_M_V0103.SFL", "Master 1.03"},
        {"TN508002_S_V0200.SFL", "Slave 2.00"},
        {"TQX37_V0300.SFL", "Option 3.00"},
    };
    ScopedCurrentFolder folder_;
    std::unique_ptr<TfrmMain> window_;
    std::vector<RowTexts> sorted_;  // the grid right after start-up
};

TEST_F(RowDragOnScreen, DraggingTheThirdRowAboveTheFirstMovesItWithItsSelection) {
    TfrmMain& w = *window_;
    Drag(w, RowCentre(w, 3), RowCentre(w, 1));

    EXPECT_EQ(GridRowTexts(w), Moved(sorted_, 3, 1));
    EXPECT_EQ(CatalogueRowTexts(w), GridRowTexts(w));
    EXPECT_EQ(w.grdFileList->item(0, 0)->text(), QStringLiteral("SFL File"));
    EXPECT_EQ(w.grdFileList->item(0, 0)->flags(), Qt::NoItemFlags) << "the header stays fixed";

    // The press selected the file; the move kept it selected where it went.
    EXPECT_EQ(w.State().SelectedFileName, sortedName(3));
    EXPECT_EQ(w.grdFileList->currentRow(), 1);
    EXPECT_EQ(w.Catalogue().currentRow(), 1);
    for (const QTableWidgetItem* item : w.grdFileList->selectedItems()) {
        EXPECT_EQ(item->row(), 1);
    }

    // Another file, then the moved one again: the click path names the file
    // that is now in row 1.
    ClickRow(w, 2);
    EXPECT_EQ(w.State().SelectedFileName, sortedName(1));
    ClickRow(w, 1);
    EXPECT_EQ(w.State().SelectedFileName, sortedName(3));
    EXPECT_EQ(w.Memo1->toPlainText().toStdString(), headers_.at(sortedName(3)));
}

TEST_F(RowDragOnScreen, DraggingDownShiftsTheRowsBetweenUp) {
    TfrmMain& w = *window_;
    ClickRow(w, 3);  // the current row is not the dragged one before the press
    Drag(w, RowCentre(w, 1), RowCentre(w, 3));
    EXPECT_EQ(GridRowTexts(w), Moved(sorted_, 1, 3));
    EXPECT_EQ(CatalogueRowTexts(w), GridRowTexts(w));
    EXPECT_EQ(w.State().SelectedFileName, sortedName(1));
    EXPECT_EQ(w.grdFileList->currentRow(), 3);
    EXPECT_EQ(w.Catalogue().currentRow(), 3);

    // A rebuild sorts again: nothing of the moved order survives.
    QTest::mouseClick(w.btnReload, Qt::LeftButton);
    EXPECT_EQ(GridRowTexts(w), sorted_);
    EXPECT_EQ(w.State().SelectedFileName, sortedName(1));
}

TEST_F(RowDragOnScreen, APlainClickSelectsAsBefore) {
    TfrmMain& w = *window_;
    QWidget* viewport = w.grdFileList->viewport();
    const QPoint at = RowCentre(w, 2);
    QTest::mousePress(viewport, Qt::LeftButton, {}, at);
    MoveHeld(viewport, at + QPoint(1, 0));  // a hand's tremble is no drag
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, at + QPoint(1, 0));
    EXPECT_EQ(GridRowTexts(w), sorted_);
    EXPECT_EQ(w.State().SelectedFileName, sortedName(2));
    EXPECT_EQ(w.Catalogue().currentRow(), 2);
}

TEST_F(RowDragOnScreen, ReleasePlacesDecideTheDrop) {
    struct Case {
        const char* where;
        int from;
        std::function<QPoint(const TfrmMain&)> release;
        int expectedTo;  // -1: nothing moves
    };
    const std::vector<Case> cases = {
        {"empty space below the last row goes to the end", 1,
         [](const TfrmMain& w) { return QPoint(20, w.grdFileList->viewport()->height() - 3); }, 4},
        {"the header row drops on the first file row", 4,
         [](const TfrmMain& w) { return RowCentre(w, 0); }, 1},
        {"outside the grid moves nothing", 2, [](const TfrmMain&) { return QPoint(20, -15); }, -1},
        {"right of the grid moves nothing", 2,
         [](const TfrmMain& w) { return QPoint(w.grdFileList->viewport()->width() + 10, 27); }, -1},
    };
    TfrmMain& w = *window_;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        QTest::mouseClick(w.btnReload, Qt::LeftButton);
        ASSERT_EQ(GridRowTexts(w), sorted_);
        Drag(w, RowCentre(w, c.from), c.release(w));
        EXPECT_EQ(GridRowTexts(w),
                  c.expectedTo < 0 ? sorted_ : Moved(sorted_, c.from, c.expectedTo));
        EXPECT_EQ(CatalogueRowTexts(w), GridRowTexts(w));
        EXPECT_EQ(w.State().SelectedFileName, sortedName(c.from));
    }
}

TEST_F(RowDragOnScreen, EscapeAndARebuildDuringTheDragMoveNothing) {
    TfrmMain& w = *window_;
    Drag(w, RowCentre(w, 1), RowCentre(w, 3),
         [&w] { QTest::keyClick(w.grdFileList, Qt::Key_Escape); });
    EXPECT_EQ(GridRowTexts(w), sorted_);

    // A target filter while the button is held rebuilds the list; the release
    // must not move whatever row now stands where the pressed one was.
    Drag(w, RowCentre(w, 1), RowCentre(w, 2), [&w] {
        w.btnOLU6->click();
        w.btnOLU6->click();
    });
    EXPECT_EQ(GridRowTexts(w), sorted_);
    EXPECT_EQ(CatalogueRowTexts(w), GridRowTexts(w));
}

TEST_F(RowDragOnScreen, AHeaderPressMovesNoRow) {
    TfrmMain& w = *window_;
    Drag(w, RowCentre(w, 0), RowCentre(w, 3));
    EXPECT_EQ(GridRowTexts(w), sorted_);
    EXPECT_EQ(w.grdFileList->item(0, 0)->text(), QStringLiteral("SFL File"));
}

TEST(RowDragGrid, MoveRowKeepsItemsAndTheCurrentRowWithTheirRow) {
    struct Case {
        int from, to, current;
        const char* expectedOrder;  // the rows' first texts after the move
        int expectedCurrent;
    };
    const std::vector<Case> cases = {
        {3, 1, 3, "03124", 1}, {1, 3, 1, "02314", 3}, {3, 1, 2, "03124", 3}, {1, 3, 2, "02314", 1},
        {1, 2, 4, "02134", 4}, {0, 2, 1, "01234", 1},  // the header row does not move
        {2, 5, 2, "01234", 2},                         // nor past the last row
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to << ", current " << c.current);
        RowDragGrid grid(5, 2);
        std::vector<QTableWidgetItem*> items;
        for (int row = 0; row < 5; ++row) {
            items.push_back(new QTableWidgetItem(QString::number(row)));
            grid.setItem(row, 0, items.back());
            grid.setItem(row, 1, new QTableWidgetItem(QStringLiteral("b%1").arg(row)));
        }
        grid.setCurrentCell(c.current, 0);
        std::vector<std::pair<int, int>> moves;
        QObject::connect(&grid, &RowDragGrid::rowMoved,
                         [&moves](int from, int to) { moves.emplace_back(from, to); });
        int selectionsSeen = 0;
        QObject::connect(&grid, &QTableWidget::currentCellChanged, [&] { ++selectionsSeen; });

        grid.MoveRow(c.from, c.to);

        const QString order = QString::fromLatin1(c.expectedOrder);
        using Moves = std::vector<std::pair<int, int>>;
        const Moves expectedMoves =
            order == QStringLiteral("01234") ? Moves{} : Moves{{c.from, c.to}};
        EXPECT_EQ(moves, expectedMoves);
        for (int row = 0; row < 5; ++row) {
            const int was = order[row].digitValue();
            EXPECT_EQ(grid.item(row, 0), items[static_cast<std::size_t>(was)]) << "row " << row;
            EXPECT_EQ(grid.item(row, 1)->text(), QStringLiteral("b%1").arg(was)) << "row " << row;
        }
        EXPECT_EQ(grid.currentRow(), c.expectedCurrent);
        EXPECT_EQ(selectionsSeen, 0) << "a move runs no selection step";
    }
}

}  // namespace
}  // namespace qrb
