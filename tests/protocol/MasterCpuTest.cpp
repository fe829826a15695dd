// The Master CPU transfer against the radio model in virtual time: the image
// in the radio's memory, the block order, the bars, the checksum text, and
// every way a frame can be answered (or not).
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <limits>

#include "MasterCpuFiles.h"
#include "WriteRunBench.h"
#include "writing/ForwardingLine.h"
#include "writing/TargetProcedures.h"

namespace qrb {
namespace {

using sim::AnswerSelector;
using sim::Micros;
using sim::Step;
using test::BlockStep;
using test::DataRun;
using test::MasterBench;
using test::Ms;
using test::PatternRun;

constexpr int kFrames = 1953;
constexpr int kHandshakeBytes = 1 + 4 + 3;  // A0, identification, version command
constexpr int kFrameBytes = 133;

std::string ExpectedChecksumText(std::uint32_t sum) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", sum);
    return std::string("CHECKSUM\r\n        ") + digits + " (PC)";
}

// Data everywhere, also in the blocks that are never sent.
std::vector<DataRun> WholeImage() {
    return {PatternRun(0, test::kTestImageSize, 0x5A)};
}

bool BlockWasSent(int block) {
    return block <= 3 || (block >= 35 && block <= 95) || block >= 160;
}

// The radio holds the image in every sent block and nothing in the others.
void ExpectRadioMemoryMatches(const sim::MasterCpuModel& radio,
                              const std::vector<std::uint8_t>& image, const char* what) {
    const std::vector<std::uint8_t>& memory = radio.memory();
    ASSERT_EQ(memory.size(), image.size());
    for (int block = 0; block < 2048; ++block) {
        const auto first = static_cast<std::size_t>(block) * 128;
        for (std::size_t k = first; k < first + 128; ++k) {
            const std::uint8_t expected = BlockWasSent(block) ? image[k] : 0xFF;
            if (memory[k] != expected) {
                ADD_FAILURE() << what << ": block " << block << " differs at offset " << k;
                return;
            }
        }
    }
}

std::vector<test::RecordingHost::BarMove> ExpectedBarMoves() {
    using Move = test::RecordingHost::BarMove;
    std::vector<Move> moves = {{ProgressBarId::Bar1, 0}, {ProgressBarId::Bar2, 0}};
    for (const BlockStep& step : test::ExpectedBlockSteps()) {
        if (step.bar1 >= 0)
            moves.push_back({ProgressBarId::Bar1, step.bar1});
        moves.push_back({ProgressBarId::Bar2, step.bar2});
    }
    return moves;
}

int Bar2Count(const test::RecordingHost& host, int position) {
    int n = 0;
    for (const auto& move : host.barMoves) {
        n += move.bar == ProgressBarId::Bar2 && move.position == position;
    }
    return n;
}

int FramesOfBlock(const sim::MasterCpuModel& radio, std::uint32_t block) {
    int n = 0;
    for (const auto& frame : radio.frames())
        n += frame.number == block;
    return n;
}

TEST(MasterCpuTransfer, RadioMemoryHoldsTheImageWhateverTheReceiveGrouping) {
    const sim::Grouping groupings[] = {sim::Grouping::PerBurst, sim::Grouping::PerByte,
                                       sim::Grouping::EchoWithAnswer, sim::Grouping::AllDue};
    for (sim::Grouping grouping : groupings) {
        sim::VirtualLineOptions options;
        options.grouping = grouping;
        options.traceEnabled = false;
        MasterBench bench(options);
        const auto image = bench.selectFile(WholeImage());
        const auto what = "grouping " + std::to_string(static_cast<int>(grouping));
        ASSERT_EQ(bench.run.Handshake(), StepResult::Ok) << what;

        EXPECT_EQ(TransferMasterImage(bench.run.framework()), StepResult::Ok) << what;

        EXPECT_EQ(test::BlocksOf(bench.radio.frames()), test::ExpectedBlockOrder()) << what;
        ExpectRadioMemoryMatches(bench.radio, image, what.c_str());
        EXPECT_TRUE(bench.radio.violationTexts().empty()) << what;
    }
}

TEST(MasterCpuTransfer, BarsMoveAsTabledAndTheChecksumCoversTheWholeImage) {
    MasterBench bench;
    // Data in blocks that are never sent still counts in the checksum.
    const auto image = bench.selectFile({PatternRun(0x0000, 0x300), PatternRun(0x0200, 0x40, 1),
                                         PatternRun(0x3000, 0x2000, 2), PatternRun(0x5000, 0x900),
                                         PatternRun(0x3FFF0, 0x10, 3)});
    ASSERT_EQ(bench.run.Handshake(), StepResult::Ok);

    ASSERT_EQ(TransferMasterImage(bench.run.framework()), StepResult::Ok);

    EXPECT_EQ(bench.run.framework().ChecksumText, ExpectedChecksumText(test::SumOf(image)));
    EXPECT_EQ(bench.host.barMoves, ExpectedBarMoves());
    EXPECT_EQ(bench.host.bar1.maximum, 49);
    EXPECT_EQ(bench.host.bar2.maximum, 2048);
    EXPECT_TRUE(bench.host.bar1.visible && bench.host.bar2.visible);
    test::ExpectWorkCountsUpTo(bench.host.work, WorkPhase::MasterBlocks, 1953);
    ExpectRadioMemoryMatches(bench.radio, image, "small file");
}

TEST(MasterCpuTransfer, FileWithoutDataRecordsSendsAnErasedImage) {
    MasterBench bench;
    bench.selectFile({});
    ASSERT_EQ(bench.run.Handshake(), StepResult::Ok);

    EXPECT_EQ(TransferMasterImage(bench.run.framework()), StepResult::Ok);

    EXPECT_EQ(bench.run.framework().ChecksumText, "CHECKSUM\r\n        03FC0000 (PC)");
    EXPECT_EQ(bench.radio.frames().size(), static_cast<std::size_t>(kFrames));
    EXPECT_EQ(bench.radio.memorySum(), 0x03FC0000u);
}

TEST(MasterCpuTransfer, EncodedFileReachesTheRadioDecoded) {
    MasterBench bench;
    // Find a data salt whose encoding holds no byte that would split a line.
    std::vector<std::string> lines;
    std::vector<DataRun> runs;
    for (int salt = 0; salt < 256; ++salt) {
        runs = {PatternRun(0x5000, 96, static_cast<std::uint8_t>(salt)),
                PatternRun(0x0080, 40, static_cast<std::uint8_t>(salt))};
        lines = test::EncodeLines(test::SRecordLines(runs));
        if (test::IsReadableAsLines(lines))
            break;
    }
    ASSERT_TRUE(test::IsReadableAsLines(lines)) << "no encodable test data for this key";
    bench.state.SelectedFileName = test::WriteLines(bench.folder.file("enc.SFL"), lines);
    bench.state.KeyIndex = 17;  // left over from an earlier read
    ASSERT_EQ(bench.run.Handshake(), StepResult::Ok);

    EXPECT_EQ(TransferMasterImage(bench.run.framework()), StepResult::Ok);
    ExpectRadioMemoryMatches(bench.radio, test::ImageOf(runs), "encoded file");
}

TEST(MasterCpuTransfer, RefusedFrames) {
    struct Case {
        const char* what;
        std::uint8_t code;
        int times;
        StepResult expected;
        int sendsOfBlock;
        std::size_t framesInAll;
    };
    constexpr int kOrdinal = 5;  // block 165
    const Case cases[] = {
        {"code 9 once, then accepted", 9, 1, StepResult::Ok, 2, kFrames + 1},
        {"code 8 twice, accepted on the third send", 8, 2, StepResult::Ok, 3, kFrames + 2},
        {"code 9 three times", 9, 3, StepResult::Failed, 3, kOrdinal + 3},
        {"code 3", 3, 1, StepResult::Failed, 1, kOrdinal + 1},
        {"code 7", 7, 1, StepResult::Failed, 1, kOrdinal + 1},
    };
    for (const Case& c : cases) {
        sim::MasterFaults faults;
        faults.refusals = {{kOrdinal, c.code, c.times}};
        MasterBench bench({}, {}, faults);
        bench.selectFile({PatternRun(0x5000, 0x1000)});
        ASSERT_EQ(bench.run.Handshake(), StepResult::Ok) << c.what;

        EXPECT_EQ(TransferMasterImage(bench.run.framework()), c.expected) << c.what;
        EXPECT_EQ(FramesOfBlock(bench.radio, 165), c.sendsOfBlock) << c.what;
        EXPECT_EQ(bench.radio.frames().size(), c.framesInAll) << c.what;
        // The bars move for a block only once it is accepted.
        EXPECT_EQ(Bar2Count(bench.host, 165 - 159), IsOk(c.expected) ? 1 : 0) << c.what;
    }
}

TEST(MasterCpuTransfer, MissingTrailerFailsOnlyAfterEveryFrameWasSent) {
    sim::MasterFaults faults;
    faults.truncate = AnswerSelector{Step::Frame, 100, 1};  // block 260: ACK alone
    faults.truncateTo = 1;
    MasterBench bench({}, {}, faults);
    bench.selectFile({PatternRun(0x5000, 0x1000)});
    ASSERT_EQ(bench.run.Handshake(), StepResult::Ok);

    EXPECT_EQ(WriteMasterCpu(bench.run.framework()), StepResult::Failed);

    EXPECT_EQ(test::BlocksOf(bench.radio.frames()), test::ExpectedBlockOrder());
    EXPECT_EQ(Bar2Count(bench.host, 260 - 159), 0);
    EXPECT_EQ(Bar2Count(bench.host, 2048), 1);
    EXPECT_FALSE(bench.radio.endCommandReceived());
    EXPECT_EQ(bench.host.okBoxes, 0);
}

TEST(MasterCpuTransfer, UnexpectedAnswersStopAtOnce) {
    struct Case {
        const char* what;
        std::function<void(sim::MasterFaults&)> fault;
        int sendsOfBlock;
    };
    const Case cases[] = {
        {"a byte that is neither ACK nor NAK",
         [](sim::MasterFaults& f) {
             f.garbageInstead = AnswerSelector{Step::Frame, 7, 1};
         },
         1},
        {"NAK without its four bytes",
         [](sim::MasterFaults& f) {
             // The first refusal comes whole with code 9; the resend's refusal
             // is cut after the NAK: the code would be the stale 9.
             f.refusals = {{7, 9, 2}};
             f.truncate = AnswerSelector{Step::Frame, 8, 1};
             f.truncateTo = 1;
         },
         2},
    };
    for (const Case& c : cases) {
        sim::MasterFaults faults;
        c.fault(faults);
        MasterBench bench({}, {}, faults);
        bench.selectFile({PatternRun(0x5000, 0x1000)});
        ASSERT_EQ(bench.run.Handshake(), StepResult::Ok) << c.what;

        EXPECT_EQ(TransferMasterImage(bench.run.framework()), StepResult::Failed) << c.what;
        EXPECT_EQ(FramesOfBlock(bench.radio, 167), c.sendsOfBlock) << c.what;
        EXPECT_EQ(bench.radio.frames().back().number, 167u) << c.what << ": nothing after it";
    }
}

// Hands every call to the virtual line, and runs a hook while a chosen byte
// is being queued, as a full transmit queue lets events through. From
// dropFromByte on, bytes go nowhere, as on a pulled cable.
class QueueingLine : public ForwardingLine {
  public:
    QueueingLine(Line& inner, int hookAtByte, std::function<void()> hook)
        : ForwardingLine(inner), hookAtByte_(hookAtByte), hook_(std::move(hook)) {}

    bool sendByte(std::uint8_t value) override {
        if (++sent_ == hookAtByte_)
            hook_();
        return sent_ >= dropFromByte ? true : inner_.sendByte(value);
    }

  private:
    int hookAtByte_;
    std::function<void()> hook_;
    int sent_ = 0;

  public:
    int dropFromByte = std::numeric_limits<int>::max();
};

// The frame's first answer byte may take 10 s; after any arrival (the echo)
// the radio has 5 s for each further byte.
TEST(MasterCpuTransfer, NothingComesBackGives2TenSecondsAfterTheFrame) {
    sim::MasterCpuModel radio;
    sim::VirtualLine virtualLine(radio);
    Micros frameSent{-1};
    const int firstByteOfFrame10 = kHandshakeBytes + kFrameBytes * 10 + 1;
    QueueingLine line(virtualLine, firstByteOfFrame10, [&] { frameSent = virtualLine.now(); });
    line.dropFromByte = firstByteOfFrame10;
    test::RecordingHost host;
    SharedState state;
    WriteRun run(line, host, state);
    test::ScratchFolder folder;
    state.SelectedFileName = test::WriteLines(folder.file("dead.SFL"), test::SRecordLines({}));
    ASSERT_EQ(run.Handshake(), StepResult::Ok);

    EXPECT_EQ(TransferMasterImage(run.framework()), StepResult::NoReply);
    EXPECT_EQ(virtualLine.now() - frameSent, Ms(2 + 10000));
    EXPECT_EQ(radio.frames().size(), 10u);
}

TEST(MasterCpuTransfer, EchoWithoutAnswerGives2FiveSecondsAfterTheEcho) {
    sim::MasterFaults faults;
    faults.silentFrom = AnswerSelector{Step::Frame, 10, 1};
    MasterBench bench({}, {}, faults);
    const std::vector<DataRun> runs = {PatternRun(0x5000, 0x1000)};
    bench.selectFile(runs);
    ASSERT_EQ(bench.run.Handshake(), StepResult::Ok);

    EXPECT_EQ(TransferMasterImage(bench.run.framework()), StepResult::NoReply);

    const Micros lastArrival = bench.line.trace().back().at;
    EXPECT_EQ(bench.line.trace().back().direction, sim::TraceEntry::Direction::FromRadio);
    EXPECT_EQ(bench.line.now() - lastArrival, Ms(5000));
    EXPECT_EQ(bench.radio.frames().size(), 11u);
    // The checksum text is set before the first frame and kept after a failure.
    EXPECT_EQ(bench.run.framework().ChecksumText,
              ExpectedChecksumText(test::SumOf(test::ImageOf(runs))));
}

TEST(MasterCpuTransfer, CancelDuringAnAnswerIsSeenAfterThatBlock) {
    MasterBench bench;
    bench.selectFile({});
    ASSERT_EQ(bench.run.Handshake(), StepResult::Ok);
    bench.pressCancelAt(bench.line.now() + Ms(300));

    EXPECT_EQ(TransferMasterImage(bench.run.framework()), StepResult::Failed);

    const auto& frames = bench.radio.frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_LT(frames.size(), static_cast<std::size_t>(kFrames));
    EXPECT_TRUE(frames.back().accepted);
    EXPECT_EQ(bench.host.bar2.position, static_cast<int>(frames.size()))
        << "the block in flight when Cancel came was finished";
}

TEST(MasterCpuTransfer, CancelBeforeTheTransferIsForgotten) {
    MasterBench bench;
    bench.selectFile({});
    ASSERT_EQ(bench.run.Handshake(), StepResult::Ok);
    bench.state.StopRequested = true;
    EXPECT_EQ(TransferMasterImage(bench.run.framework()), StepResult::Ok);
}

TEST(MasterCpuTransfer, CancelWhileAFrameIsQueued) {
    struct Case {
        const char* what;
        int ordinal;  // frame in whose queueing Cancel is pressed
        std::size_t framesInAll;
        int lastBar2;
        int framesAnswered;
    };
    const Case cases[] = {
        {"block 170: stops before waiting for the answer", 10, 11, 10, 10},
        {"block 0: seen only after its answer", kFrames - 1, kFrames, 2048, kFrames},
    };
    for (const Case& c : cases) {
        sim::MasterCpuModel radio;
        sim::VirtualLine virtualLine(radio);
        test::RecordingHost host;
        SharedState state;
        std::function<void()> cancel;
        QueueingLine line(virtualLine, kHandshakeBytes + kFrameBytes * c.ordinal + 60,
                          [&] { cancel(); });
        WriteRun run(line, host, state);
        cancel = [&] { run.btnWCancelClick(); };
        test::ScratchFolder folder;
        state.SelectedFileName =
            test::WriteLines(folder.file("cancel.SFL"), test::SRecordLines({}));
        ASSERT_EQ(run.Handshake(), StepResult::Ok) << c.what;
        const std::uint64_t deliveredBefore = virtualLine.counters().bytesDelivered;

        EXPECT_EQ(TransferMasterImage(run.framework()), StepResult::Failed) << c.what;
        EXPECT_EQ(radio.frames().size(), c.framesInAll) << c.what;
        EXPECT_EQ(host.bar2.position, c.lastBar2) << c.what;
        // Echo and ACK with its five bytes for every frame whose answer was read.
        EXPECT_EQ(virtualLine.counters().bytesDelivered - deliveredBefore,
                  static_cast<std::uint64_t>((kFrameBytes + 6) * c.framesAnswered))
            << c.what;
    }
}

}  // namespace
}  // namespace qrb
