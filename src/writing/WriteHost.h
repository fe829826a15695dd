// What a write run shows and asks: the front end's side of the engine.
//
// The window program implements it with the main window and the write
// dialog, the command-line program on the terminal, tests by recording.
#pragma once

#include <string>

#include "writing/SharedState.h"

namespace qrb {

// The main window's status lamp: red while a run talks to the radio, yellow
// after a failure, green when no run is going. The values are the lamp kinds
// the window has always been asked for.
enum class StatusLamp { Red = 2, Yellow = 4, Green = 5 };

// The stretches of work a run reports on, one per kind of frame it sends.
enum class WorkPhase {
    MasterBlocks,   // the Master CPU image in numbered block frames
    SlaveLines,     // the Slave CPU file in line frames
    OptionRoutine,  // one stored routine loaded into the option unit
    OptionBlocks,   // the option unit image in address frames
};

// How a front end names a phase: "Loading routine" or "Writing firmware".
const char* PhaseName(WorkPhase phase);

// How far a phase has come.
struct WorkProgress {
    WorkPhase phase = WorkPhase::MasterBlocks;
    int done = 0;   // units finished: frames or lines acknowledged, routine bytes sent
    int total = 0;  // units of the whole phase
    // Where the phase stands in the firmware, as the procedure counts it:
    // Master CPU the image blocks passed (0..2048, the blocks it leaves out
    // counted when passed), option unit the index of the block passed last
    // (sent or left out), Slave CPU the index of the last line acknowledged,
    // a routine the bytes sent. A report whose done did not grow passed a
    // block that is not sent.
    int position = 0;
};

class WriteHost {
  public:
    virtual ~WriteHost() = default;

    // The main window's instruction label (Label1).
    virtual void setInstructionText(const std::string& text) = 0;
    virtual void showStatusLamp(StatusLamp lamp) = 0;
    // The version label under the target's button (Label5, Label6, Label7).
    virtual void setVersionLabel(WriteTarget target, const std::string& text) = 0;

    // A phase begins with nothing done of total units, moves on, and all
    // work ends when the transfer is over, whatever its outcome.
    virtual void workStarted(WorkPhase phase, int total) = 0;
    virtual void workProgressed(const WorkProgress& progress) = 0;
    virtual void workEnded() = 0;

    // The run's turns, which the window follows with the write dialog:
    // the outcome of a transfer (completion or failure) is about to be
    // shown and asked about (the dialog steps aside); another attempt
    // follows a failed transfer (the dialog comes back); the run ends (the
    // dialog closes).
    virtual void showingOutcome() = 0;
    virtual void retrying() = 0;
    virtual void runEnding() = 0;

    // "Problem on COM port": true for another attempt, false for Cancel.
    virtual bool askProblemOnComPort() = 0;
    // "Ok ?": true when answered with OK.
    virtual bool askOkConfirmation() = 0;
    // An error that ends the run outside the protocol (a firmware file that
    // cannot be read or is refused); shown like the application's error box.
    virtual void showError(const std::string& message) = 0;
};

}  // namespace qrb
