// The three target procedures that the write run calls after a successful
// handshake, and their steps. Each returns a result code: 0 success, any
// other value a failure (the driver treats them alike).
#pragma once

#include "writing/WriteFramework.h"

namespace qrb {

// Master CPU: 256 KiB image in 1953 numbered 128-byte frames.
int WriteMasterCpu(WriteFramework& fw);
int TransferMasterImage(WriteFramework& fw);

// Slave CPU: the file's Intel HEX lines, one frame per line.
int WriteSlaveCpu(WriteFramework& fw);
int SelectErase(WriteFramework& fw);
int TransferSlaveLines(WriteFramework& fw);

// OLU-6 option unit: programming command sequence, stored routines, erase,
// 128 KiB image in address frames, the unit's sum.
int WriteOptionUnit(WriteFramework& fw);
int TransferOptionImage(WriteFramework& fw);

}  // namespace qrb
