// The Master CPU write: the firmware file as a 256 KiB image, sent as
// numbered 128-byte frames in a fixed block order, each acknowledged by the
// radio (or refused and sent again), then the closing sequence.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <numeric>
#include <stdexcept>

#include "firmware/SrecImage.h"
#include "writing/TargetProcedures.h"

namespace qrb {

namespace {

constexpr int kBlockSize = 128;

// E0 83, block number high and low, 128 image bytes, trailing-sum check byte.
constexpr int kFrameHeaderSize = 4;
constexpr int kFrameSize = kFrameHeaderSize + kBlockSize + 1;  // 133
using Frame = std::array<std::uint8_t, kFrameSize>;

// Reply positions after the echoed frame: ACK + 5 bytes, or NAK + 4 bytes
// with the refusal code in the third of them.
constexpr int kAnswerPosition = kFrameSize;            // 133
constexpr int kAckReplyCount = kAnswerPosition + 6;    // 139
constexpr int kNakReplyCount = kAnswerPosition + 5;    // 138
constexpr int kNakCodePosition = kAnswerPosition + 3;  // 136
// Codes below this end the transfer; the others allow another send.
constexpr std::uint8_t kFirstRetryableCode = 8;
constexpr int kMaxFrameSends = 3;

using std::chrono::milliseconds;
constexpr milliseconds kPauseAfterFrame{2};
constexpr milliseconds kFirstAnswerTimeout{10000};
constexpr milliseconds kTrailerTimeout{500};

// The block order on the line. After a block, the image blocks passed are
// block + passedOffset: the blocks a phase leaves out (4..34 and 96..159,
// never sent) count as passed once the next phase begins, so block 0, sent
// last, leaves all 2048 passed.
struct Phase {
    int firstBlock;
    int lastBlock;
    int passedOffset;
};
constexpr std::array<Phase, 4> kPhases = {{
    {160, 2047, -159},
    {35, 95, 1918},
    {1, 3, 2044},
    {0, 0, 2048},
}};

constexpr int kFramesSent = std::accumulate(
    kPhases.begin(), kPhases.end(), 0,
    [](int sum, const Phase& phase) { return sum + phase.lastBlock - phase.firstBlock + 1; });
static_assert(kFramesSent == 1953);

void BuildFrame(Frame& frame, const FirmwareImage& image, int block) {
    frame[0] = 0xE0;
    frame[1] = 0x83;
    frame[2] = static_cast<std::uint8_t>(block / 256);
    frame[3] = static_cast<std::uint8_t>(block % 256);
    const std::uint8_t* source = image.bytes.data() + static_cast<std::size_t>(block) * kBlockSize;
    std::copy(source, source + kBlockSize, frame.begin() + kFrameHeaderSize);
    frame[kFrameSize - 1] = WriteFramework::ByteSum(frame.data(), kFrameSize - 1);
}

// Outcome of one block: sent and acknowledged, acknowledged without its
// trailer (the transfer goes on but has failed), or the transfer must stop.
enum class BlockOutcome { Accepted, TrailerMissing, Stop };

struct BlockResult {
    BlockOutcome outcome;
    StepResult stopResult;  // the transfer's result when outcome is Stop
};

// Sends one frame until it is accepted, refused for good, or the radio stays
// silent; a refusal with a code of 8 or more allows up to three sends.
BlockResult SendBlock(WriteFramework& fw, const Frame& frame, int block) {
    SharedState& state = fw.state();
    fw.StartStep();
    for (int sends = 1;; ++sends) {
        fw.ReceivedCount = 0;
        fw.SendBytes(frame.data(), kFrameSize);
        // Cancel may have been pressed while a full transmit queue let events
        // through. Block 0, the last frame, is always seen through to its answer.
        if (block != 0 && state.StopRequested)
            return {BlockOutcome::Stop, StepResult::Failed};

        fw.Sleep(kPauseAfterFrame);
        if (!fw.WaitForReply(kAnswerPosition + 1, kFirstAnswerTimeout)) {
            return {BlockOutcome::Stop, StepResult::NoReply};
        }
        const std::uint8_t answer = fw.ReceiveBuffer[kAnswerPosition];
        if (answer == ACK) {
            const bool trailer = fw.WaitForReply(kAckReplyCount, kTrailerTimeout);
            return {trailer ? BlockOutcome::Accepted : BlockOutcome::TrailerMissing,
                    StepResult::Ok};
        }
        if (answer != NAK)
            return {BlockOutcome::Stop, StepResult::Failed};

        // Without its four bytes the refusal has no code; the byte at the
        // code's place would be left from an earlier reply.
        if (!fw.WaitForReply(kNakReplyCount, kTrailerTimeout)) {
            return {BlockOutcome::Stop, StepResult::Failed};
        }
        const std::uint8_t code = fw.ReceiveBuffer[kNakCodePosition];
        if (code < kFirstRetryableCode || sends >= kMaxFrameSends) {
            return {BlockOutcome::Stop, StepResult::Failed};
        }
        fw.ReplyTimedOut = false;
    }
}

}  // namespace

StepResult TransferMasterImage(WriteFramework& fw) {
    SharedState& state = fw.state();
    WriteHost& host = fw.host();

    const FirmwareImage image =
        BuildSrecImage(state.SelectedFileName, kMasterImageSize, state.KeyIndex);
    if (image.bytes.size() != kMasterImageSize) {
        throw std::logic_error("Master CPU image of the wrong size");
    }
    host.workStarted(WorkPhase::MasterBlocks, kFramesSent);
    fw.ChecksumText = ChecksumText(image.checksum);

    StepResult result = StepResult::Ok;
    state.StopRequested = false;  // a Cancel before the first frame is forgotten
    Frame frame{};
    int framesDone = 0;
    for (const Phase& phase : kPhases) {
        for (int block = phase.firstBlock; block <= phase.lastBlock; ++block) {
            BuildFrame(frame, image, block);
            const BlockResult sent = SendBlock(fw, frame, block);
            if (sent.outcome == BlockOutcome::Stop)
                return sent.stopResult;
            ++framesDone;
            if (sent.outcome == BlockOutcome::Accepted) {
                host.workProgressed(
                    {WorkPhase::MasterBlocks, framesDone, kFramesSent, block + phase.passedOffset});
            } else {
                result = StepResult::Failed;  // the remaining blocks are still sent
            }
            fw.ProcessMessages();
            if (state.StopRequested)
                return StepResult::Failed;
        }
    }
    return result;
}

StepResult WriteMasterCpu(WriteFramework& fw) {
    const StepResult result = TransferMasterImage(fw);
    if (IsOk(result)) {
        fw.FinishSuccessfulWrite(fw.ChecksumText);
    }
    return result;
}

}  // namespace qrb
