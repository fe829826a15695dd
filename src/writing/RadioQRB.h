// The write run: the driver loop behind the write dialog, the handshake that
// meets the radio and identifies the unit, and the dispatch to the target
// procedure of the selected file.
//
// One WriteRun lives for one write dialog. It owns the receive framework,
// which becomes the line's event sink; the line must outlive the run. Front
// ends call RunWrite() once (the dialog's auto-start timer) and
// btnWCancelClick() for the dialog's Cancel button, which is seen while the
// run pumps events.
#pragma once

#include <exception>

#include "writing/Line.h"
#include "writing/SharedState.h"
#include "writing/StepResult.h"
#include "writing/WriteFramework.h"
#include "writing/WriteHost.h"

namespace qrb {

// How a run ended, for front ends that go on after it (the CLI's exit code).
enum class RunOutcome {
    Completed,  // the write finished and the person confirmed "Ok ?"
    Ended,      // the person ended it: Cancel, or a failure not retried
    FileError,  // the firmware file could not be read or was refused
};

class WriteRun {
  public:
    WriteRun(Line& line, WriteHost& host, SharedState& state);

    // The driver loop: attempts until the write is confirmed or the person
    // ends the run. After a Cancel during a transfer, or in the failure box
    // that follows one, the port is left open as the dialog leaves it; the
    // line's owner closes it when it goes.
    RunOutcome RunWrite();

    // The handshake steps: Ok, Failed (also on a stop), NoReply (the radio
    // sent nothing: ConnectRadio) or BadChecksum (a whole answer).
    StepResult Handshake();
    void ConfigurePort();
    StepResult ConnectRadio();
    StepResult IdentifyUnit();
    StepResult ReadMasterVersion();
    StepResult ReadUnitVersion();

    // The dialog's Cancel button.
    void btnWCancelClick();

    WriteFramework& framework() { return fw_; }

  private:
    StepResult RunTargetProcedure();
    void AskAfterFailedHandshake();
    void AskAfterFailedTransfer();
    RunOutcome EndOnFileError(const std::exception& error);

    WriteFramework fw_;
};

}  // namespace qrb
