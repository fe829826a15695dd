// Writes that begin by listening for the radio rather than on a named port:
// `write --port auto` (the first port on which a radio announces itself) and
// station mode (`write --repeat --log FILE`: radio after radio, one log line
// each, until Ctrl+C).
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "cli/FileChecks.h"
#include "cli/TerminalHost.h"

namespace qrb::cli {

inline constexpr const char* kAutoPort = "auto";

struct ListeningWriteSetup {
    std::string port;        // kAutoPort or the port as given
    int portNumber = 0;      // the port number of a named port
    std::string devicePath;  // a named device path, opened as it is
    bool repeat = false;     // station mode
    std::string logFile;
    int watchdogSeconds = 60;
    std::FILE* trace = nullptr;
    std::string file;
    FileFacts facts;
    std::function<std::unique_ptr<TerminalHost>()> makeHost;  // one for each radio
};

// The exit status: 0 when the (single) write was confirmed, 1 otherwise;
// station mode ends with 1 (Ctrl+C, or a log that cannot be written).
int RunListeningWrite(const ListeningWriteSetup& setup);

}  // namespace qrb::cli
