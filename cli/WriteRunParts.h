// What a write run of the CLI shares, whether it starts on a named port or
// after listening for the radio: the state the run reads, the watchdog that
// cancels a run in which no exchange with the radio completed for a while,
// and the exit status of its outcome.
#pragma once

#include <QTimer>
#include <string>

#include "cli/FileChecks.h"
#include "writing/RadioQRB.h"
#include "writing/SharedState.h"

namespace qrb::cli {

class TerminalHost;

// The state of a write of `file` through the port with this number.
SharedState StateForWrite(const FileFacts& facts, const std::string& file, int portNumber);

// 0 for a confirmed completion, 2 for a file error, 1 for the rest.
int ExitStatusFor(RunOutcome outcome);

class RunWatchdog {
  public:
    // Seconds 0 turns it off. Every exchange the host reports restarts it.
    RunWatchdog(int seconds, TerminalHost& host, WriteRun& run);
    RunWatchdog(const RunWatchdog&) = delete;
    RunWatchdog& operator=(const RunWatchdog&) = delete;

    bool fired() const { return fired_; }
    void stop() { timer_.stop(); }

  private:
    QTimer timer_;
    bool fired_ = false;
};

}  // namespace qrb::cli
