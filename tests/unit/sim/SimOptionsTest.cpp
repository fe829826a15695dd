// rq7300-sim's command line: value syntaxes, options whose value may be left
// out, repeated options, and the messages for bad usage.
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

}  // namespace
}  // namespace qrb::sim
