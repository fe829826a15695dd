// The option unit's programming protocol, command by command, and its
// faults on demand.
#include <gtest/gtest.h>

#include <string>

#include "UnitBench.h"
#include "sim/OptionUnitModel.h"

namespace qrb::sim::test {
namespace {

Bytes routine(std::uint32_t length) {
    Bytes bytes{static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
                static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    for (std::uint32_t i = 0; i < length; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(i * 31 + 7));
    }
    bytes.push_back(static_cast<std::uint8_t>((0x100 - byteSum(bytes)) & 0xFF));
    return bytes;
}

Bytes blockFrame(std::uint32_t address, std::uint8_t fill) {
    Bytes frame{0x50, static_cast<std::uint8_t>(address >> 24),
                static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
                static_cast<std::uint8_t>(address)};
    for (int i = 0; i < 128; ++i) {
        frame.push_back(static_cast<std::uint8_t>(fill ^ i));
    }
    frame.push_back(static_cast<std::uint8_t>((0x100 - byteSum(frame)) & 0xFF));
    return frame;
}

Bytes eraseCommand(std::uint8_t block) {
    return {0x58, 0x01, block, static_cast<std::uint8_t>(0xA7 - block)};
}

const Bytes kAck{0x06};
const Bytes kEndFrame{0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB4};

// Brings the unit through the parameter commands, 40 and the base routine.
void enterProgrammingState(UnitBench& bench) {
    ASSERT_EQ(bench.ask({0x27}), (Bytes{0x27, 0x02, 0x00, 0x80, 0x57}));
    ASSERT_EQ(bench.ask({0x10, 0x04, 0x30, 0x31, 0x30, 0x31, 0x2A}), kAck);
    ASSERT_EQ(bench.ask({0x11, 0x01, 0x00, 0xEE}), kAck);
    ASSERT_EQ(bench.ask({0x3F, 0x07, 0x00, 0x30, 0x06, 0x90, 0x01, 0x01, 0x01, 0xF1}), kAck);
    ASSERT_EQ(bench.ask({0x06}), kAck);
    ASSERT_EQ(bench.ask({0x40}, Micros{2'000'000}), kAck);
    ASSERT_EQ(bench.ask(routine(911)), kAck);
}

TEST(OptionUnit, WholeSequenceOnAUnitThatIsNotBlank) {
    OptionUnitModel unit;
    ASSERT_FALSE(unit.blank());
    UnitBench bench(unit);
    enterProgrammingState(bench);

    const Bytes status = bench.ask({0x4F});
    ASSERT_EQ(status.size(), 5u);
    EXPECT_EQ(status[3], 0x00);  // reply byte 4 with the echo at 0
    EXPECT_EQ(byteSum(status), 0u);

    EXPECT_EQ(bench.ask({0x4D}), (Bytes{0xCD, 0x52}));
    bench.ask({0x4F});
    EXPECT_EQ(bench.ask({0x48}), kAck);
    EXPECT_EQ(bench.ask(routine(1255)), kAck);
    for (std::uint8_t block = 0; block <= 9; ++block) {
        EXPECT_EQ(bench.ask(eraseCommand(block), Micros{1'400'000}), kAck);
    }
    EXPECT_EQ(bench.ask({0x58, 0x01, 0xFF, 0xA8}), kAck);
    EXPECT_TRUE(unit.blank());

    bench.ask({0x4F});
    EXPECT_EQ(bench.ask({0x43}), kAck);
    EXPECT_EQ(bench.ask(routine(1353)), kAck);
    std::uint32_t expectedSum = 0;
    for (std::uint32_t address = 0; address < 0x20000; address += 128) {
        const Bytes frame = blockFrame(address, static_cast<std::uint8_t>(address >> 7));
        for (std::size_t i = 5; i < 133; ++i) {
            expectedSum += frame[i];
        }
        ASSERT_EQ(bench.ask(frame, Micros{10'000}), kAck) << address;
    }
    EXPECT_EQ(bench.ask(kEndFrame), kAck);
    bench.ask({0x4F});
    const Bytes sum = bench.ask({0x4B});
    ASSERT_EQ(sum.size(), 7u);
    EXPECT_EQ(byteSum(sum), 0u);
    EXPECT_EQ(sum[2], static_cast<std::uint8_t>(expectedSum >> 24));
    EXPECT_EQ(sum[3], static_cast<std::uint8_t>(expectedSum >> 16));
    EXPECT_EQ(sum[4], static_cast<std::uint8_t>(expectedSum >> 8));
    EXPECT_EQ(sum[5], static_cast<std::uint8_t>(expectedSum));
    EXPECT_EQ(unit.memorySum(), expectedSum);
    EXPECT_EQ(unit.acceptedAddresses().size(), 1024u);
    EXPECT_EQ(unit.routinesLoaded(), (std::vector<std::uint32_t>{911, 1255, 1353}));
    EXPECT_EQ(unit.erasedBlocks().size(), 10u);
    EXPECT_TRUE(unit.endFrameReceived());
    EXPECT_TRUE(unit.violations().empty()) << unit.violationTexts()[0];
}

TEST(OptionUnit, BlankUnitAnswersCheckBlankWithAckAlone) {
    OptionUnitConfig config;
    config.blank = true;
    OptionUnitModel unit(config);
    UnitBench bench(unit);
    enterProgrammingState(bench);
    EXPECT_EQ(bench.ask({0x4D}), kAck);
    EXPECT_EQ(bench.ask({0x4B})[5], 0x00);  // 0x01FE0000: 131072 x FF
    EXPECT_EQ(unit.memorySum(), 0x01FE0000u);
}

TEST(OptionUnit, EnterProgrammingStateAnswersAfterItsDelay) {
    OptionUnitConfig config;
    config.enterDelay = Micros{1'200'000};
    OptionUnitModel unit(config);
    UnitBench bench(unit);
    bench.ask({0x27});
    bench.ask({0x3F, 0x07, 0x00, 0x30, 0x06, 0x90, 0x01, 0x01, 0x01, 0xF1});
    bench.ask({0x06});
    const Micros sentAt = bench.now();
    const auto bursts = bench.send({0x40}, Micros{2'000'000});
    ASSERT_EQ(bursts.size(), 2u);
    EXPECT_EQ(bursts[1].bytes, kAck);
    EXPECT_EQ(bursts[1].due, sentAt + Micros{1'200'000});
}

TEST(OptionUnit, EraseTakesItsTimeAndClearsItsRange) {
    OptionUnitConfig config;
    config.eraseTime = Micros{250'000};
    OptionUnitModel unit(config);
    UnitBench bench(unit);
    enterProgrammingState(bench);
    bench.ask({0x48});
    bench.ask(routine(1255));
    const Micros sentAt = bench.now();
    const auto bursts = bench.send(eraseCommand(3), Micros{1'400'000});
    ASSERT_EQ(bursts.size(), 2u);
    EXPECT_EQ(bursts[1].due, sentAt + Micros{250'000});
    const auto [first, last] = OptionUnitModel::eraseBlockRange(3);
    EXPECT_EQ(unit.memory()[first], 0xFF);
    EXPECT_EQ(unit.memory()[last], 0xFF);
    EXPECT_NE(unit.memory()[first - 1], 0xFF);  // block 2 still holds old firmware
}

TEST(OptionUnit, EraseBlocksCoverTheImageWithoutGaps) {
    std::uint32_t next = 0;
    for (int block = 0; block < OptionUnitModel::kEraseBlocks; ++block) {
        const auto [first, last] = OptionUnitModel::eraseBlockRange(block);
        EXPECT_EQ(first, next);
        next = last + 1;
    }
    EXPECT_EQ(next, 0x20000u);
    // The blocks erased without WriteAllAreas are exactly what it programs.
    EXPECT_EQ(OptionUnitModel::eraseBlockRange(2).first, 0x800u);
    EXPECT_EQ(OptionUnitModel::eraseBlockRange(8).second, 0x17FFFu);
}

TEST(OptionUnit, ProtocolSlipsAreRecorded) {
    OptionUnitModel unit;
    UnitBench bench(unit);
    enterProgrammingState(bench);
    // Programming before the programming routine, erasing before the erase
    // routine, a routine where none is due, a routine with a bad sum.
    EXPECT_EQ(bench.ask(blockFrame(0x800, 0)), Bytes{0x15});
    EXPECT_EQ(bench.ask(eraseCommand(2)), Bytes{0x15});
    bench.ask({0x48});
    Bytes bad = routine(1255);
    bad.back() ^= 0x01;
    EXPECT_EQ(bench.ask(bad), Bytes{0x15});
    bench.ask({0x43});
    EXPECT_EQ(bench.ask(routine(1255)), Bytes{0x15});  // the programming routine was due
    EXPECT_EQ(unit.violations().size(), 4u);
    EXPECT_TRUE(unit.routinesLoaded() == std::vector<std::uint32_t>{911});
}

TEST(OptionUnit, ProgrammingOverOldFirmwareIsRecorded) {
    OptionUnitModel unit;
    UnitBench bench(unit);
    enterProgrammingState(bench);
    bench.ask({0x43});
    bench.ask(routine(1353));
    EXPECT_EQ(bench.ask(blockFrame(0x800, 0x5A)), kAck);
    ASSERT_EQ(unit.violations().size(), 1u);
    EXPECT_NE(unit.violations()[0].what.find("not erased"), std::string::npos);
}

TEST(OptionUnit, FrameOutsideTheMemoryOrOffBlockRefused) {
    OptionUnitModel unit;
    UnitBench bench(unit);
    enterProgrammingState(bench);
    bench.ask({0x43});
    bench.ask(routine(1353));
    EXPECT_EQ(bench.ask(blockFrame(0x20000, 0)), Bytes{0x15});
    EXPECT_EQ(bench.ask(blockFrame(0x840, 0)), Bytes{0x15});
    EXPECT_EQ(unit.violations().size(), 2u);
}

// ---- faults of the option unit -------------------------------------------

struct OptionFaultCase {
    const char* name;
    std::function<void(OptionUnitFaults&)> set;
    Bytes command;
    Bytes expected;
};

class OptionFaults : public ::testing::TestWithParam<OptionFaultCase> {};

TEST_P(OptionFaults, AnswerCarriesTheFault) {
    const auto& c = GetParam();
    OptionUnitFaults faults;
    c.set(faults);
    OptionUnitModel unit({}, faults);
    UnitBench bench(unit);
    if (c.command == Bytes{0x27}) {
        EXPECT_EQ(bench.ask(c.command), c.expected) << c.name;
        return;
    }
    if (c.command == Bytes{0x40}) {
        bench.ask({0x3F, 0x07, 0x00, 0x30, 0x06, 0x90, 0x01, 0x01, 0x01, 0xF1});
        bench.ask({0x06});
        EXPECT_EQ(bench.ask(c.command, Micros{2'000'000}), c.expected) << c.name;
        return;
    }
    enterProgrammingState(bench);
    if (c.command[0] == 0x58) {
        bench.ask({0x48});
        bench.ask(routine(1255));
    }
    EXPECT_EQ(bench.ask(c.command, Micros{1'400'000}), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OptionFaults,
    ::testing::Values(OptionFaultCase{"wrong programming unit",
                                      [](OptionUnitFaults& f) { f.programmingUnit = 0x0100; },
                                      {0x27},
                                      {0x27, 0x02, 0x01, 0x00, 0xD6}},
                      OptionFaultCase{"40 answered with an error pair",
                                      [](OptionUnitFaults& f) { f.enterError = 0x33; },
                                      {0x40},
                                      {0xC0, 0x33}},
                      OptionFaultCase{"boot status error",
                                      [](OptionUnitFaults& f) {
                                          f.bootStatusError = OptionUnitFaults::BootStatus{0, 0x21};
                                      },
                                      {0x4F},
                                      {0x4F, 0x02, 0x00, 0x21, 0x8E}},
                      OptionFaultCase{"check blank error code",
                                      [](OptionUnitFaults& f) { f.checkBlankError = 0x44; },
                                      {0x4D},
                                      {0xCD, 0x44}},
                      OptionFaultCase{"erase error D8 51",
                                      [](OptionUnitFaults& f) {
                                          f.eraseError = OptionUnitFaults::EraseError{4, 0x51};
                                      },
                                      eraseCommand(4),
                                      {0xD8, 0x51}},
                      OptionFaultCase{"erase error D8 11",
                                      [](OptionUnitFaults& f) {
                                          f.eraseError = OptionUnitFaults::EraseError{4, 0x11};
                                      },
                                      eraseCommand(4),
                                      {0xD8, 0x11}},
                      OptionFaultCase{"other blocks erase fine",
                                      [](OptionUnitFaults& f) {
                                          f.eraseError = OptionUnitFaults::EraseError{4, 0x11};
                                      },
                                      eraseCommand(5),
                                      {0x06}}));

TEST(OptionUnit, BootStatusErrorOnlyAtItsQuery) {
    OptionUnitFaults faults;
    faults.bootStatusError = OptionUnitFaults::BootStatus{1, 0x09};
    OptionUnitModel unit({}, faults);
    UnitBench bench(unit);
    enterProgrammingState(bench);
    EXPECT_EQ(bench.ask({0x4F})[3], 0x00);
    EXPECT_EQ(bench.ask({0x4F})[3], 0x09);
    EXPECT_EQ(bench.ask({0x4F})[3], 0x00);
}

}  // namespace
}  // namespace qrb::sim::test
