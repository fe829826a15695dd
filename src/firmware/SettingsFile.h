// The settings file: one line holding the COM port number in decimal digits,
// no line end, nothing else. The path is given by the caller (normally the
// program name + ".ini", relative to the current directory).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qrb {

// The integer rules shared by the settings file and the Configure dialog:
// leading blanks, an optional sign, then decimal digits, or hexadecimal
// digits after "$", "x", "X", "0x" or "0X", up to the end of the text.
// Anything else, the empty text included, is not an integer. A value outside
// the signed 32-bit range is not an integer either.
std::optional<int> ParseSettingsInteger(std::string_view text);

// The port number the settings text stands for: its first line (up to CR, LF,
// a 0x1A byte or the end) as an integer, or 1 when that is not an integer.
int PortNumberFromSettingsText(std::string_view text);

// Reads the file into comPortNumber. False, leaving comPortNumber unchanged,
// when the file cannot be opened or read.
bool ReadSettings(const std::string& path, int& comPortNumber);

// Writes comPortNumber as decimal digits (a minus sign when negative). False
// when the file cannot be created or emptied. The new content replaces the old
// in one step where the folder allows it, so a reader never sees half a line.
bool WriteSettings(const std::string& path, int comPortNumber);

}  // namespace qrb
