// The short help texts that the main window shows in its instruction area
// when the mouse moves over a control.
#pragma once

#include <QString>

#include "writing/SharedState.h"

namespace qrb {

inline constexpr char kFileListHelp[] = "Choose the file which should be written.";
inline constexpr char kMasterCpuButtonHelp[] =
    "When this button is clicked, Only the file about the RQ-7300 Master CPU is displayed.";
inline constexpr char kSlaveCpuButtonHelp[] =
    "When this button is clicked, Only the file about the RQ-7300 Slave CPU is displayed.";
inline constexpr char kOptionUnitButtonHelp[] =
    "When this button is clicked, Only the file about the OLU-6 is displayed.";
inline constexpr char kConfigureButtonHelp[] =
    "Select the COM port in the Pull-down menu, in order to connect to the radio.";
inline constexpr char kCloseButtonHelp[] = "Exit from the program.";

// The six lines for the WRITE button, joined by CR LF with no break at the
// end; the first line names the unit of the selected file.
QString WriteButtonHelp(WriteTarget selectedTarget);

}  // namespace qrb
