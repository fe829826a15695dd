// The device map synthesised from a fake sysfs tree laid out like the
// kernel's: class/tty/<name> links to the tty's folder under devices/, whose
// "device" link leads to the hardware and its "driver" link.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "serial/U_ComRS.h"
#include "serial/posix/SysfsRegistry.h"

namespace qrb {
namespace {

namespace fs = std::filesystem;
using Ports = std::vector<std::string>;

class FakeSysfs {
  public:
    FakeSysfs() {
        root_ = fs::temp_directory_path() /
                ("qrb117-sysfs-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        fs::remove_all(root_);
        fs::create_directories(root_ / "class" / "tty");
        for (const char* driver :
             {"pnp/drivers/serial", "serial-base/drivers/port", "serial-base/drivers/ctrl",
              "platform/drivers/serial8250", "pci/drivers/serial", "usb-serial/drivers/ftdi_sio",
              "usb-serial/drivers/pl2303", "usb/drivers/cdc_acm"}) {
            fs::create_directories(root_ / "bus" / driver);
        }
    }
    ~FakeSysfs() { fs::remove_all(root_); }

    std::string root() const { return root_.string(); }

    // A tty whose device is `device` (relative to devices/), with an optional
    // "type" attribute. Its folder lives below the device, as the kernel does.
    void AddTty(const std::string& name, const std::string& device, const char* type = nullptr) {
        const fs::path deviceDir = root_ / "devices" / device;
        const fs::path ttyDir = deviceDir / "tty" / name;
        fs::create_directories(ttyDir);
        fs::create_directory_symlink(deviceDir, ttyDir / "device");
        if (type != nullptr)
            std::ofstream(ttyDir / "type") << type << "\n";
        fs::create_directory_symlink(ttyDir, root_ / "class" / "tty" / name);
    }

    void AddVirtualTty(const std::string& name) {
        const fs::path ttyDir = root_ / "devices" / "virtual" / "tty" / name;
        fs::create_directories(ttyDir);
        fs::create_directory_symlink(ttyDir, root_ / "class" / "tty" / name);
    }

    void SetDriver(const std::string& device, const std::string& bus, const std::string& driver) {
        const fs::path deviceDir = root_ / "devices" / device;
        fs::create_directories(deviceDir);
        fs::create_directory_symlink(root_ / "bus" / bus / "drivers" / driver,
                                     deviceDir / "driver");
    }

    void SetAttribute(const std::string& device, const std::string& name, const std::string& text) {
        std::ofstream(root_ / "devices" / device / name) << text << "\n";
    }

  private:
    static inline int counter_ = 0;
    fs::path root_;
};

// A machine with every kind of port the reader knows, kernel 6 style.
void BuildMachine(FakeSysfs& sys) {
    // On-board UART through the serial core: pnp device, ctrl, port.
    const std::string onBoard = "pnp0/00:00/00:00:0/00:00:0.0";
    sys.SetDriver("pnp0/00:00", "pnp", "serial");
    sys.SetDriver("pnp0/00:00/00:00:0", "serial-base", "ctrl");
    sys.SetDriver(onBoard, "serial-base", "port");
    sys.AddTty("ttyS0", onBoard, "4");

    // Legacy platform ports: ttyS1 was probed and found empty, ttyS2 is real.
    sys.SetDriver("platform/serial8250", "platform", "serial8250");
    sys.AddTty("ttyS1", "platform/serial8250", "0");
    sys.AddTty("ttyS2", "platform/serial8250", "4");
    sys.AddTty("ttyS3", "platform/serial8250");  // no type attribute at all

    // A UART on a PCI card.
    const std::string card = "pci0000:00/0000:00:1c.0/0000:03:00.0";
    sys.SetDriver(card, "pci", "serial");
    sys.SetAttribute(card, "vendor", "0x1415");
    sys.SetAttribute(card, "device", "0xc158");
    sys.AddTty("ttyS4", card + "/0000:03:00.0:0/0000:03:00.0:0.0", "16");

    // USB adapters: FTDI, PL2303, CDC-ACM.
    const std::string usb = "pci0000:00/0000:00:14.0/usb1";
    sys.SetDriver(usb + "/1-1/1-1:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    sys.AddTty("ttyUSB0", usb + "/1-1/1-1:1.0/ttyUSB0");
    sys.SetDriver(usb + "/1-2/1-2:1.0/ttyUSB1", "usb-serial", "pl2303");
    sys.AddTty("ttyUSB1", usb + "/1-2/1-2:1.0/ttyUSB1");
    sys.SetDriver(usb + "/1-3/1-3:1.0", "usb", "cdc_acm");
    sys.AddTty("ttyACM0", usb + "/1-3/1-3:1.0");

    sys.AddVirtualTty("tty0");
    sys.AddVirtualTty("console");
}

std::map<std::string, std::string> DeviceMap(RegistryReader& registry) {
    std::map<std::string, std::string> values;
    if (!registry.OpenKeyReadOnly("HARDWARE\\DEVICEMAP\\SERIALCOMM"))
        return values;
    for (const std::string& name : registry.GetValueNames())
        values[name] = registry.ReadString(name);
    registry.CloseKey();
    return values;
}

TEST(SysfsRegistry, SynthesisesTheDeviceMapOfEveryPortKind) {
    FakeSysfs sys;
    BuildMachine(sys);
    SysfsRegistry registry(sys.root(), {});

    EXPECT_EQ(DeviceMap(registry), (std::map<std::string, std::string>{
                                       {"\\Device\\Serial0", "COM1"},
                                       {"\\Device\\Serial2", "COM3"},
                                       {"\\Device\\Serial4", "COM5"},
                                       {"\\Device\\VCP0", "COM33"},
                                       {"\\Device\\pl23031", "COM34"},
                                       {"\\Device\\USBSER000", "COM65"},
                                   }));

    ASSERT_TRUE(registry.OpenKeyReadOnly(
        "SYSTEM\\CurrentControlSet\\Enum\\PCI\\VEN_1415&DEV_C158\\0000:03:00.0&ttyS4"));
    EXPECT_EQ(registry.ReadString("FriendlyName"), "PCI Serial Port (COM5)");
}

TEST(SysfsRegistry, ListLeavesOutThePciCardAndLabelsTheInterfaces) {
    FakeSysfs sys;
    BuildMachine(sys);
    SysfsRegistry registry(sys.root(), {});
    Ports ports;
    ListComPorts(registry, ports);
    EXPECT_EQ(ports, (Ports{"COM1", "COM3", "COM33   (UIA-42)", "COM34", "COM65   (UIA-40)"}));
}

TEST(SysfsRegistry, OverridesAddRenumberAndReplacePorts) {
    FakeSysfs sys;
    BuildMachine(sys);
    const fs::path pty = fs::path(sys.root()) / "fake-pty";
    std::ofstream(pty) << "";

    const std::map<int, std::string> overrides = {
        {1, pty.string()},                                  // COM1 now means the pseudo-terminal
        {2, "/dev/ttyUSB1"},                                // the PL2303 becomes COM2
        {7, "/dev/ttyACM0"},                                // the CDC-ACM device keeps its label
        {70, pty.string()},                                 // a second name for the same device
        {71, (fs::path(sys.root()) / "missing").string()},  // nothing there
    };
    SysfsRegistry registry(sys.root(), overrides);
    Ports ports;
    ListComPorts(registry, ports);
    EXPECT_EQ(ports,
              (Ports{"COM1", "COM2", "COM3", "COM7   (UIA-40)", "COM33   (UIA-42)", "COM70"}));

    const auto map = DeviceMap(registry);
    EXPECT_EQ(map.at("\\Device\\Override0"), "COM1");
    EXPECT_EQ(map.at("\\Device\\pl23031"), "COM2");
    EXPECT_EQ(map.count("\\Device\\Serial0"), 0u);
}

TEST(SysfsRegistry, MissingOrEmptySysfsGivesNoPorts) {
    SysfsRegistry missing("/nonexistent-sysfs-root", {});
    Ports ports = {"left over"};
    ListComPorts(missing, ports);
    EXPECT_EQ(ports, Ports{});

    FakeSysfs sys;
    sys.AddVirtualTty("tty0");
    SysfsRegistry empty(sys.root(), {});
    EXPECT_TRUE(DeviceMap(empty).empty());
}

}  // namespace
}  // namespace qrb
