// The controls of the main window: positions, sizes, captions, fonts and
// initial states, as the form lays them out.
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>

#include "ui/GridCellDelegate.h"
#include "ui/JpegPicture.h"
#include "ui/PictureData.h"
#include "ui/TargetButton.h"
#include "ui/fw.h"

namespace qrb {

namespace {

constexpr int kClientWidth = 649;
constexpr int kClientHeight = 475;
constexpr int kStatusBarHeight = 25;
constexpr int kGridRowHeight = 18;
constexpr std::array<int, 3> kGridColumnWidths = {144, 120, 53};

QFont PixelFont(const QString& family, int pixelSize, bool bold = false) {
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QLabel* MakeLabel(QWidget* parent, const QRect& geometry, const QString& caption,
                  Qt::Alignment alignment) {
    auto* label = new QLabel(caption, parent);
    label->setGeometry(geometry);
    label->setAlignment(alignment);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const QRect& geometry, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setGeometry(geometry);
    return button;
}

QLabel* MakeLamp(QWidget* parent, const PictureBytes& jpeg) {
    auto* lamp = new QLabel(parent);
    lamp->setGeometry(622, 7, 16, 16);
    lamp->setPixmap(QPixmap::fromImage(DecodeJpeg(jpeg.data, jpeg.size)));
    return lamp;
}

}  // namespace

void TfrmMain::CreateControls() {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(PixelFont(QStringLiteral("Arial"), 12));

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, kClientWidth, kClientHeight - kStatusBarHeight);

    grdFileList = new RowDragGrid(2, 3, Panel1);
    grdFileList->setGeometry(12, 12, 341, 169);
    grdFileList->horizontalHeader()->hide();
    grdFileList->verticalHeader()->hide();
    grdFileList->verticalHeader()->setMinimumSectionSize(kGridRowHeight);
    grdFileList->verticalHeader()->setDefaultSectionSize(kGridRowHeight);
    grdFileList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    for (int column = 0; column < 3; ++column) {
        grdFileList->setColumnWidth(column, kGridColumnWidths[static_cast<std::size_t>(column)]);
    }
    grdFileList->setShowGrid(true);
    grdFileList->setWordWrap(false);
    grdFileList->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdFileList->setSelectionMode(QAbstractItemView::SingleSelection);
    grdFileList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdFileList->setTabKeyNavigation(false);  // Tab leaves the grid, as in the focus order
    grdFileList->setItemDelegate(new GridCellDelegate(grdFileList));

    btnConfig = MakeButton(Panel1, {368, 12, 110, 25}, QStringLiteral("&Configure"));
    btnReload = MakeButton(Panel1, {368, 56, 110, 25}, QStringLiteral("&Reload"));
    btnBrowse = MakeButton(Panel1, {368, 104, 110, 25}, QStringLiteral("&Browse"));

    cmbBRT = new QComboBox(Panel1);
    cmbBRT->addItems({QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("19200"),
                      QStringLiteral("38400")});
    cmbBRT->setCurrentIndex(-1);
    cmbBRT->setGeometry(520, 12, 110, 22);
    cmbBRT->setEnabled(false);

    Label2 = MakeLabel(Panel1, {520, 42, 98, 15}, QStringLiteral("COM Port:COM1"),
                       Qt::AlignHCenter | Qt::AlignTop);
    Label2->setFont(PixelFont(QStringLiteral("Arial"), 12, true));
    Label4 = MakeLabel(Panel1, {500, 125, 130, 15}, QStringLiteral("QRB117 x.xx"),
                       Qt::AlignRight | Qt::AlignTop);
    Label4->setFont(PixelFont(QStringLiteral("System"), 12, true));

    Image1 = new QLabel(Panel1);
    Image1->setGeometry(478, 150, 160, 20);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPixmap banner;
    banner.loadFromData(kBannerPng.data, static_cast<uint>(kBannerPng.size), "PNG");
    Image1->setPixmap(banner);

    Panel8 = new QFrame(Panel1);
    Panel8->setObjectName(QStringLiteral("Panel8"));
    Panel8->setGeometry(6, 182, 355, 51);
    btnMasterCPU = new TargetButton(QStringLiteral("&Master CPU"), Panel8);
    btnMasterCPU->setGeometry(6, 5, 100, 25);
    btnSlaveCPU = new TargetButton(QStringLiteral("&Slave CPU"), Panel8);
    btnSlaveCPU->setGeometry(130, 5, 100, 25);
    btnOLU6 = new TargetButton(QStringLiteral("&OLU-6"), Panel8);
    btnOLU6->setGeometry(246, 5, 100, 25);
    const QFont versionFont = PixelFont(QStringLiteral("Arial"), 11);
    Label5 = MakeLabel(Panel8, {6, 32, 100, 15}, {}, Qt::AlignHCenter | Qt::AlignTop);
    Label6 = MakeLabel(Panel8, {130, 32, 100, 15}, {}, Qt::AlignHCenter | Qt::AlignTop);
    Label7 = MakeLabel(Panel8, {246, 32, 100, 15}, {}, Qt::AlignHCenter | Qt::AlignTop);
    for (QLabel* label : {Label5, Label6, Label7}) {
        label->setFont(versionFont);
    }

    btnWRITE = MakeButton(Panel1, {368, 187, 110, 25}, QStringLiteral("&WRITE"));
    btnWRITE->setEnabled(false);
    btnClose = MakeButton(Panel1, {520, 187, 110, 25}, QStringLiteral("Cl&ose"));
    // Alt+O belongs to the OLU-6 button first (see the window's shortcuts).
    btnClose->setShortcut(QKeySequence());

    Memo1 = new QPlainTextEdit(Panel1);
    Memo1->setGeometry(12, 232, 341, 209);
    Memo1->setFont(PixelFont(QStringLiteral("Courier New"), 11));
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setEnabled(false);

    Panel7 = new QFrame(Panel1);
    Panel7->setGeometry(368, 232, 267, 210);
    Panel7->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel7->setLineWidth(2);
    Label1 = MakeLabel(Panel7, Panel7->contentsRect().adjusted(1, 1, -1, -1), {},
                       Qt::AlignLeft | Qt::AlignTop);
    Label1->setWordWrap(true);
    Label1->setFont(PixelFont(QStringLiteral("Arial"), 11));
    ProgressBar1 = new QProgressBar(Panel7);
    ProgressBar1->setGeometry(15, 72, 230, 17);
    ProgressBar2 = new QProgressBar(Panel7);
    ProgressBar2->setGeometry(15, 125, 230, 17);
    for (QProgressBar* bar : {ProgressBar1, ProgressBar2}) {
        bar->setTextVisible(false);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->hide();
    }

    StatusBar1 = new QFrame(this);
    StatusBar1->setGeometry(0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setGeometry(0, 2, 610, kStatusBarHeight - 2);
    StatusPanel0->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusPanel0->setTextFormat(Qt::PlainText);
    StatusPanel0->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto* lampPanel = new QFrame(StatusBar1);  // panel 1: drawn by nobody but its frame
    lampPanel->setGeometry(612, 2, 30, kStatusBarHeight - 2);
    lampPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    imgGreen = MakeLamp(StatusBar1, kLampGreenJpeg);
    imgRed = MakeLamp(StatusBar1, kLampRedJpeg);
    imgYellow = MakeLamp(StatusBar1, kLampYellowJpeg);
    imgRed->hide();
    imgYellow->hide();
}

}  // namespace qrb
