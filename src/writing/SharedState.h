// The state that the main window owns and the write run reads and writes:
// the chosen target and file, the decoder's key position, the stop flag and
// the serial settings. One instance lives in each front end.
#pragma once

#include <string>

namespace qrb {

// The firmware target: 0 Master CPU, 1 Slave CPU, 2 OLU-6 option unit.
using WriteTarget = int;
inline constexpr WriteTarget kMasterCpu = 0;
inline constexpr WriteTarget kSlaveCpu = 1;
inline constexpr WriteTarget kOptionUnit = 2;

struct SharedState {
    WriteTarget SelectedTarget = kMasterCpu;
    std::string SelectedFileName;  // opened relative to the current directory
    int KeyIndex = 0;              // position of the line decoder in its key, 0..42
    bool StopRequested = false;    // the current write run must end
    int ComPortNumber = 0;         // 1 = COM1; 0 when no port was found
    int ComBitRate = 0;            // bit/s
    bool WriteAllAreas = false;    // the selected file's header ends in an "ALL" line
};

}  // namespace qrb
