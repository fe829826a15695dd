#include "ui/ComProbe.h"

#include <cerrno>
#include <exception>

#include "serial/ComPortNames.h"
#include "serial/CommX.h"

namespace qrb {

namespace {

constexpr int kProbeBitRate = 38400;

}  // namespace

bool ComPortProbeFailure::IsPermissionDenied() const {
    return error == std::errc::permission_denied || error == std::errc::operation_not_permitted;
}

bool IsPermissionError(int errorNumber) {
    return errorNumber == EACCES || errorNumber == EPERM;
}

QString ComPortPermissionHint(const std::string& devicePath) {
    return QStringLiteral(
               "No permission to open %1. Add the user to the dialout group "
               "(sudo usermod -aG dialout $USER) and log in again.")
        .arg(QString::fromStdString(devicePath));
}

bool ProbeComPort(TCommX& comm, int portNo, SharedState& state, ComPortProbeFailure* failure) {
    state.ComBitRate = kProbeBitRate;
    bool opened = false;
    try {
        comm.setPortNo(portNo);
        comm.Open();
        opened = true;
    } catch (const std::exception& error) {
        if (failure != nullptr) {
            failure->portNo = portNo;
            failure->devicePath = ComPortDevicePath(portNo);
            failure->error = comm.LastOpenError();
            failure->message = error.what();
        }
    }
    comm.Close();
    return opened;
}

}  // namespace qrb
