// Appending records to a log file so that they survive a crash: a last line
// an earlier crash cut short is ended first, and every append reaches the
// disk before the call returns. One implementation per platform.
#pragma once

#include <string>

namespace qrb::cli {

// "" when the file can be opened for appending (it is created when
// missing), otherwise the system's text for the failure.
std::string CheckAppendable(const std::string& path);

// Appends text and flushes it to the disk; "" or the system's text.
std::string AppendDurably(const std::string& path, std::string text);

}  // namespace qrb::cli
