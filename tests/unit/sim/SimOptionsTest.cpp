// rq7300-sim's command line: value syntaxes, options whose value may be left
// out, repeated options, the messages for bad usage, and the fleet (each
// radio its own version, faults for the chosen radio only) and the ports
// without a radio.
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

std::string usageError(std::initializer_list<const char*> args) {
    try {
        parse(args);
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(SimOptions, ValuesSeparateOrAfterAnEqualsSignAndTheLastOneWins) {
    const SimOptions o = parse({"--unit=slave", "--version", "0312", "--answer-delay", "100",
                                "--answer-delay=250", "--idle-exit", "2", "--link", "/tmp/r"});
    EXPECT_EQ(o.unit, Unit::SlaveCpu);
    EXPECT_EQ(o.config.version, 0x0312);
    EXPECT_EQ(o.config.answerDelay, Micros{250});
    EXPECT_EQ(o.idleExit, Micros{2'000'000});
    EXPECT_EQ(o.link, "/tmp/r");
    EXPECT_FALSE(o.help);
    EXPECT_TRUE(parse({"-h"}).help);
}

TEST(SimOptions, RepeatedRefusalsAreKeptInOrderForEveryUnit) {
    const SimOptions o = parse({"--refuse-frame", "5:03", "--refuse-frame", "7:1F:always"});
    ASSERT_EQ(o.master.refusals.size(), 2u);
    EXPECT_EQ(o.master.refusals[0].frame, 5);
    EXPECT_EQ(o.master.refusals[0].code, 0x03);
    EXPECT_EQ(o.master.refusals[1].frame, 7);
    EXPECT_EQ(o.master.refusals[1].times, kEvery);
    EXPECT_EQ(o.slave.refusals.size(), 2u);
    EXPECT_EQ(o.option.refusals.size(), 2u);
}

// A bare --garbage must not take the next argument as its value.
TEST(SimOptions, OptionalValuesMayBeLeftOut) {
    const SimOptions bare = parse({"--garbage", "--unit", "olu6", "--bad-id", "--bad-sum"});
    EXPECT_EQ(bare.unit, Unit::OptionUnit);
    ASSERT_TRUE(bare.common.garbageBefore.has_value());
    EXPECT_EQ(bare.common.garbageBefore->step, Step::Any);
    EXPECT_EQ(bare.common.identification, "XXXXX");
    EXPECT_TRUE(bare.common.badCheck.has_value());

    const SimOptions given = parse({"--garbage-instead=frame@2+all", "--bad-id=AB12"});
    ASSERT_TRUE(given.common.garbageInstead.has_value());
    EXPECT_EQ(given.common.garbageInstead->step, Step::Frame);
    EXPECT_EQ(given.common.garbageInstead->first, 2);
    EXPECT_EQ(given.common.garbageInstead->count, kEvery);
    EXPECT_EQ(given.common.identification, "AB12");
    EXPECT_FALSE(given.common.garbageBefore.has_value());
}

TEST(SimOptions, BadUsageIsNamed) {
    EXPECT_EQ(usageError({"--bogus"}), "unknown option --bogus");
    EXPECT_EQ(usageError({"--unit", "dsp"}), "--unit: expected master, slave, olu6 or none");
    EXPECT_EQ(usageError({"--version", "12"}), "--version: expected four hexadecimal digits");
    // A negative number is the option's value, refused as one.
    EXPECT_EQ(usageError({"--slow", "-5"}), "--slow: not a number: '-5'");
    EXPECT_EQ(usageError({"--refuse-frame", "5"}), "--refuse-frame: expected K:CODE");
    EXPECT_EQ(usageError({"stray"}), "unexpected argument stray");
    EXPECT_NE(usageError({"--unit"}).find("--unit"), std::string::npos);
    EXPECT_NE(usageError({"--blank=1"}).find("--blank"), std::string::npos);
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
