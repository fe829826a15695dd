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

class TerminalHost : public WriteHost {
  public:
    TerminalHost(HostAnswers answers, bool stderrIsTerminal);

    // Called whenever the run shows that it moves on (a watchdog listens).
    void setOnActivity(std::function<void()> callback) { onActivity_ = std::move(callback); }

    void setInstructionText(const std::string& text) override;
    void showStatusLamp(StatusLamp /*lamp*/) override {}
    void setVersionLabel(WriteTarget target, const std::string& text) override;
    void workStarted(WorkPhase phase, int total) override;
    void workProgressed(const WorkProgress& progress) override;
    void workEnded() override;
    // The terminal has no dialog to move.
    void showingOutcome() override {}
    void retrying() override {}
    void runEnding() override {}
    bool askProblemOnComPort() override;
    bool askOkConfirmation() override;
    void showError(const std::string& message) override;

  private:
    void activity();

    HostAnswers answers_;
    ProgressDisplay progress_;
    int attemptsMade_ = 1;
    std::string lastText_;
    std::function<void()> onActivity_;
};

// Window texts use CR LF; a terminal wants LF.
std::string TerminalText(const std::string& text);

// Reads one answer line from the terminal after printing the prompt on
// standard error; false at end of input.
bool AskLine(const std::string& prompt, std::string& answer);

}  // namespace qrb::cli
