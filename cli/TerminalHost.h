// The write run's host on a terminal: texts and the unit's version on
// standard output, progress on standard error, the two questions answered
// from the options or asked on the terminal.
#pragma once

#include <functional>
#include <string>

#include "cli/ProgressDisplay.h"
#include "writing/WriteHost.h"

namespace qrb::cli {

struct HostAnswers {
    bool confirmWithoutAsking = false;  // --yes
    int attempts = 1;                   // --attempts N
    bool attemptsGiven = false;         // ask after a failure when not given
    bool interactive = false;           // standard input is a terminal
};

// Where the last bar of a transfer ends, so the progress shown is the part
// of the work done, not the position on the window's bar.
struct TransferSpan {
    int first = 0;
    int last = 0;
};

class TerminalHost : public WriteHost {
  public:
    TerminalHost(HostAnswers answers, TransferSpan transfer, bool stderrIsTerminal);

    // Called whenever the run shows that it moves on (a watchdog listens).
    void setOnActivity(std::function<void()> callback) { onActivity_ = std::move(callback); }
    bool dialogClosed() const { return dialogClosed_; }

    void setInstructionText(const std::string& text) override;
    void showStatusLamp(int kind) override;
    void setVersionLabel(int target, const std::string& text) override;
    void setProgressRange(ProgressBarId bar, int minimum, int maximum) override;
    void setProgressPosition(ProgressBarId bar, int position) override;
    void setProgressVisible(ProgressBarId bar, bool visible) override;
    void hideDialog() override {}
    void showDialog() override { dialogClosed_ = false; }
    void closeDialog() override { dialogClosed_ = true; }
    bool askProblemOnComPort() override;
    bool askOkConfirmation() override;
    void showError(const std::string& message) override;

  private:
    void activity();

    HostAnswers answers_;
    TransferSpan transfer_;
    ProgressDisplay progress_;
    int attemptsMade_ = 1;
    bool routinePhase_ = false;
    bool dialogClosed_ = false;
    std::string lastText_;
    std::function<void()> onActivity_;
};

// Window texts use CR LF; a terminal wants LF.
std::string TerminalText(const std::string& text);

// Reads one answer line from the terminal after printing the prompt on
// standard error; false at end of input.
bool AskLine(const std::string& prompt, std::string& answer);

}  // namespace qrb::cli
