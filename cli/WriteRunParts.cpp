#include "cli/WriteRunParts.h"

#include <cstdio>

#include "cli/TerminalHost.h"
#include "cli/Usage.h"

namespace qrb::cli {

SharedState StateForWrite(const FileFacts& facts, const std::string& file, int portNumber) {
    SharedState state;
    state.SelectedTarget = facts.target;
    state.SelectedFileName = file;
    state.WriteAllAreas = facts.header.WriteAllAreas;
    state.ComPortNumber = portNumber;
    return state;
}

int ExitStatusFor(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Completed:
            return kExitOk;
        case RunOutcome::FileError:
            return kExitUsage;
        case RunOutcome::Ended:
            break;
    }
    return kExitFailed;
}

RunWatchdog::RunWatchdog(int seconds, TerminalHost& host, WriteRun& run) {
    timer_.setSingleShot(true);
    if (seconds <= 0) {
        return;
    }
    timer_.setInterval(seconds * 1000);
    QObject::connect(&timer_, &QTimer::timeout, [this, seconds, &run] {
        std::fprintf(stderr,
                     "\nqrb117-cli: no exchange with the radio for %d s; cancelling the write\n",
                     seconds);
        fired_ = true;
        run.btnWCancelClick();
    });
    host.setOnActivity([this] { timer_.start(); });
    timer_.start();
}

}  // namespace qrb::cli
