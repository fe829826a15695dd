// The fixed texts of a write run: what the instruction label shows while the
// run talks to the radio, after a failure and after a completed write, and
// the captions of the run's two message boxes.
#pragma once

namespace qrb {

inline constexpr const char* kRunningText = "Now writing...";

inline constexpr const char* kFailureText =
    "No acknowledgement from the radio.  Please do the following procedure again.\r\n"
    "1. Turn off the radio.\r\n"
    "2. Connect the radio and PC via UIA-40 or UIA-42 with LC-508B.\r\n"
    "3. Turn on the radio.\r\n"
    "4. Click on the OK button on the screen.";

// Every target procedure puts its own lines (checksums) in front of it.
inline constexpr const char* kCompletionText =
    "\r\nThe writing procedure is completed.  To terminate the writing procedure, follow the "
    "steps below.\r\n"
    "1. Click on the OK button on the screen.\r\n"
    "2. Turn off the radio.\r\n"
    "3. Remove a LC-508B from the radio.";

inline constexpr const char* kProblemOnComPortText = "Problem on COM port";
inline constexpr const char* kOkConfirmationText = "Ok ?";

}  // namespace qrb
