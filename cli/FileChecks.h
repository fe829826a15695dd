// Reads a firmware file the way a write will, before any port is opened, so
// that a file the readers refuse ends the command with its message.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "firmware/U_FileAccessQRB.h"
#include "writing/SharedState.h"

namespace qrb::cli {

struct FileFacts {
    WriteTarget target = kMasterCpu;
    SflHeader header;
    std::string checksumText;  // S-record targets
    int slaveLineCount = 0;    // Slave CPU
};

// Throws FileProblem with a complete message when the file cannot be read,
// has no record start, is refused by the readers, or its target cannot be
// told from its name (and none is given).
FileFacts CheckFirmwareFile(const std::string& file, std::optional<WriteTarget> target);

class FileProblem : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

std::string TargetName(WriteTarget target);

}  // namespace qrb::cli
