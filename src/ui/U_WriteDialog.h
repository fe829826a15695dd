// The write dialog: a small modal window ("Now writing..." and Cancel) that
// the main window opens for one press of WRITE. 100 ms after it appears it
// runs the write run once, on its own serial line; the run writes its
// instructions, progress and lamp into the main window.
//
// Hiding the dialog only makes it invisible: it stays modal until the run
// closes it (or Cancel does) and the running handler has returned. A close
// while the run goes on only sets the modal result; the dialog stays on
// screen and the main window blocked until the run has returned.
#pragma once

#include <QDialog>

#include <memory>

#include "writing/Line.h"

class QEventLoop;
class QLabel;
class QPushButton;
class QTimer;

namespace qrb {

class GuiWriteHost;
class TfrmMain;
class WriteRun;

class TfrmMsg : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kModalResultOk = 1;
    static constexpr int kModalResultCancel = 2;

    // line: the serial line of this run; the dialog owns it and closes it
    // when it goes.
    TfrmMsg(TfrmMain& frmMain, std::unique_ptr<Line> line);
    ~TfrmMsg() override;

    // Shows the dialog modally; returns its modal result.
    int ShowModal();
    // Modal result Cancel; the modal state ends now, or when the running
    // handler has returned.
    void CloseDialog();

    void FormCreate();
    void tmrAutoStartButtonTimer();
    void btnWCancelClick();

    QLabel* Label1 = nullptr;
    QPushButton* btnWCancel = nullptr;
    QTimer* tmrAutoStartButton = nullptr;

  protected:
    // Escape and the window's close act as the Cancel button.
    void reject() override;

  private:
    void EndModal();
    void RunFinished();

    TfrmMain& frmMain_;
    std::unique_ptr<Line> line_;
    std::unique_ptr<GuiWriteHost> host_;
    std::unique_ptr<WriteRun> run_;
    QEventLoop* modalLoop_ = nullptr;
    int modalResult_ = 0;
    bool runInProgress_ = false;
    bool closePending_ = false;  // closed during the run: ends when it returns
};

}  // namespace qrb
