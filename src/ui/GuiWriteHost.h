// The window program's side of a write run: instructions, lamp, version
// labels and progress bars go to the main window, which repaints at once
// (the run holds the GUI thread between its event passes); the dialog is
// hidden, shown and closed; the boxes are placed relative to the main window.
#pragma once

#include "writing/WriteHost.h"

class QProgressBar;

namespace qrb {

class TfrmMain;
class TfrmMsg;

class GuiWriteHost : public WriteHost {
  public:
    GuiWriteHost(TfrmMain& main, TfrmMsg& dialog) : main_(main), dialog_(dialog) {}

    void setInstructionText(const std::string& text) override;
    void showStatusLamp(int kind) override;
    void setVersionLabel(int target, const std::string& text) override;
    void setProgressRange(ProgressBarId bar, int minimum, int maximum) override;
    void setProgressPosition(ProgressBarId bar, int position) override;
    void setProgressVisible(ProgressBarId bar, bool visible) override;
    void hideDialog() override;
    void showDialog() override;
    void closeDialog() override;
    bool askProblemOnComPort() override;
    bool askOkConfirmation() override;
    void showError(const std::string& message) override;

  private:
    QProgressBar* Bar(ProgressBarId bar) const;

    TfrmMain& main_;
    TfrmMsg& dialog_;
};

}  // namespace qrb
