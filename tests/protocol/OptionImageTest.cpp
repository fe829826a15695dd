// The option unit's image transfer against the radio model in virtual time:
// the frames and their pacing, the check byte held back until the echo, the
// blocks sent with and without WriteAllAreas, the bars, the checksum text,
// failures and Cancel.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OptionUnitBench.h"
#include "writing/OptionUnit.h"
#include "writing/TargetProcedures.h"

namespace qrb {
namespace {

using test::Bytes;
using test::Micros;
using test::OptionBench;

// A blank unit brought to the point where it takes block frames, with the
// firmware file chosen.
class OptionImage : public ::testing::Test {
  protected:
    test::TempFolder folder{"option-image"};
    std::unique_ptr<OptionBench> bench;
    test::OptionFile file;

    void Prepare(const std::vector<test::DataRun>& runs, bool allAreas,
                 sim::OptionUnitConfig config = test::BlankUnit()) {
        file = test::WriteOptionFile(folder, "TQX37_V0999.SFL", runs, allAreas, false);
        bench = std::make_unique<OptionBench>(kOptionUnit, sim::VirtualLineOptions{}, config);
        bench->state.SelectedFileName = file.path;
        bench->state.WriteAllAreas = allAreas;
        ASSERT_TRUE(bench->Handshake());
        WriteFramework& fw = bench->fw();
        for (auto step : {QueryProgrammingUnit, SelectDevice, SelectClockMode, SelectBitRate,
                          ConfirmBitRate, EnterProgrammingState})
            ASSERT_EQ(step(fw), StepResult::Ok);
        ASSERT_EQ(SendRoutine(fw, BaseRoutine()), StepResult::Ok);
        ASSERT_EQ(QueryBootStatus(fw), StepResult::Ok);
        ASSERT_EQ(CheckBlank(fw), StepResult::Ok);
        ASSERT_EQ(SelectProgramming(fw), StepResult::Ok);
        ASSERT_EQ(SendRoutine(fw, ProgramRoutine()), StepResult::Ok);
        bench->mark();
        bench->host.barMoves.clear();
    }
    Bytes ExpectedFrames(bool allAreas) const {
        Bytes bytes;
        for (std::uint32_t block = allAreas ? 0 : 16; block <= (allAreas ? 1023u : 767u); ++block)
            test::Append(bytes, test::BlockFrameOf(file.image, block * 128));
        test::Append(bytes, test::kOptionEndFrame);
        return bytes;
    }
};

TEST_F(OptionImage, SendsTheMiddleBlocksInOrderWithoutWriteAllAreas) {
    Prepare(test::OptionRuns(), false);
    ASSERT_EQ(TransferOptionImage(bench->fw()), StepResult::Ok);
    EXPECT_EQ(bench->sentSinceMark(), ExpectedFrames(false));
    const std::vector<std::uint32_t> addresses = bench->radio.acceptedAddresses();
    ASSERT_EQ(addresses.size(), 752u);
    EXPECT_EQ(addresses.front(), 0x800u);
    EXPECT_EQ(addresses.back(), 0x17F80u);
    EXPECT_TRUE(bench->radio.endFrameReceived());
    // The data below 800 and from 18000 on is in the checksum, not in the unit.
    std::uint32_t sum = 0;
    for (std::uint8_t byte : file.image)
        sum += byte;
    EXPECT_EQ(bench->fw().ChecksumText, "CHECKSUM\r\n        " + test::Hex8(sum) + " (PC)");
    EXPECT_EQ(bench->radio.memory()[0x000], 0xFF);
    EXPECT_EQ(bench->radio.memory()[0x18000], 0xFF);
    EXPECT_NE(file.image[0x000], 0xFF);
    EXPECT_TRUE(bench->radio.violations().empty()) << bench->radio.violationTexts().front();
}

// Without records the image is FF throughout: it is still sent, and its
// checksum is 01FE0000.
TEST_F(OptionImage, FileWithoutDataSendsAnImageOfFF) {
    Prepare({}, false);
    ASSERT_EQ(TransferOptionImage(bench->fw()), StepResult::Ok);
    EXPECT_EQ(bench->fw().ChecksumText, "CHECKSUM\r\n        01FE0000 (PC)");
    EXPECT_EQ(bench->radio.acceptedAddresses().size(), 752u);
    EXPECT_EQ(bench->sentSinceMark(), ExpectedFrames(false));
}

struct PacingCase {
    const char* name;
    Micros echoDelay;
    Micros checkByteGap;  // from the 133rd byte to the check byte
};

class OptionImagePacing : public OptionImage, public ::testing::WithParamInterface<PacingCase> {};

// 4 ms after each of the first 133 bytes, 2 ms, then the check byte as soon
// as their echo is complete; a late echo holds the check byte back.
TEST_P(OptionImagePacing, HoldsTheCheckByteBackUntilTheEcho) {
    const PacingCase& c = GetParam();
    sim::OptionUnitConfig config = test::BlankUnit();
    config.echoDelay = c.echoDelay;
    // Answers stay behind their echo, so the handshake still sees them apart.
    config.answerDelay = c.echoDelay + Micros{5'000};
    Prepare(test::OptionRuns(), false, config);
    ASSERT_EQ(TransferOptionImage(bench->fw()), StepResult::Ok);

    const std::vector<Micros> times = bench->sendTimesSinceMark();
    ASSERT_EQ(times.size(), 752u * 134 + 6);
    for (std::size_t frame = 0; frame < 752; frame += 250) {
        const std::size_t base = frame * 134;
        for (std::size_t i = 1; i < 133; ++i)
            ASSERT_EQ(times[base + i] - times[base + i - 1], Micros{4'000}) << frame << ":" << i;
        EXPECT_EQ(times[base + 133] - times[base + 132], c.checkByteGap) << "frame " << frame;
    }
    for (std::size_t i = times.size() - 5; i < times.size(); ++i)
        EXPECT_EQ(times[i] - times[i - 1], Micros{4'000});  // the end frame
}

INSTANTIATE_TEST_SUITE_P(Echo, OptionImagePacing,
                         ::testing::Values(PacingCase{"prompt_echo", Micros{300}, Micros{6'000}},
                                           PacingCase{"late_echo", Micros{20'000}, Micros{20'000}}),
                         test::CaseName());

// Bar 1 cycles 0..29 over the blocks sent, bar 2 follows the block index
// over all 1024 blocks, skipped ones included.
TEST_F(OptionImage, BarsFollowTheBlocks) {
    Prepare(test::OptionRuns(), false);
    ASSERT_EQ(TransferOptionImage(bench->fw()), StepResult::Ok);
    EXPECT_EQ(bench->host.bar1.maximum, 29);
    EXPECT_EQ(bench->host.bar2.minimum, 0);
    EXPECT_EQ(bench->host.bar2.maximum, 1023);
    EXPECT_TRUE(bench->host.bar2.visible);

    using Move = test::RecordingHost::BarMove;
    std::vector<Move> expected = {{ProgressBarId::Bar2, 0}};
    for (int i = 0; i < 1024; ++i) {
        if (i >= 16 && i <= 767)
            expected.push_back({ProgressBarId::Bar1, i % 30});
        expected.push_back({ProgressBarId::Bar2, i});
    }
    EXPECT_EQ(bench->host.barMoves, expected);
    test::ExpectWorkCountsUpTo(bench->host.work, WorkPhase::OptionBlocks, 752);
}

struct FailureCase {
    const char* name;
    std::function<void(sim::OptionUnitFaults&)> fault;
    std::size_t framesSent;
    bool endFrameSent;
};

class OptionImageFailures : public OptionImage,
                            public ::testing::WithParamInterface<FailureCase> {};

// A refused or unanswered block ends the transfer at once, without a resend
// and without the end frame; a refused end frame is a failure too.
TEST_P(OptionImageFailures, EndTheTransferWithOne) {
    const FailureCase& c = GetParam();
    Prepare(test::OptionRuns(), false);
    c.fault(bench->radio.faults());
    EXPECT_EQ(TransferOptionImage(bench->fw()), StepResult::Failed);
    Bytes expected;
    for (std::uint32_t block = 16; block < 16 + c.framesSent; ++block)
        test::Append(expected, test::BlockFrameOf(file.image, block * 128));
    if (c.endFrameSent)
        test::Append(expected, test::kOptionEndFrame);
    EXPECT_EQ(bench->sentSinceMark(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OptionImageFailures,
    ::testing::Values(FailureCase{"block_5_refused",
                                  [](auto& f) {
                                      f.refusals.push_back({5, 0x10, 1});
                                  },
                                  6, false},
                      FailureCase{"block_3_unanswered",
                                  [](auto& f) {
                                      f.silentFrom = sim::AnswerSelector{sim::Step::Frame, 3, 1};
                                  },
                                  4, false},
                      FailureCase{"end_frame_refused", [](auto& f) { f.refuseEndFrame = true; },
                                  752, true}),
    test::CaseName());

// The port gone after block 2: the next frame's echo never comes, its check
// byte is not sent, and its wait gives up 10 s after the 4 + 2 ms pauses.
TEST_F(OptionImage, MissingEchoEndsTheTransferAfterTenSeconds) {
    Prepare(test::OptionRuns(), false);
    bench->radio.faults().vanishAfterFrame = 2;
    EXPECT_EQ(TransferOptionImage(bench->fw()), StepResult::Failed);
    EXPECT_EQ(bench->radio.acceptedAddresses().size(), 3u);
    EXPECT_EQ(bench->sentSinceMark().size(), 3u * 134 + 133);
    EXPECT_EQ(bench->line.now() - bench->sendTimesSinceMark().back(), Micros{10'006'000});
}

// A Cancel during a block's waits ends the transfer after that block's
// answer; one pressed before the transfer is forgotten.
TEST_F(OptionImage, CancelEndsAfterTheCurrentBlock) {
    Prepare(test::OptionRuns(), false);
    bench->cancelWhen(bench->sentAtLeast(10 * 134 + 60));  // inside block 26
    EXPECT_EQ(TransferOptionImage(bench->fw()), StepResult::Failed);
    EXPECT_EQ(bench->radio.acceptedAddresses().size(), 11u);
    EXPECT_EQ(bench->sentSinceMark().size(), 11u * 134);
    EXPECT_FALSE(bench->radio.endFrameReceived());
}

TEST_F(OptionImage, CancelBeforeTheTransferIsForgotten) {
    Prepare(test::OptionRuns(), false);
    bench->state.StopRequested = true;
    EXPECT_EQ(TransferOptionImage(bench->fw()), StepResult::Ok);
    EXPECT_EQ(bench->radio.acceptedAddresses().size(), 752u);
}

}  // namespace
}  // namespace qrb
