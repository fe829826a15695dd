// The faults every unit can show, aimed at chosen answers.
#include <gtest/gtest.h>

#include <functional>

#include "UnitBench.h"
#include "sim/MasterCpuModel.h"

namespace qrb::sim::test {
namespace {

const Bytes kIdentify{0x65, 0x01, 0x50, 0x4A};
const Bytes kPanelAnswer{0xE5, 0x05, 'P', 'A', 'N', 'E', 'L', 0xA6};

struct FaultCase {
    const char* name;
    std::function<void(CommonFaults&)> set;
    std::vector<Bytes> answers;  // to three identification commands in a row
};

class AnswerFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(AnswerFaults, BendExactlyTheChosenAnswers) {
    const auto& c = GetParam();
    MasterFaults faults;
    c.set(faults);
    MasterCpuModel unit({}, faults);
    UnitBench bench(unit);
    for (std::size_t i = 0; i < c.answers.size(); ++i) {
        EXPECT_EQ(bench.ask(kIdentify, Micros{2'000'000}), c.answers[i]) << c.name << " #" << i;
    }
}

Bytes withGarbageFirst(Bytes bytes) {
    bytes.insert(bytes.begin(), 0x7E);
    return bytes;
}

Bytes withCheckOffByOne(Bytes bytes) {
    ++bytes.back();
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Common, AnswerFaults,
    ::testing::Values(FaultCase{"garbage before the second",
                                [](CommonFaults& f) {
                                    f.garbageBefore = AnswerSelector{Step::Identification, 1};
                                },
                                {kPanelAnswer, withGarbageFirst(kPanelAnswer), kPanelAnswer}},
                      FaultCase{
                          "garbage instead of every answer from the second on",
                          [](CommonFaults& f) {
                              f.garbageInstead = AnswerSelector{Step::Identification, 1, kEvery};
                          },
                          {kPanelAnswer, Bytes{0x7E}, Bytes{0x7E}}},
                      FaultCase{"bad check byte in the first",
                                [](CommonFaults& f) {
                                    f.badCheck = AnswerSelector{Step::Identification, 0};
                                },
                                {withCheckOffByOne(kPanelAnswer), kPanelAnswer, kPanelAnswer}},
                      FaultCase{"truncated third",
                                [](CommonFaults& f) {
                                    f.truncate = AnswerSelector{Step::Identification, 2};
                                    f.truncateTo = 3;
                                },
                                {kPanelAnswer, kPanelAnswer, Bytes{0xE5, 0x05, 'P'}}},
                      FaultCase{"silent from the second, for good",
                                [](CommonFaults& f) {
                                    f.silentFrom = AnswerSelector{Step::Identification, 1};
                                },
                                {kPanelAnswer, Bytes{}, Bytes{}}},
                      FaultCase{"silent from the first answer of any kind",
                                [](CommonFaults& f) {
                                    f.silentFrom = AnswerSelector{Step::Any, 0};
                                },
                                {Bytes{}, Bytes{}}},
                      FaultCase{"wrong identification",
                                [](CommonFaults& f) { f.identification = "PANEX"; },
                                {Bytes{0xE5, 0x05, 'P', 'A', 'N', 'E', 'X', 0x9A}}},
                      FaultCase{"fault aimed at another step leaves these alone",
                                [](CommonFaults& f) {
                                    f.garbageInstead = AnswerSelector{Step::Frame, 0, kEvery};
                                },
                                {kPanelAnswer, kPanelAnswer}}));

TEST(CommonFaults, SlowAnswerComesLater) {
    MasterFaults faults;
    faults.slow = AnswerSelector{Step::Identification, 0};
    faults.slowBy = Micros{700'000};
    MasterCpuModel unit({}, faults);
    UnitBench bench(unit);
    const Micros sentAt = bench.now();
    const auto bursts = bench.send(kIdentify, Micros{1'000'000});
    ASSERT_EQ(bursts.size(), 2u);
    EXPECT_EQ(bursts[1].due, sentAt + unit.config().answerDelay + Micros{700'000});
}

TEST(CommonFaults, SplitAnswerInTwoBursts) {
    MasterFaults faults;
    faults.split = AnswerSelector{Step::Identification, 0};
    faults.splitAfter = 2;
    faults.splitGap = Micros{4'000'000};
    MasterCpuModel unit({}, faults);
    UnitBench bench(unit);
    const auto bursts = bench.send(kIdentify, Micros{5'000'000});
    ASSERT_EQ(bursts.size(), 3u);
    EXPECT_EQ(bursts[1].bytes, (Bytes{0xE5, 0x05}));
    EXPECT_EQ(bursts[2].bytes, Bytes(kPanelAnswer.begin() + 2, kPanelAnswer.end()));
    EXPECT_EQ(bursts[2].due - bursts[1].due, Micros{4'000'000});
}

TEST(CommonFaults, SilenceEndsAtPowerOnAndMayTakeTheEcho) {
    MasterFaults faults;
    faults.silentFrom = AnswerSelector{Step::Identification, 0};
    faults.silenceEcho = true;
    MasterCpuModel unit({}, faults);
    {
        UnitBench bench(unit);
        EXPECT_TRUE(bench.ask(kIdentify).empty());
        EXPECT_TRUE(bench.send(kIdentify).empty());  // no echo either now
    }
    UnitBench again(unit);  // switched on again
    EXPECT_EQ(again.ask(kIdentify), kPanelAnswer);
}

TEST(CommonFaults, SilentUnitStillCarriesOutWhatItGets) {
    MasterFaults faults;
    faults.silentFromFrame = 1;
    MasterCpuModel unit({}, faults);
    UnitBench bench(unit);
    Bytes frame{0xE0, 0x83, 0x00, 0xA0};
    frame.resize(132, 0x00);
    frame.push_back(static_cast<std::uint8_t>(byteSum(frame)));
    EXPECT_EQ(bench.ask(frame).size(), 6u);
    frame[3] = 0xA1;
    frame[4] = 0x42;
    frame.back() = static_cast<std::uint8_t>(frame.back() + 1 + 0x42);
    const auto bursts = bench.send(frame);
    EXPECT_EQ(UnitBench::only(bursts, BurstKind::Echo), frame);  // the line still echoes
    EXPECT_TRUE(UnitBench::only(bursts, BurstKind::Answer).empty());
    EXPECT_EQ(unit.acceptedBlocks(), (std::vector<std::uint32_t>{0xA0, 0xA1}));
    EXPECT_EQ(unit.memory()[0xA1 * 128], 0x42);
}

TEST(CommonFaults, NoReadyByteWhenSilentFromTheFirst) {
    MasterFaults faults;
    faults.silentFrom = AnswerSelector{Step::Ready, 0};
    MasterCpuModel unit({}, faults);
    unit.powerOn(Micros{0});
    EXPECT_TRUE(unit.takeDue(Micros{10'000'000}).empty());
    EXPECT_FALSE(unit.nextDue().has_value());
}

TEST(CommonFaults, GarbageAheadOfTheReadyByte) {
    MasterFaults faults;
    faults.garbageBefore = AnswerSelector{Step::Ready, 0};
    MasterCpuModel unit({}, faults);
    unit.powerOn(Micros{0});
    const auto out = unit.takeDue(Micros{600'000});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].bytes, (Bytes{0x7E, 0x50}));
    EXPECT_EQ(out[1].bytes, Bytes{0x50});
}

TEST(CommonFaults, PortVanishesAfterTheAnswerToFrameK) {
    MasterFaults faults;
    faults.vanishAfterFrame = 1;
    MasterCpuModel unit({}, faults);
    UnitBench bench(unit);
    Bytes frame{0xE0, 0x83, 0x00, 0xA0};
    frame.resize(132, 0x00);
    frame.push_back(static_cast<std::uint8_t>(byteSum(frame)));
    bench.ask(frame);
    EXPECT_FALSE(unit.vanishAt().has_value());
    const Micros sentAt = bench.now();
    const auto bursts = bench.send(frame);
    ASSERT_TRUE(unit.vanishAt().has_value());
    EXPECT_EQ(*unit.vanishAt(), bursts.back().due);
    EXPECT_EQ(*unit.vanishAt(), sentAt + unit.config().answerDelay);
}

}  // namespace
}  // namespace qrb::sim::test
