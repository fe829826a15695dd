// Whether a COM port can be opened: the test the start-up search runs on
// COM1 to COM10, and the words that tell the person when a port exists but
// may not be opened by this user (on Linux: not in the dialout group).
#pragma once

#include <QString>

#include <string>
#include <system_error>

#include "writing/SharedState.h"

namespace qrb {

class TCommX;

// Why the last probe failed.
struct ComPortProbeFailure {
    int portNo = 0;
    std::string devicePath;  // empty when the number stands for no device
    std::error_code error;   // the operating system's reason, when known
    std::string message;     // the serial component's error text

    bool IsPermissionDenied() const;
};

// Sets ComBitRate to 38400, opens `comm` on COM<portNo> and closes it again
// whether or not the open succeeded. True when it opened. A failed open only
// yields false; when `failure` is given it then receives the reason.
bool ProbeComPort(TCommX& comm, int portNo, SharedState& state,
                  ComPortProbeFailure* failure = nullptr);

// EACCES or EPERM: the device is there but this user may not open it.
bool IsPermissionError(int errorNumber);

// A short text for a tooltip or status line, e.g. "No permission to open
// /dev/ttyUSB0. Add the user to the dialout group ...".
QString ComPortPermissionHint(const std::string& devicePath);

}  // namespace qrb
