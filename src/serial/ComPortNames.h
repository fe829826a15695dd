// COM port numbers and the devices that stand for them.
//
// The program names its ports COM1, COM2, ... as the radio's manual does. On
// Windows COM<n> is the device \\.\COM<n>. On Linux these map to device nodes: COM1-32 are
// /dev/ttyS0-31, COM33-64 are /dev/ttyUSB0-31 and COM65-96 are /dev/ttyACM0-31. The environment
// variable QRB117_COMPORTS ("COM<n>=<device path>;COM<m>=<path>...") adds ports or overrides these,
// e.g. to point a port at a simulator's pseudo-terminal.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace qrb {

// The device path for COM<portNo>: an override from QRB117_COMPORTS first,
// otherwise the fixed mapping; "" when the number has no device. On Windows
// always \\.\COM<portNo>.
std::string ComPortDevicePath(int portNo);

// Why the current user may not open the device (an errno value), 0 when
// nothing stands in the way that can be told without opening it.
int ComPortAccessError(const std::string& devicePath);

// The ports that QRB117_COMPORTS names, port number -> device path, read from
// the environment at each call. Malformed entries are skipped.
std::map<int, std::string> ComPortOverrides();

// A whole decimal number without sign (at most nine digits); nullopt for
// anything else.
std::optional<int> ParseDecimalIndex(std::string_view digits);

// Parses a QRB117_COMPORTS value; exposed so that callers and tests need not
// touch the process environment.
std::map<int, std::string> ParseComPortOverrides(const std::string& value);

// The COM number of a device of the fixed mapping: "ttyS3" or "/dev/ttyS3"
// gives 4, "ttyUSB0" 33, "ttyACM0" 65; std::nullopt for any other name.
// Overrides are not consulted (see ComPortOverrides()). Linux only.
std::optional<int> ComPortNumberForDevice(const std::string& deviceName);

}  // namespace qrb
