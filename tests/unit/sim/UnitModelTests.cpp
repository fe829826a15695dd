// The answers of the three units, byte for byte: ready byte, echo,
// identification, version, Master CPU block frames, Slave CPU line frames.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "UnitBench.h"
#include "sim/MasterCpuModel.h"
#include "sim/OptionUnitModel.h"
#include "sim/SlaveCpuModel.h"

namespace qrb::sim::test {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<RadioModel> makeUnit(Unit unit, RadioConfig config = {}) {
    switch (unit) {
        case Unit::MasterCpu:
            return std::make_unique<MasterCpuModel>(config);
        case Unit::SlaveCpu:
            return std::make_unique<SlaveCpuModel>(config);
        case Unit::OptionUnit: {
            OptionUnitConfig optionConfig;
            static_cast<RadioConfig&>(optionConfig) = config;
            return std::make_unique<OptionUnitModel>(optionConfig);
        }
    }
    return nullptr;
}

struct IdentificationCase {
    Unit unit;
    Bytes ownCommand;
    Bytes foreignCommand;
    Bytes answer;  // written out by hand: E5 05, the text, zero-sum byte
};

class Identification : public ::testing::TestWithParam<IdentificationCase> {};

TEST_P(Identification, OwnCommandAnsweredForeignIgnored) {
    const auto& c = GetParam();
    auto unit = makeUnit(c.unit);
    UnitBench bench(*unit);

    const auto bursts = bench.send(c.ownCommand);
    ASSERT_EQ(bursts.size(), 2u);
    EXPECT_EQ(bursts[0].kind, BurstKind::Echo);
    EXPECT_EQ(bursts[0].bytes, c.ownCommand);
    EXPECT_EQ(bursts[1].kind, BurstKind::Answer);
    EXPECT_EQ(bursts[1].bytes, c.answer);
    EXPECT_EQ(byteSum(bursts[1].bytes), 0u);

    const auto foreign = bench.send(c.foreignCommand);
    EXPECT_EQ(UnitBench::only(foreign, BurstKind::Echo), c.foreignCommand);
    EXPECT_TRUE(UnitBench::only(foreign, BurstKind::Answer).empty());
    EXPECT_TRUE(unit->violations().empty());
}

TEST_P(Identification, ForeignCommandAnsweredWithOwnTextWhenAsked) {
    const auto& c = GetParam();
    RadioConfig config;
    config.answerForeignIdentification = true;
    auto unit = makeUnit(c.unit, config);
    UnitBench bench(*unit);
    EXPECT_EQ(bench.ask(c.foreignCommand), c.answer);
}

INSTANTIATE_TEST_SUITE_P(
    AllUnits, Identification,
    ::testing::Values(IdentificationCase{Unit::MasterCpu,
                                         {0x65, 0x01, 0x50, 0x4A},
                                         {0x65, 0x01, 0x44, 0x56},
                                         {0xE5, 0x05, 'P', 'A', 'N', 'E', 'L', 0xA6}},
                      IdentificationCase{Unit::SlaveCpu,
                                         {0x65, 0x01, 0x44, 0x56},
                                         {0x65, 0x01, 0x41, 0x59},
                                         {0xE5, 0x05, 'D', 'S', 'P', ' ', ' ', 0xEF}},
                      IdentificationCase{Unit::OptionUnit,
                                         {0x65, 0x01, 0x41, 0x59},
                                         {0x65, 0x01, 0x50, 0x4A},
                                         {0xE5, 0x05, 'O', 'L', 'U', '-', '6', 0xC3}}));

TEST(CommonBehaviour, ReadyByteEveryIntervalUntilA0) {
    MasterCpuModel unit;
    unit.powerOn(0us);
    EXPECT_EQ(unit.nextDue(), Micros{300'000});
    const auto ready = unit.takeDue(Micros{900'000});
    ASSERT_EQ(ready.size(), 3u);
    for (std::size_t i = 0; i < ready.size(); ++i) {
        EXPECT_EQ(ready[i].kind, BurstKind::Ready);
        EXPECT_EQ(ready[i].bytes, Bytes{0x50});
        EXPECT_EQ(ready[i].due, Micros{300'000 * static_cast<long>(i + 1)});
    }
    unit.receive(0xA0, Micros{950'000});
    const auto after = unit.takeDue(Micros{5'000'000});
    ASSERT_EQ(after.size(), 1u);  // the echo of A0, and no ready byte after it
    EXPECT_EQ(after[0].kind, BurstKind::Echo);
    EXPECT_EQ(after[0].due, Micros{950'300});
    EXPECT_TRUE(unit.connected());
    EXPECT_TRUE(unit.violations().empty());
}

TEST(CommonBehaviour, ReadyByteDueWhenA0ArrivesStillGoesOut) {
    SlaveCpuModel unit;
    unit.powerOn(0us);
    unit.receive(0xA0, Micros{300'000});
    const auto out = unit.takeDue(Micros{1'000'000});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].kind, BurstKind::Ready);
    EXPECT_EQ(out[1].kind, BurstKind::Echo);
}

TEST(CommonBehaviour, BytesBeforeA0AreViolationsButEchoed) {
    OptionUnitModel unit;
    unit.powerOn(0us);
    unit.receive(0x65, Micros{1'000});
    const auto out = unit.takeDue(Micros{2'000});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes, Bytes{0x65});
    ASSERT_EQ(unit.violations().size(), 1u);
    EXPECT_NE(unit.violations()[0].what.find("expected A0"), std::string::npos);
    EXPECT_FALSE(unit.connected());
}

TEST(CommonBehaviour, EchoFirstThenAnswerAtItsDelay) {
    RadioConfig config;
    config.echoDelay = Micros{500};
    config.answerDelay = Micros{4'000};
    MasterCpuModel unit(config);
    UnitBench bench(unit);
    const Micros sentAt = bench.now();
    const auto bursts = bench.send({0x65, 0x01, 0x50, 0x4A});
    ASSERT_EQ(bursts.size(), 2u);
    EXPECT_EQ(bursts[0].due, sentAt + Micros{500});
    EXPECT_EQ(bursts[1].due, sentAt + Micros{4'000});
}

TEST(CommonBehaviour, AnswerNeverAheadOfTheEcho) {
    RadioConfig config;
    config.echoDelay = Micros{800};
    config.answerDelay = Micros{0};
    SlaveCpuModel unit(config);
    UnitBench bench(unit);
    const auto bursts = bench.send({0x66});
    ASSERT_EQ(bursts.size(), 2u);
    EXPECT_EQ(bursts[0].kind, BurstKind::Echo);
    EXPECT_EQ(bursts[1].kind, BurstKind::Answer);
    EXPECT_EQ(bursts[0].due, bursts[1].due);
}

TEST(CommonBehaviour, EndCommandEchoedOnlyAndRecorded) {
    SlaveCpuModel unit;
    UnitBench bench(unit);
    const auto bursts = bench.send({0x38, 0x01, 0x39});
    EXPECT_EQ(UnitBench::only(bursts, BurstKind::Echo), (Bytes{0x38, 0x01, 0x39}));
    EXPECT_TRUE(UnitBench::only(bursts, BurstKind::Answer).empty());
    EXPECT_TRUE(unit.endCommandReceived());
    bench.send({0x48});
    EXPECT_EQ(unit.violations().size(), 1u);  // nothing is expected after the end
}

struct BadCommandCase {
    const char* name;
    Unit unit;
    Bytes bytes;
    const char* violationPart;
};

class BadCommands : public ::testing::TestWithParam<BadCommandCase> {};

TEST_P(BadCommands, RecordedNotAnsweredPositively) {
    const auto& c = GetParam();
    auto unit = makeUnit(c.unit);
    UnitBench bench(*unit);
    const Bytes answer = bench.ask(c.bytes);
    EXPECT_TRUE(answer.empty() || answer[0] != 0x06) << c.name;
    ASSERT_FALSE(unit->violations().empty()) << c.name;
    EXPECT_NE(unit->violations()[0].what.find(c.violationPart), std::string::npos)
        << unit->violations()[0].what;
}

INSTANTIATE_TEST_SUITE_P(
    AllUnits, BadCommands,
    ::testing::Values(
        BadCommandCase{"identification with a bad sum",
                       Unit::MasterCpu,
                       {0x65, 0x01, 0x50, 0x4B},
                       "do not sum to 0"},
        BadCommandCase{"unknown byte", Unit::MasterCpu, {0x77}, "unknown command 77"},
        BadCommandCase{"unit version on the Master CPU", Unit::MasterCpu, {0x66}, "unknown"},
        BadCommandCase{"wrong version command", Unit::MasterCpu, {0xE1, 0x02, 0xE3}, "E1 01 E2"},
        BadCommandCase{"wrong end command", Unit::SlaveCpu, {0x38, 0x02, 0x3A}, "38 01 39"},
        BadCommandCase{"line before 48",
                       Unit::SlaveCpu,
                       {0x50, 0x00, 0x01, 0x3A, 0x75},
                       "before the erase selection"},
        BadCommandCase{"Slave frame of unknown kind", Unit::SlaveCpu, {0x50, 0x12}, "unknown"},
        BadCommandCase{"40 before the parameters", Unit::OptionUnit, {0x40}, "bit rate"},
        BadCommandCase{"wrong device",
                       Unit::OptionUnit,
                       {0x10, 0x04, 0x30, 0x31, 0x30, 0x32, 0x29},
                       "expected 10 04 30 31 30 31 2A"},
        BadCommandCase{"clock mode with a bad sum",
                       Unit::OptionUnit,
                       {0x11, 0x01, 0x00, 0xEF},
                       "do not sum to 0"},
        BadCommandCase{"blank check before the programming state",
                       Unit::OptionUnit,
                       {0x4D},
                       "outside the programming state"}));

// ---- Master CPU ----------------------------------------------------------

Bytes masterFrame(std::uint16_t block, std::uint8_t fill) {
    Bytes frame{0xE0, 0x83, static_cast<std::uint8_t>(block >> 8),
                static_cast<std::uint8_t>(block & 0xFF)};
    for (int i = 0; i < 128; ++i) {
        frame.push_back(static_cast<std::uint8_t>(fill + i));
    }
    frame.push_back(static_cast<std::uint8_t>(byteSum(frame)));
    return frame;
}

TEST(MasterCpu, VersionAnswerWithTrailingSum) {
    RadioConfig config;
    config.version = 0x1234;
    MasterCpuModel unit(config);
    UnitBench bench(unit);
    const Bytes answer = bench.ask({0xE1, 0x01, 0xE2});
    ASSERT_EQ(answer.size(), 12u);
    EXPECT_EQ(answer[0], 0x06);
    EXPECT_EQ(answer[9], 0x12);
    EXPECT_EQ(answer[10], 0x34);
    EXPECT_EQ(answer[11], byteSum(Bytes(answer.begin(), answer.begin() + 11)));
}

TEST(MasterCpu, VersionRefused) {
    MasterFaults faults;
    faults.refuseVersion = true;
    MasterCpuModel unit({}, faults);
    UnitBench bench(unit);
    const Bytes answer = bench.ask({0xE1, 0x01, 0xE2});
    ASSERT_EQ(answer.size(), 4u);  // NAK and the three bytes the PC waits for
    EXPECT_EQ(answer[0], 0x15);
}

TEST(MasterCpu, FrameStoredAndAcknowledgedWithFiveBytes) {
    MasterCpuModel unit;
    UnitBench bench(unit);
    const Bytes frame = masterFrame(0x07D0, 0x20);  // block 2000
    const auto bursts = bench.send(frame);
    EXPECT_EQ(UnitBench::only(bursts, BurstKind::Echo), frame);
    EXPECT_EQ(UnitBench::only(bursts, BurstKind::Answer),
              (Bytes{0x06, 0xE0, 0x83, 0x07, 0xD0, 0x06 + 0xE0 + 0x83 + 0x07 + 0xD0 - 0x200}));
    EXPECT_EQ(unit.memory()[2000 * 128], 0x20);
    EXPECT_EQ(unit.memory()[2000 * 128 + 127], 0x20 + 127);
    EXPECT_EQ(unit.memory()[2000 * 128 - 1], 0xFF);
    EXPECT_EQ(unit.memory()[2001 * 128], 0xFF);
    EXPECT_EQ(unit.acceptedBlocks(), std::vector<std::uint32_t>{2000});
    EXPECT_TRUE(unit.violations().empty());
}

TEST(MasterCpu, FrameWithBadCheckByteRefusedWithResendableCode) {
    MasterCpuModel unit;
    UnitBench bench(unit);
    Bytes frame = masterFrame(160, 0);
    frame.back() ^= 0x01;
    const Bytes answer = bench.ask(frame);
    ASSERT_EQ(answer.size(), 5u);
    // PC buffer: echo 0..132, NAK at 133, error code at 136.
    EXPECT_EQ(answer[0], 0x15);
    EXPECT_EQ(answer[3], MasterCpuModel::kCodeBadCheck);
    EXPECT_GE(answer[3], 8);
    EXPECT_EQ(unit.memory()[160 * 128], 0xFF);
    ASSERT_EQ(unit.violations().size(), 1u);
    EXPECT_NE(unit.violations()[0].what.find("block 160"), std::string::npos);
}

TEST(MasterCpu, BlockBeyondMemoryRefusedForGood) {
    MasterCpuModel unit;
    UnitBench bench(unit);
    const Bytes answer = bench.ask(masterFrame(2048, 0));
    ASSERT_EQ(answer.size(), 5u);
    EXPECT_EQ(answer[3], MasterCpuModel::kCodeBadBlock);
    EXPECT_LT(answer[3], 8);
    EXPECT_EQ(unit.violations().size(), 1u);
}

TEST(MasterCpu, RefusalOnceThenAccepted) {
    MasterFaults faults;
    faults.refusals.push_back(FrameRefusal{1, 0x09, 1});
    MasterCpuModel unit({}, faults);
    UnitBench bench(unit);
    EXPECT_EQ(bench.ask(masterFrame(160, 1))[0], 0x06);
    const Bytes refused = bench.ask(masterFrame(161, 2));
    EXPECT_EQ(refused, (Bytes{0x15, 0x00, 0xA1, 0x09, 0x15 + 0xA1 + 0x09}));
    EXPECT_EQ(bench.ask(masterFrame(161, 2))[0], 0x06);
    EXPECT_EQ(bench.ask(masterFrame(162, 3))[0], 0x06);
    ASSERT_EQ(unit.frames().size(), 4u);
    EXPECT_FALSE(unit.frames()[1].accepted);
    EXPECT_EQ(unit.acceptedBlocks(), (std::vector<std::uint32_t>{160, 161, 162}));
    EXPECT_TRUE(unit.violations().empty());  // a refusal on demand is no violation
}

TEST(MasterCpu, RefusalAlways) {
    MasterFaults faults;
    faults.refusals.push_back(FrameRefusal{0, 0x03, kEvery});
    MasterCpuModel unit({}, faults);
    UnitBench bench(unit);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bench.ask(masterFrame(160, 0))[3], 0x03);
    }
    EXPECT_TRUE(unit.acceptedBlocks().empty());
}

// ---- unit version, Slave CPU -------------------------------------------

TEST(UnitVersion, AnswerZeroSumThenThePcsAck) {
    for (Unit which : {Unit::SlaveCpu, Unit::OptionUnit}) {
        RadioConfig config;
        config.version = 0x0207;
        auto unit = makeUnit(which, config);
        UnitBench bench(*unit);
        EXPECT_EQ(bench.ask({0x66}), (Bytes{0x76, 0x02, 0x02, 0x07, 0x7F}));
        EXPECT_TRUE(bench.ask({0x06}).empty());  // the PC's ACK: echo only
        EXPECT_EQ(unit->versionAcksReceived(), 1);
        EXPECT_TRUE(unit->violations().empty());
    }
}

TEST(UnitVersion, MissingAckIsAViolation) {
    SlaveCpuModel unit;
    UnitBench bench(unit);
    bench.ask({0x66});
    EXPECT_EQ(bench.ask({0x48}), Bytes{0x06});
    ASSERT_EQ(unit.violations().size(), 1u);
    EXPECT_NE(unit.violations()[0].what.find("06 after the version"), std::string::npos);
}

TEST(UnitVersion, RepeatedCommandIsARetryNotAViolation) {
    OptionUnitModel unit;
    UnitBench bench(unit);
    const Bytes answer = bench.ask({0x66});
    EXPECT_EQ(bench.ask({0x66}), answer);
    EXPECT_TRUE(bench.ask({0x06}).empty());
    EXPECT_EQ(unit.versionAcksReceived(), 1);
    EXPECT_TRUE(unit.violations().empty());
}

Bytes lineFrame(const std::string& text) {
    Bytes frame{0x50, 0x00, static_cast<std::uint8_t>(text.size())};
    frame.insert(frame.end(), text.begin(), text.end());
    frame.push_back(static_cast<std::uint8_t>((0x100 - byteSum(frame)) & 0xFF));
    return frame;
}

TEST(SlaveCpu, LinesAfterEraseSelectionThenEndFrame) {
    SlaveCpuModel unit;
    UnitBench bench(unit);
    EXPECT_EQ(bench.ask({0x48}), Bytes{0x06});
    // The worked example: the Intel HEX end record.
    const Bytes endRecord{0x50, 0x00, 0x0B, 0x3A, 0x30, 0x30, 0x30, 0x30,
                          0x30, 0x30, 0x30, 0x31, 0x46, 0x46, 0x5E};
    EXPECT_EQ(lineFrame(":00000001FF"), endRecord);
    EXPECT_EQ(bench.ask(lineFrame(":020000040000FA")), Bytes{0x06});
    EXPECT_EQ(bench.ask(endRecord), Bytes{0x06});
    EXPECT_EQ(bench.ask({0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB4}), Bytes{0x06});
    EXPECT_EQ(unit.lines(), (std::vector<std::string>{":020000040000FA", ":00000001FF"}));
    EXPECT_TRUE(unit.endFrameReceived());
    EXPECT_TRUE(unit.violations().empty());
}

TEST(SlaveCpu, BadLineSumRefusedAndRecorded) {
    SlaveCpuModel unit;
    UnitBench bench(unit);
    bench.ask({0x48});
    Bytes frame = lineFrame(":00000001FF");
    frame.back() = 0x5F;
    EXPECT_EQ(bench.ask(frame), Bytes{0x15});
    EXPECT_TRUE(unit.lines().empty());
    EXPECT_EQ(unit.violations().size(), 1u);
}

TEST(SlaveCpu, EraseSelectionForgetsEarlierLines) {
    SlaveCpuModel unit;
    UnitBench bench(unit);
    bench.ask({0x48});
    bench.ask(lineFrame(":A"));
    bench.ask({0x48});
    bench.ask(lineFrame(":B"));
    EXPECT_EQ(unit.lines(), std::vector<std::string>{":B"});
    EXPECT_EQ(unit.frames().size(), 2u);
}

TEST(SlaveCpu, RefusalsOnDemand) {
    SlaveFaults faults;
    faults.refusals.push_back(FrameRefusal{1, 0, 1});
    faults.refuseEndFrame = true;
    SlaveCpuModel unit({}, faults);
    UnitBench bench(unit);
    bench.ask({0x48});
    EXPECT_EQ(bench.ask(lineFrame(":A")), Bytes{0x06});
    EXPECT_EQ(bench.ask(lineFrame(":B")), Bytes{0x15});
    EXPECT_EQ(bench.ask(lineFrame(":B")), Bytes{0x06});
    EXPECT_EQ(bench.ask({0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB4}), Bytes{0x15});
    EXPECT_EQ(unit.lines(), (std::vector<std::string>{":A", ":B"}));

    SlaveFaults refuseErase;
    refuseErase.refuseSelectErase = true;
    SlaveCpuModel other({}, refuseErase);
    UnitBench otherBench(other);
    EXPECT_EQ(otherBench.ask({0x48}), Bytes{0x15});
}

}  // namespace
}  // namespace qrb::sim::test
