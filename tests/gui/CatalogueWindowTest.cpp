// The file catalogue in the main window: the grid, the target buttons with
// their mouse and keyboard presses, the selection step, Browse.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTest>

#include <cstdio>
#include <memory>

#include "GuiTestSupport.h"
#include "ui/PosDlgs.h"
#include "ui/TargetButton.h"
#include "ui/fw.h"

namespace qrb {
namespace {

using test::BoxWatcher;
using test::FirmwareText;
using test::ScopedCurrentFolder;

QStringList GridNames(const TfrmMain& w) {
    QStringList names;
    for (int row = 1; row < w.grdFileList->rowCount(); ++row) {
        names.append(w.grdFileList->item(row, 0)->text());
    }
    names.sort();
    return names;
}

int RowOf(const TfrmMain& w, const QString& name) {
    for (int row = 0; row < w.grdFileList->rowCount(); ++row) {
        if (w.grdFileList->item(row, 0)->text() == name) {
            return row;
        }
    }
    return -1;
}

void ClickRow(TfrmMain& w, int row) {
    QTableWidget* grid = w.grdFileList;
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      grid->visualItemRect(grid->item(row, 0)).center());
}

TEST(CatalogueWindow, StartUpInAnEmptyFolderShowsOnlyTheHeaderRow) {
    ScopedCurrentFolder folder;
    folder.write("QRB117.ini", "1");
    folder.write("readme.txt", "not firmware");
    const TfrmMain w;
    ASSERT_EQ(w.grdFileList->rowCount(), 1);
    EXPECT_EQ(w.grdFileList->item(0, 0)->text(), QStringLiteral("SFL File"));
    EXPECT_EQ(w.grdFileList->item(0, 1)->text(), QStringLiteral("Date"));
    EXPECT_EQ(w.grdFileList->item(0, 2)->text(), QString());
    // Not fixed while alone: it is the current, selectable row.
    EXPECT_EQ(w.grdFileList->currentRow(), 0);
    EXPECT_TRUE(w.grdFileList->item(0, 0)->flags() & Qt::ItemIsSelectable);
    for (QPushButton* b :
         {static_cast<QPushButton*>(w.btnMasterCPU), static_cast<QPushButton*>(w.btnSlaveCPU),
          static_cast<QPushButton*>(w.btnOLU6), w.btnWRITE}) {
        EXPECT_FALSE(b->isEnabled()) << b->text().toStdString();
    }
    EXPECT_TRUE(w.Memo1->toPlainText().isEmpty());
    EXPECT_EQ(w.State().SelectedFileName, "SFL File");
    EXPECT_EQ(w.State().SelectedTarget, kMasterCpu);
}

// A folder with firmware files of all three targets and some others.
class CatalogueOnScreen : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_.write("QRB117.ini", "1");
        folder_.write("TN508001_M_V0101.SFL", FirmwareText({"Master 1.01", "second line"}),
                      1600000000);
        folder_.write("TN508001_M_V0102.SFL", FirmwareText({"Master 1.02"}), 1600000000);
        folder_.write("TN508002_S_V0200.SFL", FirmwareText({"Slave 2.00"}), 1600000000 - 3600);
        folder_.write("TQX37_V0300.SFL", FirmwareText({"Option 3.00"}), 1600000000 - 7200);
        folder_.write("TQX37_V0301.SFL", "Only a header\r\nno records\r\n", 1600000000 - 7200);
        folder_.write("tn508001_m_v0100.sfl", FirmwareText({"lower case"}), 1600000000 - 9000);
        folder_.write("notes.txt", "x");
        window_ = std::make_unique<TfrmMain>();
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        window_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    }

    void alt(Qt::Key key) { QTest::keyClick(window_.get(), key, Qt::AltModifier); }

    const QStringList allFiles_ = {"TN508001_M_V0101.SFL", "TN508001_M_V0102.SFL",
                                   "TN508002_S_V0200.SFL", "TQX37_V0300.SFL",
                                   "TQX37_V0301.SFL",      "tn508001_m_v0100.sfl"};
    const QStringList masterFiles_ = {"TN508001_M_V0101.SFL", "TN508001_M_V0102.SFL",
                                      "tn508001_m_v0100.sfl"};
    ScopedCurrentFolder folder_;
    std::unique_ptr<TfrmMain> window_;
};

TEST_F(CatalogueOnScreen, StartUpListsSortsAndSelectsTheFirstRow) {
    TfrmMain& w = *window_;
    EXPECT_EQ(GridNames(w), allFiles_);
    // Row 0 is the fixed header now; the first sorted row is selected.
    EXPECT_FALSE(w.grdFileList->item(0, 0)->flags() & Qt::ItemIsSelectable);
    EXPECT_EQ(w.grdFileList->currentRow(), 1);
    // Equal date text: the higher name first.
    EXPECT_EQ(w.grdFileList->item(1, 0)->text(), QStringLiteral("TN508001_M_V0102.SFL"));
    EXPECT_EQ(w.grdFileList->item(2, 0)->text(), QStringLiteral("TN508001_M_V0101.SFL"));
    EXPECT_EQ(w.grdFileList->item(1, 1)->text(), w.grdFileList->item(2, 1)->text());
    EXPECT_FALSE(w.grdFileList->item(1, 1)->text().isEmpty());
    EXPECT_EQ(w.State().SelectedFileName, "TN508001_M_V0102.SFL");
    EXPECT_EQ(w.Memo1->toPlainText(), QStringLiteral("Master 1.02"));
    EXPECT_TRUE(w.btnWRITE->isEnabled());
    EXPECT_TRUE(w.btnMasterCPU->isEnabled());
    EXPECT_TRUE(w.btnSlaveCPU->isEnabled());
    EXPECT_TRUE(w.btnOLU6->isEnabled());
}

TEST_F(CatalogueOnScreen, SelectingARowShowsItsHeaderAndTarget) {
    TfrmMain& w = *window_;
    ClickRow(w, RowOf(w, "TN508002_S_V0200.SFL"));
    EXPECT_EQ(w.State().SelectedFileName, "TN508002_S_V0200.SFL");
    EXPECT_EQ(w.State().SelectedTarget, kSlaveCpu);
    EXPECT_EQ(w.Memo1->toPlainText(), QStringLiteral("Slave 2.00"));

    ClickRow(w, RowOf(w, "TN508001_M_V0101.SFL"));
    EXPECT_EQ(w.State().SelectedTarget, kMasterCpu);
    EXPECT_EQ(w.Memo1->toPlainText(), QStringLiteral("Master 1.01\nsecond line"));

    // Listed but not recognised: the target stays, no header is shown.
    ClickRow(w, RowOf(w, "tn508001_m_v0100.sfl"));
    EXPECT_EQ(w.State().SelectedFileName, "tn508001_m_v0100.sfl");
    EXPECT_EQ(w.State().SelectedTarget, kMasterCpu);
    EXPECT_TRUE(w.Memo1->toPlainText().isEmpty());
    EXPECT_TRUE(w.btnWRITE->isEnabled());

    // Keyboard selection runs the same step.
    w.grdFileList->setFocus();
    const int optionRow = RowOf(w, "TQX37_V0300.SFL");
    w.grdFileList->setCurrentCell(optionRow - 1, 0);
    QTest::keyClick(w.grdFileList, Qt::Key_Down);
    EXPECT_EQ(w.State().SelectedFileName, "TQX37_V0300.SFL");
    EXPECT_EQ(w.State().SelectedTarget, kOptionUnit);
}

TEST_F(CatalogueOnScreen, AFileWithoutRecordStartDisablesWriteUntilTheNextRebuild) {
    TfrmMain& w = *window_;
    ClickRow(w, RowOf(w, "TQX37_V0301.SFL"));
    EXPECT_FALSE(w.btnWRITE->isEnabled());
    EXPECT_TRUE(w.Memo1->toPlainText().isEmpty());
    ClickRow(w, RowOf(w, "TQX37_V0300.SFL"));
    EXPECT_FALSE(w.btnWRITE->isEnabled()) << "only a rebuild enables WRITE again";
    QTest::mouseClick(w.btnReload, Qt::LeftButton);
    EXPECT_TRUE(w.btnWRITE->isEnabled());
}

TEST_F(CatalogueOnScreen, AVanishedFileIsReportedAndTheWindowGoesOn) {
    TfrmMain& w = *window_;
    ASSERT_EQ(std::remove(folder_.file("TN508002_S_V0200.SFL").c_str()), 0);
    const BoxWatcher watcher;
    ClickRow(w, RowOf(w, "TN508002_S_V0200.SFL"));
    ASSERT_EQ(watcher.boxes().size(), 1u);
    EXPECT_EQ(watcher.boxes()[0].title, QStringLiteral("QRB117 for RQ-7300"));
    EXPECT_EQ(watcher.boxes()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(watcher.boxes()[0].text.contains(QStringLiteral("TN508002_S_V0200.SFL")))
        << watcher.boxes()[0].text.toStdString();
    EXPECT_EQ(w.State().SelectedFileName, "TN508002_S_V0200.SFL");
    EXPECT_TRUE(w.Memo1->toPlainText().isEmpty());

    // Still usable.
    ClickRow(w, RowOf(w, "TQX37_V0300.SFL"));
    EXPECT_EQ(w.Memo1->toPlainText(), QStringLiteral("Option 3.00"));
}

// A click on the current row reads its header again: a new header shows, a
// file gone since is reported.
TEST_F(CatalogueOnScreen, ClickingTheCurrentRowReadsItsHeaderAgain) {
    TfrmMain& w = *window_;
    ASSERT_EQ(w.grdFileList->currentRow(), 1);
    folder_.write("TN508001_M_V0102.SFL", FirmwareText({"Master 1.02", "rebuilt"}), 1600000000);
    ClickRow(w, 1);
    EXPECT_EQ(w.Memo1->toPlainText(), QStringLiteral("Master 1.02\nrebuilt"));

    ASSERT_EQ(std::remove(folder_.file("TN508001_M_V0102.SFL").c_str()), 0);
    const BoxWatcher watcher;
    ClickRow(w, 1);
    ASSERT_EQ(watcher.boxes().size(), 1u);
    EXPECT_TRUE(watcher.boxes()[0].text.contains(QStringLiteral("TN508001_M_V0102.SFL")));
    EXPECT_TRUE(w.Memo1->toPlainText().isEmpty());
}

TEST_F(CatalogueOnScreen, TargetButtonsFilterTheListByMouse) {
    TfrmMain& w = *window_;
    QTest::mouseClick(w.btnMasterCPU, Qt::LeftButton);
    EXPECT_TRUE(w.btnMasterCPU->isChecked());
    EXPECT_EQ(GridNames(w), masterFiles_);
    EXPECT_EQ(w.State().SelectedTarget, kMasterCpu);

    QTest::mouseClick(w.btnOLU6, Qt::LeftButton);  // one group: Master CPU goes up
    EXPECT_TRUE(w.btnOLU6->isChecked());
    EXPECT_FALSE(w.btnMasterCPU->isChecked());
    EXPECT_EQ(GridNames(w), QStringList({"TQX37_V0300.SFL", "TQX37_V0301.SFL"}));

    QTest::mouseClick(w.btnOLU6, Qt::LeftButton);  // the button that is down goes up
    EXPECT_FALSE(w.btnOLU6->isChecked());
    EXPECT_EQ(GridNames(w), allFiles_);

    QTest::mouseClick(w.btnSlaveCPU, Qt::LeftButton);
    ASSERT_TRUE(w.btnSlaveCPU->isChecked());
    QTest::mouseClick(w.btnReload, Qt::LeftButton);  // Reload puts every button up
    EXPECT_FALSE(w.btnSlaveCPU->isChecked());
    EXPECT_EQ(GridNames(w), allFiles_);
}

TEST_F(CatalogueOnScreen, AcceleratorsPressTheTargetButtons) {
    TfrmMain& w = *window_;
    alt(Qt::Key_M);
    EXPECT_TRUE(w.btnMasterCPU->isChecked());
    EXPECT_EQ(GridNames(w), masterFiles_);
    alt(Qt::Key_S);
    EXPECT_TRUE(w.btnSlaveCPU->isChecked());
    EXPECT_FALSE(w.btnMasterCPU->isChecked());
    alt(Qt::Key_O);
    EXPECT_TRUE(w.btnOLU6->isChecked());
    EXPECT_TRUE(w.isVisible()) << "Alt+O belongs to OLU-6 while it is enabled";
    alt(Qt::Key_O);
    EXPECT_FALSE(w.btnOLU6->isChecked());
    EXPECT_EQ(GridNames(w), allFiles_);
}

TEST_F(CatalogueOnScreen, AStrayMouseReleaseMakesTheNextAcceleratorRebuildWithoutToggling) {
    TfrmMain& w = *window_;
    // A right click completes no click but is a release over the button.
    QTest::mouseClick(w.btnMasterCPU, Qt::RightButton);
    EXPECT_TRUE(w.Catalogue().button(kCatalogueMasterCpu).ToggledByMouse);
    EXPECT_FALSE(w.btnMasterCPU->isChecked());
    alt(Qt::Key_M);
    EXPECT_FALSE(w.btnMasterCPU->isChecked());
    EXPECT_FALSE(w.Catalogue().button(kCatalogueMasterCpu).ToggledByMouse);
    EXPECT_EQ(GridNames(w), allFiles_);

    // A left press released outside the button: no click, the flag is set.
    QTest::mousePress(w.btnSlaveCPU, Qt::LeftButton);
    QTest::mouseRelease(w.btnSlaveCPU, Qt::LeftButton, {}, QPoint(-20, -20));
    EXPECT_FALSE(w.btnSlaveCPU->isChecked());
    EXPECT_TRUE(w.Catalogue().button(kCatalogueSlaveCpu).ToggledByMouse);
    alt(Qt::Key_S);
    EXPECT_FALSE(w.btnSlaveCPU->isChecked());

    // Without a stray release the accelerator toggles.
    alt(Qt::Key_M);
    EXPECT_TRUE(w.btnMasterCPU->isChecked());
}

// Drags from one point of the grid to another with the left button.
void DragInGrid(TfrmMain& w, QPoint from, QPoint to) {
    QWidget* viewport = w.grdFileList->viewport();
    QTest::mousePress(viewport, Qt::LeftButton, {}, from);
    QTest::mouseMove(viewport, (from + to) / 2);
    QTest::mouseMove(viewport, to);
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, to);
}

TEST_F(CatalogueOnScreen, ColumnBordersInTheHeaderRowCanBeDragged) {
    TfrmMain& w = *window_;
    const int border = w.grdFileList->columnViewportPosition(0) + w.grdFileList->columnWidth(0);
    const QString selected = w.grdFileList->item(1, 0)->text();
    DragInGrid(w, {border, 9}, {border + 30, 9});
    EXPECT_EQ(w.grdFileList->columnWidth(0), 174);
    EXPECT_EQ(w.grdFileList->columnWidth(1), 120);
    EXPECT_EQ(w.grdFileList->currentRow(), 1) << "sizing selects nothing";
    // The same drag in a data row is a selection, not a resize.
    DragInGrid(w, {border + 30, 27}, {border + 60, 27});
    EXPECT_EQ(w.grdFileList->columnWidth(0), 174);
}

TEST(CatalogueWindow, ColumnsKeepTheirWidthWhileTheHeaderRowIsNotFixed) {
    ScopedCurrentFolder folder;
    folder.write("QRB117.ini", "1");
    TfrmMain w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    DragInGrid(w, {144, 9}, {174, 9});
    EXPECT_EQ(w.grdFileList->columnWidth(0), 144);
}

TEST(CatalogueWindow, AltOClosesTheWindowWhileOlu6IsDisabled) {
    ScopedCurrentFolder folder;
    folder.write("QRB117.ini", "1");
    folder.write("TN508001_M_V0101.SFL", FirmwareText({"Master"}));
    TfrmMain w;
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    ASSERT_FALSE(w.btnOLU6->isEnabled());
    QTest::keyClick(&w, Qt::Key_O, Qt::AltModifier);
    QTRY_VERIFY_WITH_TIMEOUT(!w.isVisible(), 2000);
}

// Answers the folder dialog once it is the active modal window.
class FolderDialogAnswer {
  public:
    explicit FolderDialogAnswer(QString choose) : choose_(std::move(choose)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start(5);
    }
    QString title;
    QString directory;
    QPoint position;
    QSize frameSize;
    QRect workArea;
    bool seen = false;

  private:
    void poll() {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible() || seen) {
            return;
        }
        seen = true;
        title = dialog->windowTitle();
        directory = dialog->directory().absolutePath();
        position = dialog->pos();
        frameSize = dialog->frameGeometry().size();
        workArea = dialog->screen()->availableGeometry();
        if (choose_.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(choose_);
            static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, as OK does
        }
    }
    QString choose_;
    QTimer timer_;
};

TEST_F(CatalogueOnScreen, BrowseChoosesTheFolderAndRebuilds) {
    TfrmMain& w = *window_;
    QTemporaryDir other;
    { std::ofstream(other.filePath("TQX37_V0999.SFL").toStdString()) << FirmwareText({"Other"}); }
    {
        FolderDialogAnswer cancel{QString()};
        QTest::mouseClick(w.btnBrowse, Qt::LeftButton);
        ASSERT_TRUE(cancel.seen);
        EXPECT_EQ(cancel.title, QStringLiteral("Select Directory"));
        EXPECT_EQ(cancel.directory, folder_.path());
        EXPECT_EQ(cancel.position, DialogPositionCenter(cancel.workArea, cancel.frameSize));
        EXPECT_EQ(QDir::currentPath(), folder_.path());
        EXPECT_EQ(GridNames(w), allFiles_);
    }
    FolderDialogAnswer choose{other.path()};
    QTest::mouseClick(w.btnBrowse, Qt::LeftButton);
    ASSERT_TRUE(choose.seen);
    EXPECT_EQ(QDir::currentPath(), other.path());
    EXPECT_EQ(w.FirmwareFolder(), other.path());
    EXPECT_EQ(w.StatusPanel0->text(), other.path());
    EXPECT_EQ(GridNames(w), QStringList({"TQX37_V0999.SFL"}));
    EXPECT_EQ(w.Memo1->toPlainText(), QStringLiteral("Other"));
    EXPECT_FALSE(w.btnMasterCPU->isEnabled());
    QDir::setCurrent(folder_.path());
}

TEST(FolderDialogPlacement, CentresInTheWorkAreaAndKeepsInside) {
    struct Case {
        QRect workArea;
        QSize dialog;
        QPoint expected;
    };
    const std::vector<Case> cases = {
        {{0, 0, 1024, 768}, {400, 300}, {312, 234}},
        {{0, 30, 1024, 738}, {400, 300}, {312, 249}},  // a panel at the top
        {{100, 0, 924, 768}, {401, 301}, {361, 233}},  // halves truncate
        {{0, 0, 300, 200}, {400, 300}, {0, 0}},        // larger than the area: top left
        {{50, 40, 300, 200}, {400, 300}, {50, 40}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DialogPositionCenter(c.workArea, c.dialog), c.expected)
            << c.workArea.x() << "," << c.workArea.y() << " " << c.dialog.width();
    }
}

}  // namespace
}  // namespace qrb
