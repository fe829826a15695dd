// The write run's driver loop and handshake. Every step returns a result
// code and never raises; only a firmware file that cannot be read ends the
// run with an error message.
#include "writing/RadioQRB.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "firmware/FirmwareError.h"
#include "writing/TargetProcedures.h"
#include "writing/WriteTexts.h"

namespace qrb {

namespace {

constexpr std::uint8_t kReadyByte = 0x50;
constexpr std::uint8_t kReadyAnswer = 0xA0;
constexpr int kRunBitRate = 38400;

using std::chrono::milliseconds;

constexpr milliseconds kReplyTimeout{500};
constexpr milliseconds kIdleTimeout{5000};
constexpr milliseconds kPauseBeforeTransfer{50};
constexpr milliseconds kReadyPollPause{1};
constexpr int kMaxCommandSends = 3;

// Per target: identification command (four bytes summing to 0) and the
// identification string the unit must answer with.
struct UnitIdentity {
    std::array<std::uint8_t, 4> command;
    std::array<std::uint8_t, 5> name;
};
constexpr std::array<UnitIdentity, 3> kUnits = {{
    {{0x65, 0x01, 0x50, 0x4A}, {'P', 'A', 'N', 'E', 'L'}},  // Master CPU
    {{0x65, 0x01, 0x44, 0x56}, {'D', 'S', 'P', ' ', ' '}},  // Slave CPU
    {{0x65, 0x01, 0x41, 0x59}, {'O', 'L', 'U', '-', '6'}},  // option unit
}};
// Echo of the command, then 8 answer bytes: two not examined, the name,
// the check byte.
constexpr int kIdentityReplyCount = 4 + 8;
constexpr int kIdentityNameOffset = 2;

constexpr std::uint8_t kMasterVersionCommand[] = {0xE1, 0x01, 0xE2};
// Echo (3), ACK, 8 bytes not examined, two version bytes, check byte.
constexpr int kMasterVersionFirstByte = 3;
constexpr int kMasterVersionReplyCount = 15;
constexpr int kMasterVersionNakCount = 7;

constexpr std::uint8_t kUnitVersionCommand = 0x66;
// 76 02, two version bytes, check byte; after the echo was cleared away.
constexpr int kUnitVersionReplyCount = 5;
constexpr std::uint8_t kUnitVersionTag[] = {0x76, 0x02};
constexpr milliseconds kAckEchoPause{2};

bool IsKnownTarget(WriteTarget target) {
    return target >= kMasterCpu && target <= kOptionUnit;
}

// After one send of a command and its wait: a stop or an answer ends the
// sending, silence asks for another send.
std::optional<StepResult> AfterCommandWait(const SharedState& state, bool answered) {
    if (state.StopRequested)
        return StepResult::Failed;
    if (answered)
        return StepResult::Ok;
    return std::nullopt;
}

std::string VersionText(std::uint8_t high, std::uint8_t low) {
    char text[8];
    std::snprintf(text, sizeof text, "%2.2X%2.2X", high, low);
    return text;
}

}  // namespace

WriteRun::WriteRun(Line& line, WriteHost& host, SharedState& state) : fw_(line, host, state) {}

RunOutcome WriteRun::RunWrite() {
    SharedState& state = fw_.state();
    WriteHost& host = fw_.host();
    state.KeyIndex = 0;
    host.setInstructionText(kRunningText);
    state.StopRequested = false;
    bool completed = false;

    while (!state.StopRequested) {
        fw_.ShowStatusLamp(StatusLamp::Red);
        if (!IsOk(Handshake())) {
            AskAfterFailedHandshake();
            continue;
        }

        fw_.Sleep(kPauseBeforeTransfer);
        StepResult transfer = StepResult::Failed;
        try {
            transfer = RunTargetProcedure();
        } catch (const FirmwareError& error) {
            return EndOnFileError(error);
        }
        host.workEnded();

        if (state.StopRequested) {
            // Confirmed completion, or Cancel during the transfer.
            completed = IsOk(transfer);
            fw_.ShowStatusLamp(StatusLamp::Green);
            host.runEnding();
        } else {
            AskAfterFailedTransfer();
        }
    }
    return completed ? RunOutcome::Completed : RunOutcome::Ended;
}

// "Problem on COM port": Cancel ends the run, any other answer starts the
// next attempt, which opens the port again.
void WriteRun::AskAfterFailedHandshake() {
    WriteHost& host = fw_.host();
    fw_.ShowStatusLamp(StatusLamp::Yellow);
    host.setInstructionText(kFailureText);
    if (!host.askProblemOnComPort()) {
        fw_.ShowStatusLamp(StatusLamp::Green);
        fw_.state().StopRequested = true;
        fw_.ClosePort();
        host.runEnding();
    } else {
        host.setInstructionText(kRunningText);
        fw_.ClosePort();
    }
}

// As above, with the dialog out of the way while the failure is shown.
void WriteRun::AskAfterFailedTransfer() {
    WriteHost& host = fw_.host();
    fw_.ShowStatusLamp(StatusLamp::Yellow);
    host.showingOutcome();
    host.setInstructionText(kFailureText);
    if (!host.askProblemOnComPort()) {
        fw_.ShowStatusLamp(StatusLamp::Green);
        fw_.state().StopRequested = true;
        host.runEnding();
    } else {
        host.retrying();
        host.setInstructionText(kRunningText);
        fw_.ClosePort();
    }
}

// The target procedures read their whole file before they send any of it, so
// nothing of the firmware went out: the port is closed, the lamp shows idle,
// and the run ends with the file's message. The dialog stays until its Cancel
// button is pressed.
RunOutcome WriteRun::EndOnFileError(const std::exception& error) {
    fw_.ClosePort();
    fw_.host().workEnded();
    fw_.ShowStatusLamp(StatusLamp::Green);
    fw_.host().showError(error.what());
    return RunOutcome::FileError;
}

StepResult WriteRun::RunTargetProcedure() {
    switch (fw_.state().SelectedTarget) {
        case kMasterCpu:
            return WriteMasterCpu(fw_);
        case kSlaveCpu:
            return WriteSlaveCpu(fw_);
        case kOptionUnit:
            return WriteOptionUnit(fw_);
        default:
            return StepResult::Failed;
    }
}

StepResult WriteRun::Handshake() {
    StepResult result = ConnectRadio();
    if (!IsOk(result))
        return result;
    result = IdentifyUnit();
    if (!IsOk(result))
        return result;
    return fw_.state().SelectedTarget == kMasterCpu ? ReadMasterVersion() : ReadUnitVersion();
}

void WriteRun::ConfigurePort() {
    const SharedState& state = fw_.state();
    PortSettings settings;
    settings.portNo = state.ComPortNumber;
    settings.bitRate = state.ComBitRate;
    settings.charSize = 8;
    settings.parity = TCommParityBits::cpbNone;
    settings.stopBits = TCommStopBits::csb2;
    settings.flowCtrl = TCommFlowCtrls::cfcNone;
    fw_.line().configure(settings);
}

StepResult WriteRun::ConnectRadio() {
    SharedState& state = fw_.state();
    state.ComBitRate = kRunBitRate;  // every run talks at this rate
    ConfigurePort();
    try {
        fw_.line().open();
    } catch (const std::exception&) {
        fw_.ClosePort();
        return StepResult::Failed;
    }

    fw_.ReceivedCount = 0;
    fw_.ReplyTimedOut = false;
    fw_.ArmReceiveTimer(kIdleTimeout);
    while (!fw_.ReplyTimedOut) {
        // A line that keeps delivering noise would hold this loop for ever;
        // the Cancel button ends it.
        if (state.StopRequested) {
            fw_.DisableReceiveTimer();
            return StepResult::Failed;
        }
        if (fw_.ReceivedCount == 0) {
            fw_.ProcessMessages();
            fw_.Sleep(kReadyPollPause);
        } else if (fw_.ReceiveBuffer[0] == kReadyByte) {
            fw_.ReceivedCount = 0;
            fw_.SendByte(kReadyAnswer);
            fw_.WaitForReply(1, kIdleTimeout);  // the echo of the answer
            break;
        } else {
            // Noise: everything of this arrival goes, even a ready byte
            // behind the first byte.
            fw_.ReceivedCount = 0;
        }
    }
    fw_.DisableReceiveTimer();
    return fw_.ReplyTimedOut ? StepResult::NoReply : StepResult::Ok;
}

StepResult WriteRun::IdentifyUnit() {
    const SharedState& state = fw_.state();
    if (!IsKnownTarget(state.SelectedTarget))
        return StepResult::Failed;
    const UnitIdentity& unit = kUnits[static_cast<std::size_t>(state.SelectedTarget)];

    const StepResult sent = fw_.SendUpTo(kMaxCommandSends, [&] {
        fw_.ReceivedCount = 0;
        fw_.SendBytes(unit.command.data(), static_cast<int>(unit.command.size()));
        return AfterCommandWait(state, fw_.WaitForReply(kIdentityReplyCount, kReplyTimeout));
    });
    if (!IsOk(sent))
        return sent;

    const std::uint8_t* answer = &fw_.ReceiveBuffer[unit.command.size()];
    if (WriteFramework::ByteSum(answer, 8) != 0)
        return StepResult::BadChecksum;
    const bool sameName =
        std::equal(unit.name.begin(), unit.name.end(), answer + kIdentityNameOffset);
    return sameName ? StepResult::Ok : StepResult::Failed;
}

StepResult WriteRun::ReadMasterVersion() {
    fw_.StartStep();
    fw_.ReceivedCount = 0;
    fw_.SendBytes(kMasterVersionCommand, static_cast<int>(std::size(kMasterVersionCommand)));
    if (!fw_.WaitForReply(kMasterVersionFirstByte + 1, kReplyTimeout))
        return StepResult::Failed;

    const std::uint8_t first = fw_.ReceiveBuffer[kMasterVersionFirstByte];
    if (first == ACK) {
        if (!fw_.WaitForReply(kMasterVersionReplyCount, kReplyTimeout))
            return StepResult::Failed;
        // ACK, 8 bytes, two version bytes, then the sum of those 11 bytes.
        const std::uint8_t* v = &fw_.ReceiveBuffer[kMasterVersionFirstByte];
        if (WriteFramework::ByteSum(v, 11) != v[11])
            return StepResult::BadChecksum;
        fw_.host().setVersionLabel(kMasterCpu, VersionText(v[9], v[10]));
        return StepResult::Ok;
    }
    if (first == NAK) {
        fw_.WaitForReply(kMasterVersionNakCount, kReplyTimeout);  // not examined
    }
    return StepResult::Failed;
}

StepResult WriteRun::ReadUnitVersion() {
    SharedState& state = fw_.state();
    const StepResult sent = fw_.SendUpTo(kMaxCommandSends, [&]() -> std::optional<StepResult> {
        fw_.ReceivedCount = 0;
        fw_.SendByte(kUnitVersionCommand);
        if (!fw_.WaitForReply(1, kIdleTimeout))
            return StepResult::Failed;
        // The echo goes; an answer that came with it in one arrival goes too.
        fw_.ReceivedCount = 0;
        return AfterCommandWait(state, fw_.WaitForReply(kUnitVersionReplyCount, kReplyTimeout));
    });
    if (!IsOk(sent))
        return sent;

    // Copied: the echo of our ACK below lands in ReceiveBuffer[0].
    std::array<std::uint8_t, kUnitVersionReplyCount> v{};
    std::copy_n(fw_.ReceiveBuffer.begin(), v.size(), v.begin());
    if (WriteFramework::ByteSum(v.data(), static_cast<int>(v.size())) != 0) {
        return StepResult::BadChecksum;
    }
    if (v[0] != kUnitVersionTag[0] || v[1] != kUnitVersionTag[1])
        return StepResult::Failed;

    fw_.ReceivedCount = 0;
    fw_.SendByte(ACK);
    fw_.Sleep(kAckEchoPause);
    if (!fw_.WaitForReply(1, kReplyTimeout))
        return StepResult::Failed;
    fw_.host().setVersionLabel(state.SelectedTarget, VersionText(v[2], v[3]));
    return StepResult::Ok;
}

void WriteRun::btnWCancelClick() {
    fw_.state().StopRequested = true;
    fw_.host().runEnding();
}

}  // namespace qrb
