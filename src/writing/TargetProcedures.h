// The three target procedures that the write run calls after a successful
// handshake, and their steps. Each ends with a result: Ok, or a failure that
// the driver treats like any other.
#pragma once

#include "writing/StepResult.h"
#include "writing/WriteFramework.h"

namespace qrb {

// Master CPU: 256 KiB image in 1953 numbered 128-byte frames.
StepResult WriteMasterCpu(WriteFramework& fw);
StepResult TransferMasterImage(WriteFramework& fw);

// Slave CPU: the file's Intel HEX lines, one frame per line.
StepResult WriteSlaveCpu(WriteFramework& fw);
StepResult SelectErase(WriteFramework& fw);
StepResult TransferSlaveLines(WriteFramework& fw);

// OLU-6 option unit: programming command sequence, stored routines, erase,
// 128 KiB image in address frames, the unit's sum.
StepResult WriteOptionUnit(WriteFramework& fw);
StepResult TransferOptionImage(WriteFramework& fw);

}  // namespace qrb
