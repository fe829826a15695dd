// The commands of qrb117-cli. Each takes its arguments after the command
// name and returns the exit status; bad usage throws UsageError.
#pragma once

#include "cli/CommandLine.h"

namespace qrb::cli {

int RunPorts(const Arguments& args);
int RunInfo(const Arguments& args);
int RunWrite(const Arguments& args);
int RunEncode(const Arguments& args);

}  // namespace qrb::cli
