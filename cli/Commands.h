// The commands of qrb117-cli. Each takes its arguments after the command
// name and returns the exit status; bad usage throws UsageError.
#pragma once

#include "cli/CommandLine.h"

namespace qrb::cli {

int RunPorts(const Arguments& args);
int RunInfo(const Arguments& args);
int RunWrite(const Arguments& args);
int RunEncode(const Arguments& args);
int RunDetect(const Arguments& args);
// Listens on every COM port for `seconds` and prints what each one had.
int DetectRadios(int seconds);

}  // namespace qrb::cli
