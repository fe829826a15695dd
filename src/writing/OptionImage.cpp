// The option unit's image transfer: the firmware file as a 128 KiB image,
// sent in 128-byte address frames whose check byte is held back until the
// unit has echoed the rest, then the end frame.
#include <algorithm>
#include <array>
#include <chrono>

#include "firmware/SrecImage.h"
#include "writing/OptionUnit.h"
#include "writing/TargetProcedures.h"

namespace qrb {

namespace {

constexpr int kBlockSize = 128;
constexpr int kBlockCount = static_cast<int>(kOptionImageSize) / kBlockSize;  // 1024
constexpr int kFrameSize = 1 + 4 + kBlockSize + 1;                            // 134
constexpr int kFrameBodySize = kFrameSize - 1;  // sent before the check byte
constexpr std::uint8_t kFrameStart = 0x50;

using std::chrono::milliseconds;
constexpr milliseconds kByteGap{4};
constexpr milliseconds kBeforeEchoWait{2};
constexpr milliseconds kFrameEchoTimeout{10000};
constexpr milliseconds kBlockAnswerTimeout{500};
constexpr milliseconds kEndFrameAnswerTimeout{5000};

// Blocks 16..767 (addresses 800..17FFF) hold the unit's program; the rest
// only when the file's header asks for all areas.
constexpr int kFirstProgramBlock = 16;
constexpr int kLastProgramBlock = 767;
bool BlockIsSent(int block, bool allAreas) {
    return allAreas || (block >= kFirstProgramBlock && block <= kLastProgramBlock);
}
int BlocksSent(bool allAreas) {
    return allAreas ? kBlockCount : kLastProgramBlock - kFirstProgramBlock + 1;
}

void BuildBlockFrame(std::array<std::uint8_t, kFrameSize>& frame, const FirmwareImage& image,
                     int block) {
    const std::uint32_t address = static_cast<std::uint32_t>(block) * kBlockSize;
    frame[0] = kFrameStart;
    frame[1] = static_cast<std::uint8_t>(address >> 24);
    frame[2] = static_cast<std::uint8_t>(address >> 16);
    frame[3] = static_cast<std::uint8_t>(address >> 8);
    frame[4] = static_cast<std::uint8_t>(address);
    const std::uint8_t* data = image.bytes.data() + address;
    std::copy(data, data + kBlockSize, frame.begin() + 5);
    frame[kFrameSize - 1] =
        static_cast<std::uint8_t>(0x100 - WriteFramework::ByteSum(frame.data(), kFrameBodySize));
}

void SendPaced(WriteFramework& fw, const std::uint8_t* bytes, int count) {
    for (int i = 0; i < count; ++i) {
        fw.SendByte(bytes[i]);
        fw.Sleep(kByteGap);
    }
}

// One block: the frame without its check byte, the echo of those 133 bytes,
// then the check byte, its echo and the unit's ACK at index 134.
bool SendBlock(WriteFramework& fw, const std::array<std::uint8_t, kFrameSize>& frame) {
    fw.StartStep();
    fw.ReceivedCount = 0;
    SendPaced(fw, frame.data(), kFrameBodySize);
    fw.Sleep(kBeforeEchoWait);
    if (!fw.WaitForReply(kFrameBodySize, kFrameEchoTimeout))
        return false;
    fw.SendByte(frame[kFrameSize - 1]);
    return fw.WaitForReply(kFrameSize + 1, kBlockAnswerTimeout) &&
           fw.ReceiveBuffer[kFrameSize] == ACK;
}

}  // namespace

StepResult TransferOptionImage(WriteFramework& fw) {
    SharedState& state = fw.state();
    const FirmwareImage image =
        BuildSrecImage(state.SelectedFileName, kOptionImageSize, state.KeyIndex);
    return TransferOptionImage(fw, image);
}

StepResult TransferOptionImage(WriteFramework& fw, const FirmwareImage& image) {
    if (image.bytes.size() != kOptionImageSize)
        return StepResult::Failed;  // never read or send beyond the image
    WriteHost& host = fw.host();
    const bool allAreas = fw.state().WriteAllAreas;
    const int total = BlocksSent(allAreas);
    host.workStarted(WorkPhase::OptionBlocks, total);
    fw.ChecksumText = ChecksumText(image.checksum);

    // A Cancel pressed while the file was read is forgotten here.
    fw.state().StopRequested = false;
    std::array<std::uint8_t, kFrameSize> frame{};
    int sent = 0;
    for (int block = 0; block < kBlockCount; ++block) {
        if (!BlockIsSent(block, allAreas)) {
            host.workProgressed({WorkPhase::OptionBlocks, sent, total, block});
            continue;
        }
        BuildBlockFrame(frame, image, block);
        if (!SendBlock(fw, frame))
            return StepResult::Failed;
        host.workProgressed({WorkPhase::OptionBlocks, ++sent, total, block});
        fw.ProcessMessages();
        if (fw.state().StopRequested)
            return StepResult::Failed;
    }

    fw.ReceivedCount = 0;
    SendPaced(fw, EndFrame.data(), static_cast<int>(EndFrame.size()));
    const int endAnswer = static_cast<int>(EndFrame.size());
    const bool acknowledged = fw.WaitForReply(endAnswer + 1, kEndFrameAnswerTimeout) &&
                              fw.ReceiveBuffer[endAnswer] == ACK;
    return acknowledged ? StepResult::Ok : StepResult::Failed;
}

}  // namespace qrb
