// The registry seen by the COM port list, synthesised on Linux from sysfs
// (/sys/class/tty) and QRB117_COMPORTS when the reader is created:
//
//   HARDWARE\DEVICEMAP\SERIALCOMM
//     \Device\Serial<k>    = COM<n>  ttyS<k> with a UART behind it
//     \Device\USBSER<kkk>  = COM<n>  ttyACM<k> (CDC-ACM)
//     \Device\VCP<k>       = COM<n>  ttyUSB<k> driven by ftdi_sio
//     \Device\<driver><k>  = COM<n>  ttyUSB<k> of any other USB adapter
//     \Device\Override<i>  = COM<n>  the i-th port of QRB117_COMPORTS
//   SYSTEM\CurrentControlSet\Enum\PCI\VEN_<v>&DEV_<d>\<slot>&ttyS<k>
//     FriendlyName = "PCI Serial Port (COM<n>)" for a ttyS on a PCI card
//
// A ttyS counts as having a UART when its "type" attribute is non-zero (the
// kernel reports 0, PORT_UNKNOWN, for a line it probed and found nothing on).
// A ttyS whose device sits below a PCI host bridge belongs to a PCI card.
// COM numbers follow ComPortNumberForDevice; a QRB117_COMPORTS entry naming
// a tty's /dev path gives that tty its number instead, and a COM number that
// an entry points at another device no longer stands for the tty. Entries
// whose device does not exist are left out.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "serial/InMemoryRegistry.h"

namespace qrb {

class SysfsRegistry : public RegistryReader {
  public:
    // Reads `sysfsRoot` (normally "/sys") and the ports of QRB117_COMPORTS.
    explicit SysfsRegistry(const std::string& sysfsRoot = "/sys");
    // The same with the port overrides given (port number -> device path).
    SysfsRegistry(const std::string& sysfsRoot, const std::map<int, std::string>& overrides);

    bool OpenKeyReadOnly(const std::string& path) override;
    void CloseKey() override;
    std::vector<std::string> GetValueNames() override;
    std::vector<std::string> GetKeyNames() override;
    bool ValueExists(const std::string& name) override;
    std::string ReadString(const std::string& name) override;
    std::unique_ptr<RegistryReader> NewAccessor() const override;

  private:
    InMemoryRegistry snapshot_;
};

}  // namespace qrb
