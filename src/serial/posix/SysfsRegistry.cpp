#include "serial/posix/SysfsRegistry.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>

#include "serial/ComPortNames.h"

namespace qrb {

namespace fs = std::filesystem;

namespace {

const char* const kDeviceMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
const char* const kPciKey = "SYSTEM\\CurrentControlSet\\Enum\\PCI";

// Drivers of the kernel's serial core that sit between a tty and the driver
// of the hardware; the hardware's driver is further up.
constexpr std::array<std::string_view, 2> kSerialCoreDrivers = {"port", "ctrl"};

enum class TtyFamily { kOnBoardUart, kUsbSerial, kCdcAcm };

struct TtyDevice {
    std::string name;  // "ttyS0"
    TtyFamily family = TtyFamily::kOnBoardUart;
    int index = 0;  // the number after the family's prefix
};

std::optional<TtyDevice> ParseTtyName(const std::string& name) {
    struct Prefix {
        std::string_view text;
        TtyFamily family;
    };
    // ttyS last: "ttyS" is no prefix of the others, but keep longest first.
    static const Prefix kPrefixes[] = {{"ttyUSB", TtyFamily::kUsbSerial},
                                       {"ttyACM", TtyFamily::kCdcAcm},
                                       {"ttyS", TtyFamily::kOnBoardUart}};
    for (const Prefix& prefix : kPrefixes) {
        if (name.size() <= prefix.text.size() ||
            name.compare(0, prefix.text.size(), prefix.text) != 0) {
            continue;
        }
        const char* first = name.data() + prefix.text.size();
        const char* last = name.data() + name.size();
        int index = 0;
        const auto [end, error] = std::from_chars(first, last, index);
        if (error != std::errc() || end != last ||
            !std::isdigit(static_cast<unsigned char>(*first))) {
            return std::nullopt;
        }
        return TtyDevice{name, prefix.family, index};
    }
    return std::nullopt;
}

std::optional<std::string> ReadFirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return std::nullopt;
    }
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
        line.pop_back();
    }
    return line;
}

// A UART answered the kernel's probe: "type" holds a non-zero port type.
bool HasUart(const fs::path& ttyClassDir) {
    const std::optional<std::string> type = ReadFirstLine(ttyClassDir / "type");
    if (!type) {
        return false;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(type->data(), type->data() + type->size(), value);
    return error == std::errc() && end == type->data() + type->size() && value != 0;
}

// The driver of the hardware behind `device`: the first "driver" link on the
// way up that is not one of the serial core's own.
std::string HardwareDriver(const fs::path& device, const fs::path& devicesRoot) {
    std::error_code error;
    for (fs::path dir = device; !dir.empty() && dir != devicesRoot && dir != dir.root_path();
         dir = dir.parent_path()) {
        const fs::path link = dir / "driver";
        if (!fs::is_symlink(link, error)) {
            continue;
        }
        std::string driver = fs::read_symlink(link, error).filename().string();
        if (!error && !driver.empty() &&
            std::ranges::find(kSerialCoreDrivers, driver) == kSerialCoreDrivers.end()) {
            return driver;
        }
    }
    return {};
}

bool IsPciSlotName(std::string_view name) {
    // dddd:bb:dd.f in hexadecimal, e.g. 0000:03:00.0
    if (name.size() != 12 || name[4] != ':' || name[7] != ':' || name[10] != '.') {
        return false;
    }
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11}) {
        if (!std::isxdigit(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return true;
}

// The deepest PCI function on the device's path, or empty when the device
// does not sit on a PCI bus.
fs::path PciFunctionOf(const fs::path& device) {
    fs::path function;
    fs::path walked;
    for (const fs::path& part : device) {
        walked /= part;
        if (IsPciSlotName(part.string())) {
            function = walked;
        }
    }
    return function;
}

std::string HexIdOf(const fs::path& file) {
    std::string id = ReadFirstLine(file).value_or("");
    if (id.rfind("0x", 0) == 0) {
        id.erase(0, 2);
    }
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return id;
}

std::string DeviceMapValueName(const TtyDevice& tty, const std::string& driver) {
    switch (tty.family) {
        case TtyFamily::kOnBoardUart:
            return "\\Device\\Serial" + std::to_string(tty.index);
        case TtyFamily::kCdcAcm: {
            char name[32];
            std::snprintf(name, sizeof name, "\\Device\\USBSER%03d", tty.index);
            return name;
        }
        case TtyFamily::kUsbSerial:
            break;
    }
    if (driver == "ftdi_sio") {
        return "\\Device\\VCP" + std::to_string(tty.index);
    }
    return "\\Device\\" + (driver.empty() ? std::string("usbserial") : driver) +
           std::to_string(tty.index);
}

class Synthesiser {
  public:
    Synthesiser(const fs::path& sysfsRoot, const std::map<int, std::string>& overrides)
        : sysfsRoot_(sysfsRoot), overrides_(overrides) {
        registry_.AddKey(kDeviceMapKey);
    }

    InMemoryRegistry Run() {
        for (const TtyDevice& tty : TtysInOrder()) {
            AddTty(tty);
        }
        AddOverrides();
        return registry_;
    }

  private:
    std::vector<TtyDevice> TtysInOrder() const {
        std::vector<TtyDevice> ttys;
        std::error_code error;
        for (fs::directory_iterator it(sysfsRoot_ / "class" / "tty", error), end;
             !error && it != end; it.increment(error)) {
            if (std::optional<TtyDevice> tty = ParseTtyName(it->path().filename().string())) {
                ttys.push_back(*tty);
            }
        }
        std::sort(ttys.begin(), ttys.end(), [](const TtyDevice& a, const TtyDevice& b) {
            return a.family != b.family ? a.family < b.family : a.index < b.index;
        });
        return ttys;
    }

    // The COM number of a tty: an override naming its device wins; a number
    // that an override hands to another device is no longer the tty's.
    std::optional<int> PortNumberOf(const TtyDevice& tty) const {
        const std::string devicePath = "/dev/" + tty.name;
        for (const auto& [number, path] : overrides_) {
            if (path == devicePath) {
                return number;
            }
        }
        const std::optional<int> number = ComPortNumberForDevice(tty.name);
        if (!number || overrides_.contains(*number)) {
            return std::nullopt;
        }
        return number;
    }

    void AddTty(const TtyDevice& tty) {
        const fs::path classDir = sysfsRoot_ / "class" / "tty" / tty.name;
        std::error_code error;
        const fs::path device = fs::canonical(classDir / "device", error);
        if (error) {
            return;  // virtual terminals and vanished devices
        }
        if (tty.family == TtyFamily::kOnBoardUart && !HasUart(classDir)) {
            return;
        }
        const std::optional<int> number = PortNumberOf(tty);
        if (!number) {
            return;
        }

        const fs::path devicesRoot = fs::weakly_canonical(sysfsRoot_ / "devices", error);
        const std::string driver = HardwareDriver(device, devicesRoot);
        const std::string portName = "COM" + std::to_string(*number);
        registry_.SetString(kDeviceMapKey, DeviceMapValueName(tty, driver), portName);
        coveredPaths_.insert("/dev/" + tty.name);

        const fs::path pciFunction = PciFunctionOf(device);
        if (tty.family == TtyFamily::kOnBoardUart && !pciFunction.empty()) {
            AddPciFriendlyName(pciFunction, tty, portName);
        }
    }

    void AddPciFriendlyName(const fs::path& pciFunction, const TtyDevice& tty,
                            const std::string& portName) {
        const std::string vendor = HexIdOf(pciFunction / "vendor");
        const std::string product = HexIdOf(pciFunction / "device");
        const std::string slot = pciFunction.filename().string();
        const std::string deviceKey =
            vendor.empty() || product.empty() ? slot : "VEN_" + vendor + "&DEV_" + product;
        const std::string instanceKey =
            std::string(kPciKey) + "\\" + deviceKey + "\\" + slot + "&" + tty.name;
        registry_.SetString(instanceKey, "FriendlyName", "PCI Serial Port (" + portName + ")");
    }

    void AddOverrides() {
        int index = 0;
        for (const auto& [number, path] : overrides_) {
            const int overrideIndex = index++;
            if (coveredPaths_.contains(path)) {
                continue;
            }
            struct stat info {};
            if (::stat(path.c_str(), &info) != 0) {
                continue;
            }
            registry_.SetString(kDeviceMapKey, "\\Device\\Override" + std::to_string(overrideIndex),
                                "COM" + std::to_string(number));
        }
    }

    fs::path sysfsRoot_;
    const std::map<int, std::string>& overrides_;
    InMemoryRegistry registry_;
    std::set<std::string> coveredPaths_;
};

}  // namespace

SysfsRegistry::SysfsRegistry(const std::string& sysfsRoot)
    : SysfsRegistry(sysfsRoot, ComPortOverrides()) {}

SysfsRegistry::SysfsRegistry(const std::string& sysfsRoot,
                             const std::map<int, std::string>& overrides)
    : snapshot_(Synthesiser(sysfsRoot, overrides).Run()) {}

bool SysfsRegistry::OpenKeyReadOnly(const std::string& path) {
    return snapshot_.OpenKeyReadOnly(path);
}
void SysfsRegistry::CloseKey() {
    snapshot_.CloseKey();
}
std::vector<std::string> SysfsRegistry::GetValueNames() {
    return snapshot_.GetValueNames();
}
std::vector<std::string> SysfsRegistry::GetKeyNames() {
    return snapshot_.GetKeyNames();
}
bool SysfsRegistry::ValueExists(const std::string& name) {
    return snapshot_.ValueExists(name);
}
std::string SysfsRegistry::ReadString(const std::string& name) {
    return snapshot_.ReadString(name);
}
std::unique_ptr<RegistryReader> SysfsRegistry::NewAccessor() const {
    return snapshot_.NewAccessor();
}

std::unique_ptr<RegistryReader> MakeSystemRegistry() {
    return std::make_unique<SysfsRegistry>();
}

}  // namespace qrb
