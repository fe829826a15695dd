// The COM port list over an in-memory registry: filtering, labels, order and
// the way faults in single entries and in the walk itself are handled.
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "serial/InMemoryRegistry.h"
#include "serial/U_ComRS.h"

namespace qrb {
namespace {

using Ports = std::vector<std::string>;

const std::string kMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
const std::string kPci = "SYSTEM\\CurrentControlSet\\Enum\\PCI";
const std::string kModem = "Enum\\WDM_MODEM";

Ports ListOf(InMemoryRegistry& registry) {
    Ports ports = {"left over"};
    ListComPorts(registry, ports);
    return ports;
}

TEST(ComPortList, ExcludesPciPortAndLabelsUsbInterfaces) {
    InMemoryRegistry registry = InMemoryRegistry::FromText(R"(
[HARDWARE\DEVICEMAP\SERIALCOMM]
\Device\Serial0=COM1
\Device\USBSER000=COM4
\Device\VCP0=COM12
\Device\Serial1=COM3
[SYSTEM\CurrentControlSet\Enum\PCI\VEN_1415&DEV_C158\4&1d2&0&00E0]
FriendlyName=PCI Serial Port (COM3)
)");
    EXPECT_EQ(ListOf(registry), (Ports{"COM1", "COM4   (UIA-40)", "COM12   (UIA-42)"}));
}

TEST(ComPortList, OrdersByPortNumberNotByText) {
    InMemoryRegistry registry;
    registry.SetString(kMap, "\\Device\\Serial9", "COM10");
    registry.SetString(kMap, "\\Device\\Serial8", "COM9");
    registry.SetString(kMap, "\\Device\\Serial1", "COM2");
    registry.SetString(kMap, "\\Device\\Serial99", "COM100");
    EXPECT_EQ(ListOf(registry), (Ports{"COM2", "COM9", "COM10", "COM100"}));
}

TEST(ComPortList, PortsAbove999FollowAndKeepTheirName) {
    InMemoryRegistry registry;
    registry.SetString(kMap, "\\Device\\Override0", "COM1000");
    registry.SetString(kMap, "\\Device\\Override1", "COM999");
    registry.SetString(kMap, "\\Device\\Override2", "COM12345");
    EXPECT_EQ(ListOf(registry), (Ports{"COM999", "COM1000", "COM12345"}));
}

TEST(ComPortList, AcceptsOnlyUsableValueNames) {
    struct Case {
        const char* name;
        bool usable;
    };
    const Case cases[] = {
        {"\\Device\\Serial0", true},
        {"COM1", true},
        {"COMx", true},
        {"COM", false},
        {"\\Device\\", false},
        {"\\device\\Serial0", false},
        {"com1", false},
        {"Serial0", false},
        {"", false},
        {"\\Device\\Modem0", false},
        {"\\Device\\mOdEm7", false},
        {"COMmodem", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsPortValueName(c.name), c.usable) << c.name;

        InMemoryRegistry registry;
        registry.SetString(kMap, c.name, "COM5");
        EXPECT_EQ(ListOf(registry), c.usable ? Ports{"COM5"} : Ports{}) << c.name;
    }
}

TEST(ComPortList, SkipsPortNamesThatAreNotComAndANumber) {
    const char* const rejected[] = {"",      "com3",  "Com3",  "COM",  "COMx",          "COM3a",
                                    "COM-3", "COM 3", "COM+3", "LPT1", "COM99999999999"};
    for (const char* data : rejected) {
        InMemoryRegistry registry;
        registry.SetString(kMap, "\\Device\\Serial0", data);
        registry.SetString(kMap, "\\Device\\Serial1", "COM2");
        EXPECT_EQ(ListOf(registry), Ports{"COM2"}) << '"' << data << '"';
    }
}

TEST(ComPortList, PciFriendlyNameMatchesWholePortNameInParentheses) {
    struct Case {
        const char* friendlyName;
        bool excludesCom3;
    };
    const Case cases[] = {
        {"PCI Serial Port (COM31)", false}, {"PCI Serial Port (COM3)", true},
        {"PCI Serial Port COM3", false},    {"(COM3) on a card", true},
        {"PCI Serial Port (com3)", false},
    };
    for (const Case& c : cases) {
        InMemoryRegistry registry;
        registry.SetString(kMap, "\\Device\\Serial2", "COM3");
        registry.SetString(kPci + "\\VEN_1\\inst", "FriendlyName", c.friendlyName);
        EXPECT_EQ(ListOf(registry), c.excludesCom3 ? Ports{} : Ports{"COM3"}) << c.friendlyName;
    }
}

TEST(ComPortList, ModemPortNameMustMatchExactly) {
    InMemoryRegistry registry;
    registry.SetString(kMap, "\\Device\\Serial2", "COM3");
    registry.SetString(kMap, "\\Device\\Serial4", "COM5");
    registry.SetString(kMap, "\\Device\\Serial5", "COM6");
    registry.SetString(kModem + "\\Dev\\0000", "PORTNAME", "COM30");
    registry.SetString(kModem + "\\Dev\\0001", "PORTNAME", "COM5");
    registry.SetString(kModem + "\\Other\\0000", "PORTNAME", "com6");
    EXPECT_EQ(ListOf(registry), (Ports{"COM3", "COM6"}));
}

TEST(ComPortList, OwnerKindSearchesBothAndModemWins) {
    InMemoryRegistry registry;
    registry.SetString(kPci + "\\VEN_1\\a", "FriendlyName", "Card (COM3)");
    registry.SetString(kPci + "\\VEN_1\\b", "FriendlyName", "Card (COM4)");
    registry.SetString(kModem + "\\Dev\\0000", "PORTNAME", "COM4");
    registry.SetString(kModem + "\\Dev\\0001", "PORTNAME", "COM5");
    EXPECT_EQ(PortOwnerKind(registry, "COM3"), kPortOwnedByPci);
    EXPECT_EQ(PortOwnerKind(registry, "COM4"), kPortOwnedByModem);
    EXPECT_EQ(PortOwnerKind(registry, "COM5"), kPortOwnedByModem);
    EXPECT_EQ(PortOwnerKind(registry, "COM6"), kPortOwnedByNone);
    EXPECT_EQ(FindFriendlyName(registry, kPci, "COM4"), "Card (COM4)");
    EXPECT_EQ(FindFriendlyName(registry, "SYSTEM\\Nowhere", "COM4"), "");
    EXPECT_EQ(FindModemPort(registry, kModem, "COM5"), "COM5");
}

TEST(ComPortList, EmptyOrMissingDeviceMapClearsTheList) {
    InMemoryRegistry emptyMap;
    emptyMap.AddKey(kMap);
    EXPECT_EQ(ListOf(emptyMap), Ports{});

    InMemoryRegistry noMap;
    EXPECT_EQ(ListOf(noMap), Ports{});
}

TEST(ComPortList, FaultInOneEntryLeavesOnlyThatPortOut) {
    InMemoryRegistry registry;
    registry.SetString(kMap, "\\Device\\Serial0", "COM1");
    registry.SetFailingValue(kMap, "\\Device\\Serial1");
    registry.SetNonString(kMap, "\\Device\\Serial2");
    registry.SetString(kMap, "\\Device\\Serial3", "COM4");
    EXPECT_EQ(ListOf(registry), (Ports{"COM1", "COM4"}));

    // A broken FriendlyName fails the PCI search of every port that reaches
    // it; each such port is left out and the walk still ends normally.

    registry.SetNonString(kPci + "\\VEN_1\\a", "FriendlyName");
    EXPECT_EQ(ListOf(registry), Ports{});
}

TEST(ComPortList, OuterErrorDeliversGatheredPortsThenPropagates) {
    InMemoryRegistry registry;
    registry.SetString(kMap, "\\Device\\Serial9", "COM10");
    registry.SetString(kMap, "\\Device\\Serial1", "COM2");
    registry.SetExhaustingValue(kMap, "\\Device\\Serial3");
    registry.SetString(kMap, "\\Device\\Serial4", "COM5");

    Ports ports = {"left over"};
    EXPECT_THROW(ListComPorts(registry, ports), std::bad_alloc);
    EXPECT_EQ(ports, (Ports{"COM2", "COM10"}));
}

TEST(ComPortList, UnreadableDeviceMapPropagatesWithListCleared) {
    InMemoryRegistry unlistable;
    unlistable.SetString(kMap, "\\Device\\Serial0", "COM1");
    unlistable.SetKeyListFails(kMap);
    Ports ports = {"left over"};
    EXPECT_THROW(ListComPorts(unlistable, ports), RegistryError);
    EXPECT_EQ(ports, Ports{});

    InMemoryRegistry denied;
    denied.SetKeyOpenFails(kMap);
    ports = {"left over"};
    EXPECT_THROW(ListComPorts(denied, ports), RegistryError);
    EXPECT_EQ(ports, Ports{});
}

TEST(InMemoryRegistryText, RejectsMalformedDescriptions) {
    EXPECT_THROW(InMemoryRegistry::FromText("name=value\n"), std::invalid_argument);
    EXPECT_THROW(InMemoryRegistry::FromText("[KEY]\nno equals sign\n"), std::invalid_argument);
    EXPECT_THROW(InMemoryRegistry::FromText("[KEY]\n=value\n"), std::invalid_argument);

    InMemoryRegistry registry =
        InMemoryRegistry::FromText("; comment\r\n[A\\B]\r\nx#=1\r\ny=2\r\n");
    ASSERT_TRUE(registry.OpenKeyReadOnly("a\\b"));
    EXPECT_EQ(registry.GetValueNames(), (std::vector<std::string>{"x", "y"}));
    EXPECT_THROW(registry.ReadString("x"), RegistryError);
    EXPECT_EQ(registry.ReadString("Y"), "2");
    ASSERT_TRUE(registry.OpenKeyReadOnly("A"));
    EXPECT_EQ(registry.GetKeyNames(), std::vector<std::string>{"B"});
}

}  // namespace
}  // namespace qrb
