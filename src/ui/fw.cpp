#include "ui/fw.h"

#include "ui/LookAlikeFonts.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTableWidget>

#include "firmware/SettingsFile.h"
#include "serial/CommX.h"
#include "ui/ComProbe.h"
#include "ui/DefaultErrorBox.h"
#include "ui/GridColumnSizer.h"
#include "ui/HelpTexts.h"
#include "ui/PosDlgs.h"
#include "ui/TargetButton.h"
#include "ui/U_Config.h"
#include "ui/U_WriteDialog.h"
#include "writing/CommXLine.h"

namespace qrb {

namespace {

// Firmware files are 8-bit text; their header lines are shown byte for byte.
QString FromFileText(const std::string& text) {
    return QString::fromLatin1(text);
}

// File and folder names are kept as the file system gives them.
QString FromFileName(const std::string& name) {
    return QFile::decodeName(name.c_str());
}
std::string ToFileName(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

constexpr int kPortsSearched = 10;

// The item of cmbBRT that shows a bit rate, -1 for none.
int BitRateItem(int bitRate) {
    switch (bitRate) {
        case 4800:
            return 0;
        case 9600:
            return 1;
        case 19200:
            return 2;
        case 38400:
            return 3;
        default:
            return -1;
    }
}

// The text of a version value without the NUL that the lookup leaves at its end.
QString WithoutLastCharacter(const std::string& value) {
    return QString::fromStdString(value.empty() ? value : value.substr(0, value.size() - 1));
}

}  // namespace

TfrmMain::TfrmMain(const VersionData& versionData, QWidget* parent)
    : QWidget(parent), versionData_(versionData), catalogue_(ToFileName(QDir::currentPath())) {
    RegisterLookAlikeFonts();
    CreateControls();
    CommX = new TCommX(this);
    CommX->setBitRate(38400);
    CommX->setStopBit(TCommStopBits::csb2);
    MakeWriteLine = [] { return std::make_unique<CommXLine>(); };
    CentreOnScreen();
    SetTabOrder();
    ConnectHandlers();
    WatchMouseMoves();
    new GridColumnSizer(grdFileList, [this] { return catalogue_.headerRowFixed(); });
    ShowCatalogue();
    // An error of the start-up sequence is reported like one of any handler;
    // the window then opens with what was done up to there.
    RunGuarded([this] { FormCreate(); });
}

TfrmMain::~TfrmMain() = default;

QString TfrmMain::FirmwareFolder() const {
    return FromFileName(catalogue_.FirmwareFolder);
}

void TfrmMain::CentreOnScreen() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->geometry().center() - rect().center());
    }
}

void TfrmMain::SetTabOrder() {
    QWidget::setTabOrder(grdFileList, btnReload);
    QWidget::setTabOrder(btnReload, btnWRITE);
    QWidget::setTabOrder(btnWRITE, btnClose);
    QWidget::setTabOrder(btnClose, btnBrowse);
    QWidget::setTabOrder(btnBrowse, btnConfig);
    grdFileList->setFocus();
}

void TfrmMain::ConnectHandlers() {
    connect(btnConfig, &QPushButton::clicked, this, Reported([this] { btnConfigClick(); }));
    connect(btnReload, &QPushButton::clicked, this, Reported([this] { btnReloadClick(); }));
    connect(btnBrowse, &QPushButton::clicked, this, Reported([this] { btnBrowseClick(); }));
    connect(btnWRITE, &QPushButton::clicked, this, Reported([this] { btnWRITEClick(); }));
    connect(btnClose, &QPushButton::clicked, this, Reported([this] { btnCloseClick(); }));
    for (int target = 0; target < kTargetCount; ++target) {
        TargetButton* button = TargetButtonOf(target);
        connect(button, &QPushButton::clicked, this,
                Reported([this, target] { TargetButtonClick(target); }));
        connect(button, &TargetButton::mouseUp, this,
                [this, target] { TargetButtonMouseUp(target); });
    }
    connect(grdFileList, &QTableWidget::currentCellChanged, this,
            [this](int row, int /*column*/, int previousRow, int /*previousColumn*/) {
                if (row >= 0 && row != previousRow) {
                    catalogue_.setCurrentRow(row);
                    RunGuarded([this] { grdFileListClick(); });
                }
            });
    // Each selection reads the header, also a click on the row that is
    // current already: its file may have changed or gone since.
    connect(grdFileList, &RowDragGrid::currentRowClicked, this, [this](int row) {
        catalogue_.setCurrentRow(row);
        RunGuarded([this] { grdFileListClick(); });
    });
    // A dragged row changes which row is where, nothing else: the selection
    // stays with the file, and no selection step runs.
    connect(grdFileList, &RowDragGrid::rowMoved, this, [this](int from, int to) {
        catalogue_.moveRow(from, to);
        catalogue_.setCurrentRow(grdFileList->currentRow());
    });

    // The accelerators of the target buttons. Close shares the letter O with
    // OLU-6; the OLU-6 button has it first and passes it on while disabled.
    const auto accelerator = [this](const char* keys, auto action) {
        auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(keys)), this);
        connect(shortcut, &QShortcut::activated, this, Reported(action));
    };
    accelerator("Alt+M", [this] { TargetButtonAccelerator(kCatalogueMasterCpu); });
    accelerator("Alt+S", [this] { TargetButtonAccelerator(kCatalogueSlaveCpu); });
    accelerator("Alt+O", [this] {
        if (btnOLU6->isEnabled()) {
            TargetButtonAccelerator(kCatalogueOptionUnit);
        } else if (btnClose->isEnabled()) {
            btnClose->animateClick();
        }
    });
}

// ---------------------------------------------------------------- start-up

void TfrmMain::FormCreate() {
    // 1. The Alt-key repaint component is a fix for one Windows toolkit; Qt
    //    repaints accelerator underlines itself.
    // 2. The ToggledByMouse flags start clear in the new catalogue.

    // 3.-6. Name and version from the version data.
    std::string productName;
    std::string productVersion;
    GetVersionString(kProductNameKey, productName, versionData_);
    GetVersionString(kProductVersionKey, productVersion, versionData_);
    ProgramName = WithoutLastCharacter(productName);
    Label4->setText(ProgramName + QStringLiteral(" Ver.") + WithoutLastCharacter(productVersion));
    setWindowTitle(ProgramName + QStringLiteral(" for DSP"));
    SettingsFilePath = ProgramName + QStringLiteral(".ini");

    // 7. The header row is the catalogue's row 0.
    // 8.
    btnWRITE->setEnabled(false);
    // 9.
    SetFirmwareFolder(QDir::currentPath());
    // 10. A file that cannot be read is reported, and start-up goes on: the
    //     port search and the lamp do not depend on it.
    RunGuarded(Reported([this] { btnReloadClick(); }));
    // 11.-12.
    FindComPort();
    ShowComPort();
    // 13.-14.
    cmbBRT->setCurrentIndex(3);
    ShowStatusLamp(StatusLamp::Green);
    // 15. Qt gives the main window the program's only taskbar entry; its
    //     dialogs are transient children and get none.
}

// Start-up step 11: the port of the settings file, or else the first of
// COM1 to COM10 that opens, which is then remembered.
void TfrmMain::FindComPort() {
    if (ReadSettings(ToFileName(SettingsFilePath), state_.ComPortNumber)) {
        return;
    }
    state_.ComPortNumber = 0;
    std::string deniedDevice;
    for (int portNo = 1; portNo <= kPortsSearched; ++portNo) {
        ComPortProbeFailure failure;
        if (ProbeComPort(*CommX, portNo, state_, &failure)) {
            state_.ComPortNumber = portNo;
            WriteSettings(ToFileName(SettingsFilePath), state_.ComPortNumber);
            return;
        }
        if (deniedDevice.empty() && failure.IsPermissionDenied()) {
            deniedDevice = failure.devicePath;
        }
    }
    // A port that exists but may not be opened is the usual reason for
    // COM0 on Linux; say so where the port is shown.
    if (!deniedDevice.empty()) {
        Label2->setToolTip(ComPortPermissionHint(deniedDevice));
    }
}

void TfrmMain::ShowComPort() {
    Label2->setText(QStringLiteral("COM Port:COM") + QString::number(state_.ComPortNumber));
}

// ---------------------------------------------------- shared with the run

void TfrmMain::ShowStatusLamp(StatusLamp lamp) {
    QLabel* shown = nullptr;
    switch (lamp) {
        case StatusLamp::Red:
            shown = imgRed;
            break;
        case StatusLamp::Yellow:
            shown = imgYellow;
            break;
        case StatusLamp::Green:
            shown = imgGreen;
            break;
        default:
            return;
    }
    for (QLabel* picture : {imgGreen, imgRed, imgYellow}) {
        picture->setVisible(picture == shown);
    }
}

void TfrmMain::SetInstructionText(const QString& text) {
    instructionText_ = text;
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Label1->setText(shown);
}

QLabel* TfrmMain::VersionLabel(WriteTarget target) const {
    switch (target) {
        case kMasterCpu:
            return Label5;
        case kSlaveCpu:
            return Label6;
        case kOptionUnit:
            return Label7;
        default:
            return nullptr;
    }
}

QProgressBar* TfrmMain::ProgressBar(int number) const {
    return number == 1 ? ProgressBar1 : ProgressBar2;
}

// ------------------------------------------------------------- buttons

void TfrmMain::btnWRITEClick() {
    TfrmMsg frmMsg(*this, MakeWriteLine());
    frmMsg.setWindowTitle(QStringLiteral("Firmware Update"));
    frmMsg.ShowModal();
}

void TfrmMain::btnConfigClick() {
    {
        TfrmConfig frmConfig(state_, this);
        if (frmConfig.exec() == TfrmConfig::kModalResultOk) {
            const int item = BitRateItem(state_.ComBitRate);
            if (item >= 0) {
                cmbBRT->setCurrentIndex(item);
            }
            ShowComPort();
        }
    }
    // After OK and Cancel alike; a settings file that cannot be written is
    // not reported.
    WriteSettings(ToFileName(SettingsFilePath), state_.ComPortNumber);
}

void TfrmMain::btnCloseClick() {
    close();
}

// ------------------------------------------------------------ catalogue

void TfrmMain::SetFirmwareFolder(const QString& folder) {
    catalogue_.FirmwareFolder = ToFileName(folder);
    StatusPanel0->setText(QDir::toNativeSeparators(folder));
}

TargetButton* TfrmMain::TargetButtonOf(int target) const {
    switch (target) {
        case kCatalogueMasterCpu:
            return btnMasterCPU;
        case kCatalogueSlaveCpu:
            return btnSlaveCPU;
        default:
            return btnOLU6;
    }
}

// Mirrors the catalogue into the grid and the buttons.
void TfrmMain::ShowCatalogue() {
    const QSignalBlocker blockGrid(grdFileList);
    const GridRows& rows = catalogue_.rows();
    grdFileList->clearContents();
    grdFileList->setRowCount(static_cast<int>(rows.size()));
    const QBrush headerFace = palette().button();
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        const GridRow& cells = rows[static_cast<std::size_t>(row)];
        for (int column = 0; column < 3; ++column) {
            const std::string& text = cells[static_cast<std::size_t>(column)];
            auto* item = new QTableWidgetItem(column == kNameColumn ? FromFileName(text)
                                                                    : QString::fromStdString(text));
            if (row == 0 && catalogue_.headerRowFixed()) {
                // A fixed header row: drawn like a button face, never selected.
                item->setFlags(Qt::NoItemFlags);
                item->setBackground(headerFace);
                item->setForeground(palette().buttonText());
            } else {
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            }
            grdFileList->setItem(row, column, item);
        }
    }
    grdFileList->setCurrentCell(catalogue_.currentRow(), 0);

    for (int target = 0; target < kTargetCount; ++target) {
        TargetButton* button = TargetButtonOf(target);
        button->setEnabled(catalogue_.button(target).enabled);
        button->setChecked(catalogue_.button(target).down);
    }
}

void TfrmMain::UpdateWriteButton() {
    btnWRITE->setEnabled(catalogue_.WriteButtonEnabled());
}

void TfrmMain::btnReloadClick() {
    catalogue_.Reload();
    ShowCatalogue();
    UpdateWriteButton();
    grdFileListClick();
}

void TfrmMain::TargetButtonClick(int target) {
    // A completed mouse click: the button toggles, then its click handler runs.
    catalogue_.MouseClickTargetButton(target);
    ShowCatalogue();
    UpdateWriteButton();
    grdFileListClick();
}

void TfrmMain::TargetButtonAccelerator(int target) {
    if (!TargetButtonOf(target)->isEnabled()) {
        return;
    }
    catalogue_.PressTargetButton(target);
    ShowCatalogue();
    UpdateWriteButton();
    grdFileListClick();
}

void TfrmMain::TargetButtonMouseUp(int target) {
    catalogue_.MouseUpOnTargetButton(target);
}

void TfrmMain::grdFileListClick() {
    Memo1->clear();
    std::vector<std::string> lines;
    // Raises when the file cannot be opened: SelectedFileName then already
    // holds its name and Memo1 stays empty.
    catalogue_.SelectCurrentRow(state_.SelectedFileName, state_.SelectedTarget, lines,
                                state_.WriteAllAreas);
    QStringList shown;
    shown.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines) {
        shown.append(FromFileText(line));
    }
    Memo1->setPlainText(shown.join(u'\n'));
    UpdateWriteButton();
}

void TfrmMain::btnBrowseClick() {
    TFolderDialogPos FolderDlgPos(this);
    FolderDlgPos.Directory = FirmwareFolder();
    if (FolderDlgPos.Execute() && QDir::setCurrent(FolderDlgPos.Directory)) {
        SetFirmwareFolder(FolderDlgPos.Directory);
        btnReloadClick();
    }
}

// ---------------------------------------------------------- help texts

void TfrmMain::WatchMouseMoves() {
    // Mouse tracking everywhere a move must be seen: the controls with a help
    // text, the background, and the controls that, while disabled, pass the
    // mouse on to what lies beneath them.
    const std::initializer_list<QWidget*> watched = {
        Panel1,       Panel8,      grdFileList, grdFileList->viewport(),
        btnMasterCPU, btnSlaveCPU, btnOLU6,     btnConfig,
        btnWRITE,     btnClose,    Memo1,       Memo1->viewport(),
        cmbBRT,
    };
    for (QWidget* widget : watched) {
        widget->setMouseTracking(true);
        widget->installEventFilter(this);
        if (widget != Panel1 && widget != Panel8) {
            widget->setAttribute(Qt::WA_NoMousePropagation);
        }
    }
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || event->type() != QEvent::MouseMove) {
        return QWidget::eventFilter(watched, event);
    }
    if (!widget->isEnabled()) {
        // A disabled control passes the mouse to the control beneath it (Qt
        // would swallow it: disabled buttons take mouse events).
        const auto* move = static_cast<QMouseEvent*>(event);
        QMouseEvent passed(QEvent::MouseMove, widget->mapToParent(move->position()),
                           move->scenePosition(), move->globalPosition(), move->button(),
                           move->buttons(), move->modifiers());
        QApplication::sendEvent(widget->parentWidget(), &passed);
        return true;
    }
    if (widget == grdFileList || widget == grdFileList->viewport()) {
        SetInstructionText(QString::fromLatin1(kFileListHelp));
    } else if (widget == btnMasterCPU) {
        SetInstructionText(QString::fromLatin1(kMasterCpuButtonHelp));
    } else if (widget == btnSlaveCPU) {
        SetInstructionText(QString::fromLatin1(kSlaveCpuButtonHelp));
    } else if (widget == btnOLU6) {
        SetInstructionText(QString::fromLatin1(kOptionUnitButtonHelp));
    } else if (widget == btnConfig) {
        SetInstructionText(QString::fromLatin1(kConfigureButtonHelp));
    } else if (widget == btnClose) {
        SetInstructionText(QString::fromLatin1(kCloseButtonHelp));
    } else if (widget == btnWRITE) {
        SetInstructionText(WriteButtonHelp(state_.SelectedTarget));
    } else if (widget == Panel1 || widget == Panel8) {
        SetInstructionText(QString());
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace qrb
