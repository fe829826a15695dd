// The list of the PC's usable COM ports, as offered in the Configure dialog.
// Ports come from the registry's serial device map; modem ports and ports of
// PCI cards are left out, the ports of the radio's USB interfaces carry the
// interface's name, and the list is in ascending port number, each entry
// starting with "COM" and the number.
#pragma once

#include <string>
#include <vector>

#include "serial/RegistryReader.h"

namespace qrb {

// Owner kinds found by PortOwnerKind.
inline constexpr int kPortOwnedByPci = 5;
inline constexpr int kPortOwnedByModem = 6;
inline constexpr int kPortOwnedByNone = -1;

// Clears `list` and fills it with the ports of `registry`'s device map, e.g.
// "COM1", "COM4   (UIA-40)", "COM12   (UIA-42)". A fault in one device-map
// entry only leaves that port out. Any other registry error propagates, after
// the ports gathered up to that point have been put into `list`.
void ListComPorts(RegistryReader& registry, std::vector<std::string>& list);

// Whether a device-map value name may stand for a usable port.
bool IsPortValueName(const std::string& name);

// kPortOwnedByPci, kPortOwnedByModem (wins over PCI) or kPortOwnedByNone.
// Uses `accessor`'s current key freely.
int PortOwnerKind(RegistryReader& accessor, const std::string& port);

// The first "FriendlyName" under baseKey\<device>\<instance> that contains
// "(" + port + ")", or empty.
std::string FindFriendlyName(RegistryReader& accessor, const std::string& baseKey,
                             const std::string& port);

// The first "PORTNAME" under baseKey\<device>\<instance> equal to port, or
// empty.
std::string FindModemPort(RegistryReader& accessor, const std::string& baseKey,
                          const std::string& port);

}  // namespace qrb
