#include "serial/U_ComRS.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

namespace qrb {

namespace {

// The path of a subkey below a key.
std::string SubKey(const std::string& key, const std::string& name) {
    std::string path = key;
    path += '\\';
    path += name;
    return path;
}

const char* const kDeviceMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
const char* const kPciEnumKey = "SYSTEM\\CurrentControlSet\\Enum\\PCI";
const char* const kModemEnumKey = "Enum\\WDM_MODEM";

// Beginnings a device-map value name may have, tested in this order.
const std::array<std::string_view, 2> kPortValueNameBeginnings = {"COM", "\\Device\\"};

// Interface labels by a fragment of the value name; the first match wins.
struct InterfaceLabel {
    std::string_view valueNameFragment;
    std::string_view label;
};
const std::array<InterfaceLabel, 2> kInterfaceLabels = {{
    {"\\Device\\USBSER", "   (UIA-40)"},
    {"\\Device\\VCP", "   (UIA-42)"},
}};

// An entry with its port number in front ("012COM12   (UIA-42)"), so that a
// text sort orders by number. The key has three digits up to port 999 and
// more beyond; keyLength says how many to remove again.
struct KeyedEntry {
    std::string text;
    std::size_t keyLength = 0;
};

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The string list's standard ordering (text compared without regard to
// case). A longer key is a larger number, so ports above 999 follow the
// three-digit ones instead of landing among them.
bool KeyedEntryLess(const KeyedEntry& a, const KeyedEntry& b) {
    if (a.keyLength != b.keyLength) {
        return a.keyLength < b.keyLength;
    }
    return std::lexicographical_compare(a.text.begin(), a.text.end(), b.text.begin(), b.text.end(),
                                        [](char x, char y) {
                                            return std::tolower(static_cast<unsigned char>(x)) <
                                                   std::tolower(static_cast<unsigned char>(y));
                                        });
}

// The port number after "COM": decimal digits only, within int range.
std::optional<int> PortNumberOf(std::string_view portName) {
    const std::string_view digits = portName.substr(3);
    if (digits.empty() || !std::isdigit(static_cast<unsigned char>(digits.front()))) {
        return std::nullopt;
    }
    int number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return number;
}

KeyedEntry SortKeyedEntry(int portNumber, const std::string& portName) {
    const int length = std::snprintf(nullptr, 0, "%*.*d%s", 3, 3, portNumber, portName.c_str());
    KeyedEntry entry;
    entry.text.resize(static_cast<std::size_t>(length) + 1);
    std::snprintf(entry.text.data(), entry.text.size(), "%*.*d%s", 3, 3, portNumber,
                  portName.c_str());
    entry.text.resize(static_cast<std::size_t>(length));
    entry.keyLength = entry.text.size() - portName.size();
    return entry;
}

// Walks baseKey\<device>\<instance> and returns the first text of the value
// `valueName` that `matches` accepts. The accessor's current key is closed
// before every open, as each path is taken from the root.
std::string FindInstanceValue(RegistryReader& accessor, const std::string& baseKey,
                              const std::string& valueName,
                              const std::function<bool(const std::string&)>& matches) {
    accessor.CloseKey();
    if (!accessor.OpenKeyReadOnly(baseKey)) {
        return {};
    }
    const std::vector<std::string> devices = accessor.GetKeyNames();
    for (const std::string& device : devices) {
        const std::string deviceKey = SubKey(baseKey, device);
        accessor.CloseKey();
        if (!accessor.OpenKeyReadOnly(deviceKey)) {
            continue;
        }
        const std::vector<std::string> instances = accessor.GetKeyNames();
        for (const std::string& instance : instances) {
            accessor.CloseKey();
            if (!accessor.OpenKeyReadOnly(SubKey(deviceKey, instance))) {
                continue;
            }
            if (!accessor.ValueExists(valueName)) {
                continue;
            }
            std::string text = accessor.ReadString(valueName);
            if (matches(text)) {
                accessor.CloseKey();
                return text;
            }
        }
    }
    accessor.CloseKey();
    return {};
}

// Steps of one device-map value; any error here leaves just this port out.
std::optional<KeyedEntry> DeviceMapEntry(RegistryReader& deviceMap, RegistryReader& searches,
                                         const std::string& valueName) {
    const std::string portName = deviceMap.ReadString(valueName);
    if (portName.empty()) {
        return std::nullopt;
    }
    if (portName.compare(0, 3, "COM") != 0) {
        return std::nullopt;
    }
    const int owner = PortOwnerKind(searches, portName);
    if (owner == kPortOwnedByPci || owner == kPortOwnedByModem) {
        return std::nullopt;
    }
    const std::optional<int> number = PortNumberOf(portName);
    if (!number) {
        return std::nullopt;
    }

    KeyedEntry entry = SortKeyedEntry(*number, portName);
    for (const InterfaceLabel& label : kInterfaceLabels) {
        if (valueName.find(label.valueNameFragment) != std::string::npos) {
            entry.text += label.label;
            break;
        }
    }
    return entry;
}

}  // namespace

bool IsPortValueName(const std::string& name) {
    if (UpperAscii(name).find("MODEM") != std::string::npos) {
        return false;
    }
    for (std::string_view beginning : kPortValueNameBeginnings) {
        if (name.size() > beginning.size() && name.compare(0, beginning.size(), beginning) == 0) {
            return true;
        }
    }
    return false;
}

std::string FindFriendlyName(RegistryReader& accessor, const std::string& baseKey,
                             const std::string& port) {
    const std::string needle = "(" + port + ")";
    return FindInstanceValue(accessor, baseKey, "FriendlyName", [&](const std::string& text) {
        return text.find(needle) != std::string::npos;
    });
}

std::string FindModemPort(RegistryReader& accessor, const std::string& baseKey,
                          const std::string& port) {
    return FindInstanceValue(accessor, baseKey, "PORTNAME",
                             [&](const std::string& text) { return text == port; });
}

int PortOwnerKind(RegistryReader& accessor, const std::string& port) {
    int kind = kPortOwnedByNone;
    if (!FindFriendlyName(accessor, kPciEnumKey, port).empty()) {
        kind = kPortOwnedByPci;
    }
    if (!FindModemPort(accessor, kModemEnumKey, port).empty()) {
        kind = kPortOwnedByModem;
    }
    return kind;
}

void ListComPorts(RegistryReader& registry, std::vector<std::string>& list) {
    list.clear();
    std::vector<KeyedEntry> keyedEntries;
    std::exception_ptr outerError;
    try {
        // The owner searches walk other keys; they get their own accessor so
        // that the device map stays the current key of this one.
        const std::unique_ptr<RegistryReader> searches = registry.NewAccessor();
        registry.CloseKey();
        if (registry.OpenKeyReadOnly(kDeviceMapKey)) {
            const std::vector<std::string> valueNames = registry.GetValueNames();
            for (const std::string& valueName : valueNames) {
                if (!IsPortValueName(valueName)) {
                    continue;
                }
                try {
                    if (std::optional<KeyedEntry> entry =
                            DeviceMapEntry(registry, *searches, valueName)) {
                        keyedEntries.push_back(std::move(*entry));
                    }
                } catch (const std::bad_alloc&) {
                    throw;  // not a fault of this entry
                } catch (const std::exception&) {
                    // A broken entry leaves only its own port out.
                }
            }
        }
        registry.CloseKey();
    } catch (...) {
        outerError = std::current_exception();
    }

    std::stable_sort(keyedEntries.begin(), keyedEntries.end(), KeyedEntryLess);
    list.reserve(keyedEntries.size());
    for (const KeyedEntry& entry : keyedEntries) {
        list.push_back(entry.text.substr(entry.keyLength));
    }

    if (outerError) {
        std::rethrow_exception(outerError);
    }
}

}  // namespace qrb
