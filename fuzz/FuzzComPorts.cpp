// Fuzz target: ListComPorts over an in-memory registry built from the input.
// The input is a registry description for InMemoryRegistry::FromText, plus
// lines that plant faults the description cannot express:
//   @openfails KEY     opening KEY fails
//   @listfails KEY     listing KEY's values and subkeys fails
//   @exhausting KEY|NAME  reading the value runs out of memory
// Every entry of the list must be a port of the device map in the entry form
// ("COM" and digits, perhaps an interface label), not owned by a PCI card or
// a modem, in ascending port number; a second listing gives the same.
#include <cctype>
#include <charconv>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "serial/InMemoryRegistry.h"
#include "serial/U_ComRS.h"

namespace {

const char* const kDeviceMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

struct Registry {
    qrb::InMemoryRegistry store;
    bool exhaustionPlanted = false;
};

// Splits off the fault lines, builds the store from the rest. Empty when
// FromText refuses the description (its documented error).
std::optional<Registry> BuildRegistry(std::string_view input) {
    std::string description;
    std::vector<std::pair<std::string, std::string>> faults;  // directive, argument
    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        const std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view{} : input.substr(end + 1);
        const std::size_t blank = line.find(' ');
        if (line.starts_with('@') && blank != std::string_view::npos) {
            faults.emplace_back(line.substr(0, blank), line.substr(blank + 1));
        } else {
            description.append(line).append("\n");
        }
    }
    std::optional<Registry> registry;
    try {
        registry.emplace(Registry{qrb::InMemoryRegistry::FromText(description)});
    } catch (const std::invalid_argument&) {
        return std::nullopt;
    }
    for (const auto& [directive, argument] : faults) {
        if (directive == "@openfails") {
            registry->store.SetKeyOpenFails(argument);
        } else if (directive == "@listfails") {
            registry->store.SetKeyListFails(argument);
        } else if (directive == "@exhausting") {
            const std::size_t bar = argument.find('|');
            registry->store.SetExhaustingValue(
                argument.substr(0, bar), bar == std::string::npos ? "" : argument.substr(bar + 1));
            registry->exhaustionPlanted = true;
        }
    }
    return registry;
}

struct Listing {
    std::vector<std::string> ports;
    bool failed = false;  // an error outside the per-port guard reached the caller
};

Listing List(Registry& registry) {
    Listing listing;
    listing.ports = {"left over from before"};
    try {
        qrb::ListComPorts(registry.store, listing.ports);
    } catch (const qrb::RegistryError&) {
        listing.failed = true;
    } catch (const std::bad_alloc&) {
        if (!registry.exhaustionPlanted)
            throw;
        listing.failed = true;
    }
    return listing;
}

std::string_view LabelFor(const std::string& valueName) {
    if (valueName.find("\\Device\\USBSER") != std::string::npos)
        return "   (UIA-40)";
    if (valueName.find("\\Device\\VCP") != std::string::npos)
        return "   (UIA-42)";
    return "";
}

// The entry's port name and number; empty when the entry is not in the form.
std::optional<std::pair<std::string, long long>> ParseEntry(const std::string& entry) {
    if (!entry.starts_with("COM"))
        return std::nullopt;
    std::size_t digitsEnd = 3;
    while (digitsEnd < entry.size() && std::isdigit(static_cast<unsigned char>(entry[digitsEnd])))
        ++digitsEnd;
    const std::string_view rest = std::string_view(entry).substr(digitsEnd);
    if (digitsEnd == 3 || !(rest.empty() || rest == "   (UIA-40)" || rest == "   (UIA-42)"))
        return std::nullopt;
    long long number = 0;
    const auto [end, error] = std::from_chars(entry.data() + 3, entry.data() + digitsEnd, number);
    if (error != std::errc() || number > INT32_MAX)
        return std::nullopt;
    return std::make_pair(entry.substr(0, digitsEnd), number);
}

// Whether a usable device-map value holds the port with this entry's label.
bool InDeviceMap(qrb::RegistryReader& reader, const std::string& port, std::string_view label) {
    reader.CloseKey();
    if (!reader.OpenKeyReadOnly(kDeviceMap))
        return false;
    for (const std::string& name : reader.GetValueNames()) {
        if (!qrb::IsPortValueName(name) || LabelFor(name) != label)
            continue;
        try {
            if (reader.ReadString(name) == port)
                return true;
        } catch (const std::exception&) {
            // Not this value.
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::optional<Registry> registry = BuildRegistry(qrb::fuzz::AsText(data, size));
    if (!registry)
        return 0;

    const Listing first = List(*registry);
    long long previousNumber = -1;
    const std::unique_ptr<qrb::RegistryReader> checker = registry->store.NewAccessor();
    for (const std::string& entry : first.ports) {
        const auto parsed = ParseEntry(entry);
        FUZZ_CHECK(parsed.has_value(), "entry is \"COM\", digits and perhaps a label");
        const auto& [port, number] = *parsed;
        FUZZ_CHECK(number >= previousNumber, "entries in ascending port number");
        previousNumber = number;
        FUZZ_CHECK(InDeviceMap(*checker, port, std::string_view(entry).substr(port.size())),
                   "entry comes from a device-map value with its label");
        FUZZ_CHECK(qrb::PortOwnerKind(*checker, port) == qrb::kPortOwnedByNone,
                   "a port of a PCI card or a modem is left out");
    }

    const Listing second = List(*registry);
    FUZZ_CHECK(second.ports == first.ports && second.failed == first.failed,
               "a second listing gives the same");
    return 0;
}
