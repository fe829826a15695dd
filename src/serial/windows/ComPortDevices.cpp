// COM port numbers on Windows: COM<n> is the device \\.\COM<n> (the form
// that also reaches COM10 and above).
#include "serial/ComPortNames.h"

namespace qrb {

std::string ComPortDevicePath(int portNo) {
    return portNo < 1 ? std::string{} : "\\\\.\\COM" + std::to_string(portNo);
}

int ComPortAccessError(const std::string& /*devicePath*/) {
    return 0;  // no device permissions to look at: opening tells
}

}  // namespace qrb
