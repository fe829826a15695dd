// The port probe of the start-up search on a pseudo-terminal standing in for
// a COM port, and on a port whose device is missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "serial/CommTypes.h"
#include "serial/CommX.h"
#include "ui/ComProbe.h"

namespace qrb {
namespace {

// Points QRB117_COMPORTS at the given entries while the test runs.
class ComPortsEnvironment {
  public:
    explicit ComPortsEnvironment(const std::string& value) {
        if (const char* old = std::getenv("QRB117_COMPORTS"))
            saved_ = old, hadValue_ = true;
        setenv("QRB117_COMPORTS", value.c_str(), 1);
    }
    ~ComPortsEnvironment() {
        if (hadValue_) {
            setenv("QRB117_COMPORTS", saved_.c_str(), 1);
        } else {
            unsetenv("QRB117_COMPORTS");
        }
    }

  private:
    std::string saved_;
    bool hadValue_ = false;
};

class PseudoTerminal {
  public:
    PseudoTerminal() : master_(posix_openpt(O_RDWR | O_NOCTTY)) {
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
            devicePath_ = ptsname(master_);
        }
    }
    ~PseudoTerminal() {
        if (master_ >= 0)
            close(master_);
    }
    const std::string& devicePath() const { return devicePath_; }

  private:
    int master_;
    std::string devicePath_;
};

TEST(ComProbe, PortThatOpensIsClosedAgainAndReportsTrue) {
    PseudoTerminal pty;
    ASSERT_FALSE(pty.devicePath().empty());
    ComPortsEnvironment ports("COM5=" + pty.devicePath());

    TCommX comm;
    comm.setStopBit(TCommStopBits::csb2);
    SharedState state;
    ComPortProbeFailure failure;
    EXPECT_TRUE(ProbeComPort(comm, 5, state, &failure));
    EXPECT_EQ(state.ComBitRate, 38400);
    EXPECT_EQ(comm.PortNo(), 5);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_TRUE(failure.devicePath.empty());

    // The port is free again: a second probe opens it as well.
    EXPECT_TRUE(ProbeComPort(comm, 5, state));
}

TEST(ComProbe, MissingDeviceReportsFalseWithTheReason) {
    const std::string missing = "/nonexistent/qrb117-port";
    ComPortsEnvironment ports("COM7=" + missing);

    TCommX comm;
    SharedState state;
    ComPortProbeFailure failure;
    EXPECT_FALSE(ProbeComPort(comm, 7, state, &failure));
    EXPECT_EQ(state.ComBitRate, 38400);
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(failure.portNo, 7);
    EXPECT_EQ(failure.devicePath, missing);
    EXPECT_EQ(failure.error, std::errc::no_such_file_or_directory);
    EXPECT_EQ(failure.message, "Port Open Error");
    EXPECT_FALSE(failure.IsPermissionDenied());

    // What the serial component reports for a user outside the dialout group.
    failure.error = std::make_error_code(std::errc::permission_denied);
    EXPECT_TRUE(failure.IsPermissionDenied());
}

}  // namespace
}  // namespace qrb
