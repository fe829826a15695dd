// rq7300-sim's fleet and its ports without a radio: each radio of a fleet has
// its own version, the faults go to the chosen radio only, and the options
// that do not fit together are refused.
#include <gtest/gtest.h>

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "SimOptions.h"

namespace qrb::sim {
namespace {

SimOptions parse(std::initializer_list<const char*> args) {
    std::vector<const char*> argv{"rq7300-sim"};
    argv.insert(argv.end(), args);
    return parseSimOptions(static_cast<int>(argv.size()), argv.data());
}

// What the unit answers to A0 and the Master CPU's identification command.
std::string IdentificationAnswer(RadioModel& model) {
    model.powerOn(Micros{0});
    Micros at{1'000'000};
    for (const std::uint8_t byte : {0xA0, 0x65, 0x01, 0x50, 0x4A}) {
        model.receive(byte, at);
        at += Micros{1'000};
    }
    std::string sent;
    for (const Burst& burst : model.takeDue(at + Micros{1'000'000})) {
        sent.append(burst.bytes.begin(), burst.bytes.end());
    }
    return sent;
}

TEST(FleetOptions, EachRadioHasItsOwnVersionAndOnlyTheFaultyOneHasTheFaults) {
    const SimOptions o = parse({"--unit", "master", "--version", "01FF", "--radios", "3",
                                "--faulty-radio", "2", "--bad-id"});
    EXPECT_EQ(o.radios, 3);
    const auto first = makeFleetModel(o, 1);
    const auto second = makeFleetModel(o, 2);
    const auto third = makeFleetModel(o, 3);
    EXPECT_EQ(first->config().version, 0x01FF);
    EXPECT_EQ(third->config().version, 0x0201);
    EXPECT_NE(IdentificationAnswer(*first).find("PANEL"), std::string::npos);
    EXPECT_NE(IdentificationAnswer(*second).find("XXXXX"), std::string::npos);
    EXPECT_NE(IdentificationAnswer(*third).find("PANEL"), std::string::npos);

    EXPECT_EQ(fleetFileName("memory.bin", o, 2), "memory.bin.2");
    EXPECT_EQ(fleetFileName("memory.bin", parse({}), 1), "memory.bin");
    EXPECT_EQ(fleetFileName("", o, 2), "");
}

TEST(FleetOptions, PortsWithoutARadioAndBadCombinationsAreRefused) {
    const SimOptions none = parse({"--unit", "none", "--noise", "15"});
    EXPECT_TRUE(none.noUnit);
    EXPECT_EQ(none.noiseInterval, Micros{15'000});
    for (const auto& args :
         std::vector<std::vector<const char*>>{{"--noise", "15"},
                                               {"--unit", "none", "--noise", "0"},
                                               {"--radios", "0"},
                                               {"--radios", "2", "--faulty-radio", "3"}}) {
        std::vector<const char*> argv{"rq7300-sim"};
        argv.insert(argv.end(), args.begin(), args.end());
        EXPECT_THROW(parseSimOptions(static_cast<int>(argv.size()), argv.data()),
                     std::invalid_argument)
            << args.front();
    }
}

}  // namespace
}  // namespace qrb::sim
