// What a write run shows and asks: the front end's side of the engine.
//
// The window program implements it with the main window and the write
// dialog, the command-line program on the terminal, tests by recording.
#pragma once

#include <string>

namespace qrb {

enum class ProgressBarId { Bar1, Bar2 };  // ProgressBar1, ProgressBar2

class WriteHost {
public:
    virtual ~WriteHost() = default;

    // The main window's instruction label (Label1).
    virtual void setInstructionText(const std::string& text) = 0;
    // 2 red, 4 yellow, 5 green; any other value changes nothing.
    virtual void showStatusLamp(int kind) = 0;
    // The version label under the target's button (Label5, Label6, Label7).
    virtual void setVersionLabel(int target, const std::string& text) = 0;

    virtual void setProgressRange(ProgressBarId bar, int minimum, int maximum) = 0;
    virtual void setProgressPosition(ProgressBarId bar, int position) = 0;
    virtual void setProgressVisible(ProgressBarId bar, bool visible) = 0;

    // The write dialog: hidden while a failure or the completion is shown,
    // shown again for a new attempt, closed when the run is over.
    virtual void hideDialog() = 0;
    virtual void showDialog() = 0;
    virtual void closeDialog() = 0;

    // "Problem on COM port": true for another attempt, false for Cancel.
    virtual bool askProblemOnComPort() = 0;
    // "Ok ?": true when answered with OK.
    virtual bool askOkConfirmation() = 0;
    // An error that ends the run outside the protocol (a firmware file that
    // cannot be read or is refused); shown like the application's error box.
    virtual void showError(const std::string& message) = 0;
};

}  // namespace qrb
