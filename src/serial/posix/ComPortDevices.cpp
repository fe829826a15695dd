// COM port numbers and the Linux devices that stand for them.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string_view>

#include "serial/ComPortNames.h"

namespace qrb {
namespace {

// Each device family covers 32 consecutive COM numbers.
struct DeviceFamily {
    std::string_view name;  // device name without its index
    int firstPort;          // COM number of index 0
};
constexpr std::array<DeviceFamily, 3> kFamilies{{
    {"ttyS", 1},
    {"ttyUSB", 33},
    {"ttyACM", 65},
}};
constexpr int kPortsPerFamily = 32;

}  // namespace

std::string ComPortDevicePath(int portNo) {
    const std::map<int, std::string> overrides = ComPortOverrides();
    if (const auto found = overrides.find(portNo); found != overrides.end()) {
        return found->second;
    }
    for (const DeviceFamily& family : kFamilies) {
        const int index = portNo - family.firstPort;
        if (index >= 0 && index < kPortsPerFamily) {
            return "/dev/" + std::string(family.name) + std::to_string(index);
        }
    }
    return {};
}

int ComPortAccessError(const std::string& devicePath) {
    return ::access(devicePath.c_str(), R_OK | W_OK) == 0 ? 0 : errno;
}

std::optional<int> ComPortNumberForDevice(const std::string& deviceName) {
    std::string_view name = deviceName;
    constexpr std::string_view kDevPrefix = "/dev/";
    if (name.substr(0, kDevPrefix.size()) == kDevPrefix) {
        name.remove_prefix(kDevPrefix.size());
    }
    for (const DeviceFamily& family : kFamilies) {
        if (name.substr(0, family.name.size()) != family.name) {
            continue;
        }
        const std::optional<int> index = ParseDecimalIndex(name.substr(family.name.size()));
        if (index && *index < kPortsPerFamily) {
            return family.firstPort + *index;
        }
    }
    return std::nullopt;
}

}  // namespace qrb
