// The Slave CPU write: the erase selection, then the firmware file's lines
// with a colon (its Intel HEX records, decoded where the file is encoded),
// one acknowledged frame each, and the end frame.
#include <chrono>
#include <string>
#include <vector>

#include "firmware/SlaveLineSource.h"
#include "writing/OptionUnit.h"
#include "writing/SlaveCpu.h"
#include "writing/TargetProcedures.h"

namespace qrb {

namespace {

constexpr std::uint8_t kLineFrameStart = 0x50;
constexpr std::chrono::milliseconds kLineAnswerTimeout{10000};
constexpr std::chrono::milliseconds kEndFrameAnswerTimeout{500};

// 50 00 L, the line's characters, check byte; all bytes sum to 0.
void BuildLineFrame(std::vector<std::uint8_t>& frame, const std::string& line) {
    frame.clear();
    frame.push_back(kLineFrameStart);
    frame.push_back(0x00);
    frame.push_back(static_cast<std::uint8_t>(line.size() % 256));
    frame.insert(frame.end(), line.begin(), line.end());
    const std::uint8_t sum = WriteFramework::ByteSum(frame.data(), static_cast<int>(frame.size()));
    frame.push_back(static_cast<std::uint8_t>(0x100 - sum));
}

}  // namespace

StepResult SelectErase(WriteFramework& fw) {
    return RunAckCommand(fw, kSelectErase);
}

StepResult TransferSlaveLines(WriteFramework& fw) {
    SharedState& state = fw.state();
    return TransferSlaveLines(fw, ReadSlaveLines(state.SelectedFileName, state.KeyIndex));
}

StepResult TransferSlaveLines(WriteFramework& fw, const std::vector<std::string>& lines) {
    WriteHost& host = fw.host();
    SharedState& state = fw.state();
    const int total = static_cast<int>(lines.size());
    host.workStarted(WorkPhase::SlaveLines, total);

    std::vector<std::uint8_t> frame;
    int count = 0;
    for (const std::string& line : lines) {
        BuildLineFrame(frame, line);
        const int frameSize = static_cast<int>(frame.size());
        fw.ReceivedCount = 0;
        fw.SendBytes(frame.data(), frameSize);
        // A Cancel seen during the previous line's wait ends the transfer
        // here, with this frame sent but its reply not awaited.
        if (state.StopRequested)
            break;
        if (!fw.WaitForReply(frameSize + 1, kLineAnswerTimeout))
            return StepResult::NoReply;
        if (fw.ReceiveBuffer[frameSize] != ACK)
            return StepResult::Failed;
        host.workProgressed({WorkPhase::SlaveLines, count + 1, total, count});
        ++count;
    }

    fw.ProcessMessages();
    if (state.StopRequested)
        return StepResult::Failed;

    fw.ReceivedCount = 0;
    fw.SendBytes(EndFrame.data(), static_cast<int>(EndFrame.size()));
    const int endReply = static_cast<int>(EndFrame.size());
    if (fw.WaitForReply(endReply + 1, kEndFrameAnswerTimeout) && fw.ReceiveBuffer[endReply] == ACK)
        return StepResult::Ok;
    return StepResult::EndNotAcknowledged;
}

StepResult WriteSlaveCpu(WriteFramework& fw) {
    // The whole file is read and checked before the erase selection: a
    // refused or unreadable file throws from here with nothing sent.
    SharedState& state = fw.state();
    const std::vector<std::string> lines = ReadSlaveLines(state.SelectedFileName, state.KeyIndex);
    if (const StepResult r = SelectErase(fw); !IsOk(r))
        return r;
    if (const StepResult r = TransferSlaveLines(fw, lines); !IsOk(r))
        return r;
    // No image checksum for this target: the completion text alone.
    fw.FinishSuccessfulWrite("");
    return StepResult::Ok;
}

}  // namespace qrb
