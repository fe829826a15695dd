// The option unit write: parameter commands, programming state, stored
// routine loads, status and blank checks, erasing, the image transfer and
// the unit's own sum, then the shared closing sequence.
#include "writing/OptionUnit.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "writing/TargetProcedures.h"

namespace qrb {

namespace {

constexpr std::uint8_t kQueryProgrammingUnitBytes[] = {0x27};
constexpr std::uint8_t kSelectDeviceBytes[] = {0x10, 0x04, 0x30, 0x31, 0x30, 0x31, 0x2A};
constexpr std::uint8_t kSelectClockModeBytes[] = {0x11, 0x01, 0x00, 0xEE};
constexpr std::uint8_t kSelectBitRateBytes[] = {0x3F, 0x07, 0x00, 0x30, 0x06,
                                                0x90, 0x01, 0x01, 0x01, 0xF1};
constexpr std::uint8_t kConfirmBitRateBytes[] = {0x06};
constexpr std::uint8_t kEnterProgrammingStateBytes[] = {0x40};
constexpr std::uint8_t kQueryBootStatusBytes[] = {0x4F};
constexpr std::uint8_t kCheckBlankBytes[] = {0x4D};
constexpr std::uint8_t kSelectEraseBytes[] = {0x48};
constexpr std::uint8_t kSelectProgrammingBytes[] = {0x43};
constexpr std::uint8_t kReadUnitChecksumBytes[] = {0x4B};

constexpr int kStepTimerMs = 5000;  // the receive timer armed at the start of every step
constexpr int kAfterCommandMs = 2;

// The programming unit the image transfer is built for: 128-byte blocks.
constexpr std::uint8_t kProgrammingUnitHigh = 0x00;
constexpr std::uint8_t kProgrammingUnitLow = 0x80;

// An error pair is the command byte with its top bit set, then a code.
constexpr std::uint8_t kCheckBlankError = 0xCD;
constexpr int kBlankAnswerCount = 2;  // the echo of 4D, then ACK
constexpr std::uint8_t kEraseError = 0xD8;
constexpr std::uint8_t kEraseErrorCode51 = 0x51;
constexpr std::uint8_t kEraseErrorCode11 = 0x11;

constexpr std::uint8_t kEraseCommand = 0x58;
constexpr std::uint8_t kEraseEndBlock = 0xFF;
constexpr int kEraseByteGapMs = 3;
constexpr int kErasePauseMs = 1400;  // the unit erases a block before it answers
constexpr int kAfterEraseMs = 1000;
constexpr int kRoutineByteGapMs = 3;
constexpr int kAfterBaseRoutineMs = 1000;

constexpr int kEnterPolls = 10;
constexpr int kEnterPollSleepMs = 500;

// A code that the unit sent in place of ACK is the step's result; 0 cannot
// stand for a refusal, so it becomes 1.
int RefusalCode(std::uint8_t code) {
    return code != 0 ? code : 1;
}

std::uint8_t ReplyByte(const WriteFramework& fw, int index) {
    return fw.ReceiveBuffer[index];
}

void StartStep(WriteFramework& fw) {
    fw.ReplyTimedOut = false;
    fw.ArmReceiveTimer(kStepTimerMs);
}

void SendEraseCommand(WriteFramework& fw, std::uint8_t block) {
    const std::uint8_t check = static_cast<std::uint8_t>(0xA7 - block);
    for (std::uint8_t byte : {kEraseCommand, std::uint8_t{0x01}, block, check}) {
        fw.SendByte(byte);
        fw.Sleep(kEraseByteGapMs);
    }
}

// The answer to an erase command stands after its 4-byte echo.
int EraseAnswer(WriteFramework& fw) {
    if (!fw.WaitForReply(5, 5000))
        return 1;
    if (ReplyByte(fw, 4) == ACK)
        return 0;
    if (!fw.WaitForReply(6, 500) || ReplyByte(fw, 4) != kEraseError)
        return 1;
    switch (ReplyByte(fw, 5)) {
        case kEraseErrorCode51:
            return 5;
        case kEraseErrorCode11:
            return 10;
        default:
            return 1;
    }
}

// With the unit's memory not blank: its status, erase selection, the erase
// routine and the erase commands; the first failure's code, or 0.
int EraseUnit(WriteFramework& fw) {
    if (int r = QueryBootStatus(fw))
        return r;
    if (int r = SelectErase(fw))
        return r;
    if (int r = SendRoutine(fw, EraseRoutine()))
        return r;
    return EraseBlocks(fw);
}

}  // namespace

// clang-format off
// Columns: name, command bytes, pause before sending (ms), awaited bytes (echo
// included), first-byte time-out (ms), sends at most, StopRequested rule,
// ReceivedCount cleared again just before the wait.
const CommandStep kQueryProgrammingUnit {"QueryProgrammingUnit",  kQueryProgrammingUnitBytes,  10,  6,  500, 3, StopRule::EndsStep,          true};
const CommandStep kSelectDevice         {"SelectDevice",          kSelectDeviceBytes,          10,  8,  500, 3, StopRule::EndsStep,          false};
const CommandStep kSelectClockMode      {"SelectClockMode",       kSelectClockModeBytes,       10,  5,  500, 3, StopRule::EndsStep,          false};
const CommandStep kSelectBitRate        {"SelectBitRate",         kSelectBitRateBytes,         10, 11,  500, 3, StopRule::EndsStep,          false};
const CommandStep kConfirmBitRate       {"ConfirmBitRate",        kConfirmBitRateBytes,        50,  2,  500, 1, StopRule::PassesOn,          true};
const CommandStep kEnterProgrammingState{"EnterProgrammingState", kEnterProgrammingStateBytes, 10,  1,  500, 1, StopRule::EndsStep,          true};
const CommandStep kQueryBootStatus      {"QueryBootStatus",       kQueryBootStatusBytes,       10,  6,  500, 1, StopRule::ClearedBeforeWait, true};
const CommandStep kCheckBlank           {"CheckBlank",            kCheckBlankBytes,            10,  3,  500, 1, StopRule::ClearedBeforeWait, true};
const CommandStep kSelectErase          {"SelectErase",           kSelectEraseBytes,           10,  2, 5000, 1, StopRule::ClearedBeforeWait, true};
const CommandStep kSelectProgramming    {"SelectProgramming",     kSelectProgrammingBytes,     10,  2,  500, 1, StopRule::ClearedBeforeWait, true};
const CommandStep kReadUnitChecksum     {"ReadUnitChecksum",      kReadUnitChecksumBytes,      10,  8,  500, 1, StopRule::NotRead,           true};
// clang-format on

void SendCommandStep(WriteFramework& fw, const CommandStep& step) {
    // Bytes are counted only inside event passes, and none runs between the
    // send and the second clearing below, so the echo is still counted by the
    // wait that follows.
    fw.ReceivedCount = 0;
    fw.Sleep(step.pauseBeforeMs);
    fw.SendBytes(step.command.data(), static_cast<int>(step.command.size()));
    fw.Sleep(kAfterCommandMs);
    if (step.stop == StopRule::ClearedBeforeWait)
        fw.state().StopRequested = false;
    if (step.clearCountBeforeWait)
        fw.ReceivedCount = 0;
}

int RunAckCommand(WriteFramework& fw, const CommandStep& step) {
    StartStep(fw);
    for (int sends = 1;; ++sends) {
        SendCommandStep(fw, step);
        const bool answered = fw.WaitForReply(step.awaitedCount, step.firstByteTimeoutMs);
        if (fw.state().StopRequested) {
            if (step.stop == StopRule::EndsStep)
                return 1;
            if (step.stop == StopRule::PassesOn)
                return 0;
        }
        if (answered && ReplyByte(fw, step.awaitedCount - 1) == ACK)
            return 0;
        if (sends >= step.maxSends)
            return 1;
        fw.ReplyTimedOut = false;
    }
}

int QueryProgrammingUnit(WriteFramework& fw) {
    const CommandStep& step = kQueryProgrammingUnit;
    StartStep(fw);
    bool wrongSumSeen = false;
    int missing = 0;
    // An answer with a wrong sum is asked for again without counting; only
    // missing answers use up the sends.
    for (;;) {
        SendCommandStep(fw, step);
        const bool answered = fw.WaitForReply(step.awaitedCount, step.firstByteTimeoutMs);
        if (fw.state().StopRequested)
            return wrongSumSeen ? 10 : 1;
        if (answered) {
            if (WriteFramework::ByteSum(&fw.ReceiveBuffer[1], 5) != 0) {
                wrongSumSeen = true;
                fw.ReplyTimedOut = false;
                continue;
            }
            if (ReplyByte(fw, 3) == kProgrammingUnitHigh && ReplyByte(fw, 4) == kProgrammingUnitLow)
                return 0;
            return wrongSumSeen ? 10 : 1;
        }
        if (++missing >= step.maxSends)
            return 1;
        fw.ReplyTimedOut = false;
    }
}

int SelectDevice(WriteFramework& fw) {
    return RunAckCommand(fw, kSelectDevice);
}
int SelectClockMode(WriteFramework& fw) {
    return RunAckCommand(fw, kSelectClockMode);
}
int SelectBitRate(WriteFramework& fw) {
    return RunAckCommand(fw, kSelectBitRate);
}
int ConfirmBitRate(WriteFramework& fw) {
    return RunAckCommand(fw, kConfirmBitRate);
}
int SelectProgramming(WriteFramework& fw) {
    return RunAckCommand(fw, kSelectProgramming);
}

int EnterProgrammingState(WriteFramework& fw) {
    const CommandStep& step = kEnterProgrammingState;
    StartStep(fw);
    SendCommandStep(fw, step);
    if (!fw.WaitForReply(step.awaitedCount, step.firstByteTimeoutMs) || fw.state().StopRequested)
        return 1;
    // The unit answers when it is ready, possibly seconds later. Whatever came
    // with the echo is dropped by the first poll's clearing.
    for (int poll = 0; poll < kEnterPolls; ++poll) {
        fw.ReceivedCount = 0;
        fw.Sleep(kEnterPollSleepMs);
        if (!fw.WaitForReply(1, step.firstByteTimeoutMs))
            continue;
        const std::uint8_t first = ReplyByte(fw, 0);
        fw.ReceivedCount = 0;
        if (first == ACK)
            return 0;
        // Not ready: the unit's error code follows; without it the byte itself.
        fw.WaitForReply(1, 500);
        return RefusalCode(ReplyByte(fw, 0));
    }
    return 1;
}

int SendRoutine(WriteFramework& fw, const StoredRoutine& routine) {
    const int size = static_cast<int>(routine.bytes.size());
    const int barMaximum = std::max(size - 1, 0);
    fw.host().setProgressRange(ProgressBarId::Bar1, 0, barMaximum);
    fw.host().setProgressPosition(ProgressBarId::Bar1, 0);
    fw.host().setProgressVisible(ProgressBarId::Bar1, true);

    StartStep(fw);
    fw.ReceivedCount = 0;
    fw.Sleep(routine.pauseBeforeFirstByteMs);
    int sent = 0;
    for (std::uint8_t byte : routine.bytes) {
        // The echo is counted in these passes; the count runs on over the
        // whole routine so the unit's answer lands at index size.
        fw.ProcessMessages();
        if (fw.state().StopRequested)
            return 1;
        fw.SendByte(byte);
        fw.Sleep(kRoutineByteGapMs);
        ++sent;
        fw.host().setProgressPosition(ProgressBarId::Bar1, std::min(sent, barMaximum));
    }
    if (!fw.WaitForReply(size + 1, 5000))
        return 1;
    return ReplyByte(fw, size) == ACK ? 0 : 1;
}

int QueryBootStatus(WriteFramework& fw) {
    const CommandStep& step = kQueryBootStatus;
    StartStep(fw);
    SendCommandStep(fw, step);
    if (!fw.WaitForReply(step.awaitedCount, step.firstByteTimeoutMs))
        return 1;
    return ReplyByte(fw, 4);  // the unit's error code, 0 = no error
}

int CheckBlank(WriteFramework& fw) {
    const CommandStep& step = kCheckBlank;
    StartStep(fw);
    SendCommandStep(fw, step);
    // The error pair CD, code fills the awaited 3; its code may follow CD by
    // as long as any arrival allows. A blank unit answers ACK alone, which
    // leaves the wait to run out after the echo and the ACK.
    if (!fw.WaitForReply(step.awaitedCount, step.firstByteTimeoutMs)) {
        const bool ackAlone = fw.ReceivedCount == kBlankAnswerCount && ReplyByte(fw, 1) == ACK;
        return ackAlone ? 0 : 1;
    }
    if (ReplyByte(fw, 1) != kCheckBlankError)
        return 1;
    return RefusalCode(ReplyByte(fw, 2));
}

int EraseBlocks(WriteFramework& fw) {
    StartStep(fw);
    const bool allAreas = fw.state().WriteAllAreas;
    const int firstBlock = allAreas ? 0 : 2;
    const int lastBlock = allAreas ? 9 : 8;
    for (int block = firstBlock; block <= lastBlock; ++block) {
        SendEraseCommand(fw, static_cast<std::uint8_t>(block));
        fw.Sleep(kErasePauseMs);
        // No event pass since the send: the echo is still to be counted.
        fw.state().StopRequested = false;
        fw.ReceivedCount = 0;
        if (int r = EraseAnswer(fw))
            return r;
    }
    SendEraseCommand(fw, kEraseEndBlock);
    fw.state().StopRequested = false;
    fw.ReceivedCount = 0;
    if (!fw.WaitForReply(5, 500) || ReplyByte(fw, 4) != ACK)
        return 1;
    fw.Sleep(kAfterEraseMs);
    return 0;
}

std::string FormatCpuChecksumText(std::span<const std::uint8_t, 4> sum) {
    char text[40];
    std::snprintf(text, sizeof text, "\r\n        %2.2X%2.2X%2.2X%2.2X (CPU)", sum[0], sum[1],
                  sum[2], sum[3]);
    return text;
}

int ReadUnitChecksum(WriteFramework& fw) {
    const CommandStep& step = kReadUnitChecksum;
    StartStep(fw);
    SendCommandStep(fw, step);
    if (!fw.WaitForReply(step.awaitedCount, step.firstByteTimeoutMs))
        return 1;
    // Answer after the echo: two bytes, the 4-byte sum, check byte.
    if (WriteFramework::ByteSum(&fw.ReceiveBuffer[1], 7) != 0)
        return 10;
    fw.CpuChecksumText =
        FormatCpuChecksumText(std::span<const std::uint8_t, 4>(&fw.ReceiveBuffer[3], 4));
    return 0;
}

int WriteOptionUnit(WriteFramework& fw) {
    SharedState& state = fw.state();
    // The file is read before the first command: a refused or unreadable file
    // ends the write (the exception reaches the driver) with nothing sent and
    // the unit untouched, not after it was erased.
    const FirmwareImage image =
        BuildSrecImage(state.SelectedFileName, kOptionImageSize, state.KeyIndex);

    using Step = int (*)(WriteFramework&);
    for (Step step : {QueryProgrammingUnit, SelectDevice, SelectClockMode, SelectBitRate,
                      ConfirmBitRate, EnterProgrammingState}) {
        if (int r = step(fw))
            return r;
    }
    if (int r = SendRoutine(fw, BaseRoutine()))
        return r;
    fw.Sleep(kAfterBaseRoutineMs);
    if (int r = QueryBootStatus(fw))
        return r;

    int blank = CheckBlank(fw);
    if (blank == kNotBlankCode)
        blank = EraseUnit(fw);
    if (blank != 0)
        return blank;

    if (int r = QueryBootStatus(fw))
        return r;
    if (int r = SelectProgramming(fw))
        return r;
    if (int r = SendRoutine(fw, ProgramRoutine()))
        return r;
    if (int r = TransferOptionImage(fw, image))
        return r;
    if (int r = QueryBootStatus(fw))
        return r;
    if (int r = ReadUnitChecksum(fw))
        return r;

    fw.FinishSuccessfulWrite(fw.ChecksumText + fw.CpuChecksumText);
    return 0;
}

}  // namespace qrb
