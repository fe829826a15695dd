// The Slave CPU line transfer with lines already read from the firmware
// file. WriteSlaveCpu reads them before its first command, so that a refused
// or unreadable file stops the write with nothing sent to the radio.
#pragma once

#include <string>
#include <vector>

#include "writing/WriteFramework.h"

namespace qrb {

// Sends each line in its frame and then the end frame: Ok, Failed (not
// acknowledged, or a stop requested), NoReply (no reply in time) or
// EndNotAcknowledged.
StepResult TransferSlaveLines(WriteFramework& fw, const std::vector<std::string>& lines);

}  // namespace qrb
