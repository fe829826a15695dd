// The Master CPU write: the firmware file as a 256 KiB image, sent as
// numbered 128-byte frames in a fixed block order, each acknowledged by the
// radio (or refused and sent again), then the closing sequence.
#include <algorithm>
#include <array>
#include <cstdint>
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

constexpr int kArmBeforeFrameMs = 5000;
constexpr int kPauseAfterFrameMs = 2;
constexpr int kFirstAnswerTimeoutMs = 10000;
constexpr int kTrailerTimeoutMs = 500;

constexpr int kBar1Maximum = 49;  // Bar1 cycles through 0..49
constexpr int kBar2Maximum = 2048;

// The block order on the line. Bar2 shows block + bar2Offset after the block;
// Bar1 the same modulo 50, except for block 0, which leaves it where it is.
// Blocks 4..34 and 96..159 are never sent.
struct Phase {
    int firstBlock;
    int lastBlock;
    int bar2Offset;
    bool movesBar1;
};
constexpr std::array<Phase, 4> kPhases = {{
    {160, 2047, -159, true},
    {35, 95, 1918, true},
    {1, 3, 2044, true},
    {0, 0, 2048, false},
}};

constexpr int kResultOk = 0;
constexpr int kResultFailed = 1;
constexpr int kResultNoAnswer = 2;

void BuildFrame(Frame& frame, const FirmwareImage& image, int block) {
    frame[0] = 0xE0;
    frame[1] = 0x83;
    frame[2] = static_cast<std::uint8_t>(block / 256);
    frame[3] = static_cast<std::uint8_t>(block % 256);
    const std::uint8_t* source = image.bytes.data() + static_cast<std::size_t>(block) * kBlockSize;
    std::copy(source, source + kBlockSize, frame.begin() + kFrameHeaderSize);
    frame[kFrameSize - 1] = WriteFramework::ByteSum(frame.data(), kFrameSize - 1);
}

void PrepareBar(WriteHost& host, ProgressBarId bar, int maximum) {
    host.setProgressRange(bar, 0, maximum);
    host.setProgressPosition(bar, 0);
    host.setProgressVisible(bar, true);
}

// Outcome of one block: sent and acknowledged, acknowledged without its
// trailer (the transfer goes on but has failed), or the transfer must stop.
enum class BlockOutcome { Accepted, TrailerMissing, Stop };

struct BlockResult {
    BlockOutcome outcome;
    int stopResult;  // the transfer's result when outcome is Stop
};

// Sends one frame until it is accepted, refused for good, or the radio stays
// silent; a refusal with a code of 8 or more allows up to three sends.
BlockResult SendBlock(WriteFramework& fw, const Frame& frame, int block) {
    SharedState& state = fw.state();
    fw.ReplyTimedOut = false;
    fw.ArmReceiveTimer(kArmBeforeFrameMs);
    for (int sends = 1;; ++sends) {
        fw.ReceivedCount = 0;
        fw.SendBytes(frame.data(), kFrameSize);
        // Cancel may have been pressed while a full transmit queue let events
        // through. Block 0, the last frame, is always seen through to its answer.
        if (block != 0 && state.StopRequested)
            return {BlockOutcome::Stop, kResultFailed};

        fw.Sleep(kPauseAfterFrameMs);
        if (!fw.WaitForReply(kAnswerPosition + 1, kFirstAnswerTimeoutMs)) {
            return {BlockOutcome::Stop, kResultNoAnswer};
        }
        const std::uint8_t answer = fw.ReceiveBuffer[kAnswerPosition];
        if (answer == ACK) {
            const bool trailer = fw.WaitForReply(kAckReplyCount, kTrailerTimeoutMs);
            return {trailer ? BlockOutcome::Accepted : BlockOutcome::TrailerMissing, kResultOk};
        }
        if (answer != NAK)
            return {BlockOutcome::Stop, kResultFailed};

        // Without its four bytes the refusal has no code; the byte at the
        // code's place would be left from an earlier reply.
        if (!fw.WaitForReply(kNakReplyCount, kTrailerTimeoutMs)) {
            return {BlockOutcome::Stop, kResultFailed};
        }
        const std::uint8_t code = fw.ReceiveBuffer[kNakCodePosition];
        if (code < kFirstRetryableCode || sends >= kMaxFrameSends) {
            return {BlockOutcome::Stop, kResultFailed};
        }
        fw.ReplyTimedOut = false;
    }
}

}  // namespace

int TransferMasterImage(WriteFramework& fw) {
    SharedState& state = fw.state();
    WriteHost& host = fw.host();

    const FirmwareImage image =
        BuildSrecImage(state.SelectedFileName, kMasterImageSize, state.KeyIndex);
    if (image.bytes.size() != kMasterImageSize) {
        throw std::logic_error("Master CPU image of the wrong size");
    }
    PrepareBar(host, ProgressBarId::Bar1, kBar1Maximum);
    PrepareBar(host, ProgressBarId::Bar2, kBar2Maximum);
    fw.ChecksumText = ChecksumText(image.checksum);

    int result = kResultOk;
    state.StopRequested = false;  // a Cancel before the first frame is forgotten
    Frame frame{};
    for (const Phase& phase : kPhases) {
        for (int block = phase.firstBlock; block <= phase.lastBlock; ++block) {
            BuildFrame(frame, image, block);
            const BlockResult sent = SendBlock(fw, frame, block);
            if (sent.outcome == BlockOutcome::Stop)
                return sent.stopResult;
            if (sent.outcome == BlockOutcome::Accepted) {
                const int position = block + phase.bar2Offset;
                if (phase.movesBar1) {
                    host.setProgressPosition(ProgressBarId::Bar1, position % (kBar1Maximum + 1));
                }
                host.setProgressPosition(ProgressBarId::Bar2, position);
            } else {
                result = kResultFailed;  // the remaining blocks are still sent
            }
            fw.ProcessMessages();
            if (state.StopRequested)
                return kResultFailed;
        }
    }
    return result;
}

int WriteMasterCpu(WriteFramework& fw) {
    const int result = TransferMasterImage(fw);
    if (result == kResultOk) {
        fw.FinishSuccessfulWrite(fw.ChecksumText);
    }
    return result;
}

}  // namespace qrb
