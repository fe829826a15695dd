// The Slave CPU write: the erase selection, then the firmware file's lines
// with a colon (its Intel HEX records, decoded where the file is encoded),
// one acknowledged frame each, and the end frame.
#include <algorithm>
#include <string>
#include <vector>

#include "firmware/SlaveLineSource.h"
#include "writing/OptionUnit.h"
#include "writing/SlaveCpu.h"
#include "writing/TargetProcedures.h"

namespace qrb {

namespace {

constexpr std::uint8_t kLineFrameStart = 0x50;
constexpr int kBar1Maximum = 49;    // cycles as lines are acknowledged
constexpr int kBar2Maximum = 1247;  // full scale of 1248 lines

// Result codes of the line transfer.
constexpr int kNotAcknowledged = 1;
constexpr int kNoReply = 2;
constexpr int kEndNotAcknowledged = 3;

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

void ShowTransferBars(WriteHost& host) {
    host.setProgressRange(ProgressBarId::Bar1, 0, kBar1Maximum);
    host.setProgressPosition(ProgressBarId::Bar1, 0);
    host.setProgressVisible(ProgressBarId::Bar1, true);
    host.setProgressRange(ProgressBarId::Bar2, 0, kBar2Maximum);
    host.setProgressPosition(ProgressBarId::Bar2, 0);
    host.setProgressVisible(ProgressBarId::Bar2, true);
}

}  // namespace

int SelectErase(WriteFramework& fw) {
    return RunAckCommand(fw, kSelectErase);
}

int TransferSlaveLines(WriteFramework& fw) {
    SharedState& state = fw.state();
    return TransferSlaveLines(fw, ReadSlaveLines(state.SelectedFileName, state.KeyIndex));
}

int TransferSlaveLines(WriteFramework& fw, const std::vector<std::string>& lines) {
    WriteHost& host = fw.host();
    SharedState& state = fw.state();
    ShowTransferBars(host);

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
        if (!fw.WaitForReply(frameSize + 1, 10000))
            return kNoReply;
        if (fw.ReceiveBuffer[frameSize] != ACK)
            return kNotAcknowledged;
        host.setProgressPosition(ProgressBarId::Bar1, count % (kBar1Maximum + 1));
        // Beyond its full scale the bar stays full.
        host.setProgressPosition(ProgressBarId::Bar2, std::min(count, kBar2Maximum));
        ++count;
    }

    fw.ProcessMessages();
    if (state.StopRequested)
        return kNotAcknowledged;

    fw.ReceivedCount = 0;
    fw.SendBytes(EndFrame.data(), static_cast<int>(EndFrame.size()));
    const int endReply = static_cast<int>(EndFrame.size());
    if (fw.WaitForReply(endReply + 1, 500) && fw.ReceiveBuffer[endReply] == ACK)
        return 0;
    return kEndNotAcknowledged;
}

int WriteSlaveCpu(WriteFramework& fw) {
    // The whole file is read and checked before the erase selection: a
    // refused or unreadable file throws from here with nothing sent.
    SharedState& state = fw.state();
    const std::vector<std::string> lines = ReadSlaveLines(state.SelectedFileName, state.KeyIndex);
    if (int r = SelectErase(fw))
        return r;
    if (int r = TransferSlaveLines(fw, lines))
        return r;
    // No image checksum for this target: the completion text alone.
    fw.FinishSuccessfulWrite("");
    return 0;
}

}  // namespace qrb
