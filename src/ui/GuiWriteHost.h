// The window program's side of a write run: instructions, lamp, version
// labels and progress bars go to the main window, which repaints at once
// (the run holds the GUI thread between its event passes); the dialog steps
// aside while an outcome is shown, comes back for another attempt and closes
// when the run ends; the boxes are placed relative to the main window.
#pragma once

#include "writing/WindowBars.h"
#include "writing/WriteHost.h"

class QProgressBar;

namespace qrb {

class TfrmMain;
class TfrmMsg;

class GuiWriteHost : public WriteHost, private ProgressBars {
  public:
    GuiWriteHost(TfrmMain& main, TfrmMsg& dialog) : main_(main), dialog_(dialog) {}

    void setInstructionText(const std::string& text) override;
    void showStatusLamp(StatusLamp lamp) override;
    void setVersionLabel(WriteTarget target, const std::string& text) override;
    void workStarted(WorkPhase phase, int total) override { bars_.workStarted(phase, total); }
    void workProgressed(const WorkProgress& progress) override { bars_.workProgressed(progress); }
    void workEnded() override { bars_.workEnded(); }
    void showingOutcome() override;
    void retrying() override;
    void runEnding() override;
    bool askProblemOnComPort() override;
    bool askOkConfirmation() override;
    void showError(const std::string& message) override;

  private:
    // ProgressBars: the main window's ProgressBar1 and ProgressBar2.
    void setRange(ProgressBarId bar, int minimum, int maximum) override;
    void setPosition(ProgressBarId bar, int position) override;
    void setVisible(ProgressBarId bar, bool visible) override;
    QProgressBar* Bar(ProgressBarId bar) const;

    TfrmMain& main_;
    TfrmMsg& dialog_;
    WindowBars bars_{*this};
};

}  // namespace qrb
