// The main window: the firmware files of the current folder with their
// target filters, the selected file's header, Configure and WRITE, the
// instruction area that the write run writes into, its progress bars and the
// status lamp. It owns the state that the write run shares.
//
// The controls carry the names of the form; handlers are the control name
// plus the event.
#pragma once

#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "firmware/FileCatalogue.h"
#include "ui/RowDragGrid.h"
#include "version/U_About.h"
#include "writing/Line.h"
#include "writing/SharedState.h"
#include "writing/WriteHost.h"

class QComboBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace qrb {

class TargetButton;
class TCommX;

class TfrmMain : public QWidget {
    Q_OBJECT
  public:
    // Runs the start-up sequence; versionData stands for the program's own.
    explicit TfrmMain(const VersionData& versionData = ProgramVersionData(),
                      QWidget* parent = nullptr);
    ~TfrmMain() override;

    // --- State shared with the write run and the Configure dialog ---
    SharedState& State() { return state_; }
    const SharedState& State() const { return state_; }
    const FileCatalogue& Catalogue() const { return catalogue_; }
    QString ProgramName;       // ProductName of the version data
    QString SettingsFilePath;  // ProgramName + ".ini", relative to the current directory
    QString FirmwareFolder() const;

    // The serial line a write run talks on; the production line unless a
    // test puts another one here.
    std::function<std::unique_ptr<Line>()> MakeWriteLine;

    // --- Offered to the write run ---
    // Shows the one lamp asked for; a value that names no lamp changes nothing.
    void ShowStatusLamp(StatusLamp lamp);
    // Label1, the instruction area; the text as given (lines joined by CR LF).
    void SetInstructionText(const QString& text);
    QString InstructionText() const { return instructionText_; }
    // Label5, Label6, Label7 by target.
    QLabel* VersionLabel(WriteTarget target) const;
    QProgressBar* ProgressBar(int number) const;  // 1 or 2

    // --- Handlers ---
    void FormCreate();
    void btnWRITEClick();
    void btnConfigClick();
    void btnCloseClick();
    void btnReloadClick();
    void btnBrowseClick();
    void grdFileListClick();
    void TargetButtonClick(int target);        // btnMasterCPUClick and its twins
    void TargetButtonAccelerator(int target);  // Alt+M, Alt+S, Alt+O
    void TargetButtonMouseUp(int target);      // btnMasterCPUMouseUp and its twins
    void UpdateWriteButton();

    // --- Controls ---
    QFrame* Panel1 = nullptr;
    RowDragGrid* grdFileList = nullptr;
    QPushButton* btnConfig = nullptr;
    QPushButton* btnReload = nullptr;
    QPushButton* btnBrowse = nullptr;
    QComboBox* cmbBRT = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Image1 = nullptr;
    QFrame* Panel8 = nullptr;
    TargetButton* btnMasterCPU = nullptr;
    TargetButton* btnSlaveCPU = nullptr;
    TargetButton* btnOLU6 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QPushButton* btnWRITE = nullptr;
    QPushButton* btnClose = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QFrame* Panel7 = nullptr;
    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QFrame* StatusBar1 = nullptr;
    QLabel* StatusPanel0 = nullptr;  // panel 0 of the status bar: FirmwareFolder
    QLabel* imgGreen = nullptr;
    QLabel* imgRed = nullptr;
    QLabel* imgYellow = nullptr;
    // The window's own serial component: only the start-up port search uses it.
    TCommX* CommX = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CreateControls();
    void CentreOnScreen();
    void SetTabOrder();
    void ConnectHandlers();
    void WatchMouseMoves();
    void ShowCatalogue();
    void SetFirmwareFolder(const QString& folder);
    void FindComPort();
    void ShowComPort();
    TargetButton* TargetButtonOf(int target) const;

    const VersionData& versionData_;
    SharedState state_;
    FileCatalogue catalogue_;
    QString instructionText_;
};

}  // namespace qrb
