// The two message boxes of a write run, placed relative to the main window:
// "Problem on COM port" after a failure and "Ok ?" after a completed write.
#pragma once

class QWidget;

namespace qrb {

// Error box with OK and Cancel at the main window's left + 150, top + 150.
// False only when the answer is Cancel (closing the box counts as Cancel).
bool AskProblemOnComPort(QWidget* mainWindow);

// Confirmation box with OK at the main window's left + 200, top + 150.
// True only when OK was pressed (closing the box otherwise gives false).
bool AskOkConfirmation(QWidget* mainWindow);

}  // namespace qrb
