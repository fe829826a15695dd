// The option unit write: parameter commands, programming state, stored
// routine loads, status and blank checks, erasing, the image transfer and
// the unit's own sum, then the shared closing sequence.
#include "writing/OptionUnit.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <optional>

#include "writing/TargetProcedures.h"

namespace qrb {

namespace {

using std::chrono::milliseconds;
using namespace std::chrono_literals;

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

constexpr milliseconds kAfterCommand{2};

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
constexpr milliseconds kEraseByteGap{3};
constexpr milliseconds kErasePause{1400};  // the unit erases a block before it answers
constexpr milliseconds kAfterErase{1000};
constexpr milliseconds kRoutineByteGap{3};
constexpr milliseconds kAfterBaseRoutine{1000};

// An erase command's four bytes come back before its answer: ACK, or the
// error pair D8 and a code.
constexpr int kEraseAnswerPosition = 4;
constexpr milliseconds kEraseAnswerTimeout{5000};
constexpr milliseconds kEraseEndAnswerTimeout{500};
constexpr milliseconds kErrorCodeTimeout{500};  // the code that follows an error byte
constexpr milliseconds kRoutineAnswerTimeout{5000};

constexpr int kEnterPolls = 10;
constexpr milliseconds kEnterPollSleep{500};

// A code that the unit sent in place of ACK is the step's result; 0 cannot
// stand for a refusal, so it becomes Failed.
StepResult RefusalCode(std::uint8_t code) {
    return code != 0 ? UnitCode(code) : StepResult::Failed;
}

std::uint8_t ReplyByte(const WriteFramework& fw, int index) {
    return fw.ReceiveBuffer[index];
}

// Runs steps in order until one fails: that step's result, or Ok.
template <class... Steps>
StepResult FirstFailure(WriteFramework& fw, Steps... steps) {
    StepResult result = StepResult::Ok;
    ((result = steps(fw), IsOk(result)) && ...);
    return result;
}

void SendEraseCommand(WriteFramework& fw, std::uint8_t block) {
    const std::uint8_t check = static_cast<std::uint8_t>(0xA7 - block);
    for (std::uint8_t byte : {kEraseCommand, std::uint8_t{0x01}, block, check}) {
        fw.SendByte(byte);
        fw.Sleep(kEraseByteGap);
    }
}

StepResult EraseAnswer(WriteFramework& fw) {
    if (!fw.WaitForReply(kEraseAnswerPosition + 1, kEraseAnswerTimeout)) {
        return StepResult::Failed;
    }
    if (ReplyByte(fw, kEraseAnswerPosition) == ACK) {
        return StepResult::Ok;
    }
    if (!fw.WaitForReply(kEraseAnswerPosition + 2, kErrorCodeTimeout) ||
        ReplyByte(fw, kEraseAnswerPosition) != kEraseError) {
        return StepResult::Failed;
    }
    switch (ReplyByte(fw, kEraseAnswerPosition + 1)) {
        case kEraseErrorCode51:
            return StepResult::EraseRefused51;
        case kEraseErrorCode11:
            return StepResult::EraseRefused11;
        default:
            return StepResult::Failed;
    }
}

StepResult LoadBaseRoutine(WriteFramework& fw) {
    const StepResult result = SendRoutine(fw, BaseRoutine());
    if (IsOk(result)) {
        fw.Sleep(kAfterBaseRoutine);
    }
    return result;
}
StepResult LoadEraseRoutine(WriteFramework& fw) {
    return SendRoutine(fw, EraseRoutine());
}
StepResult LoadProgramRoutine(WriteFramework& fw) {
    return SendRoutine(fw, ProgramRoutine());
}

// A unit whose memory is not blank gives its status, has the erase selected,
// the erase routine loaded and its blocks erased.
StepResult CheckBlankOrErase(WriteFramework& fw) {
    const StepResult blank = CheckBlank(fw);
    if (blank != StepResult::NotBlank) {
        return blank;
    }
    return FirstFailure(fw, QueryBootStatus, SelectErase, LoadEraseRoutine, EraseBlocks);
}

}  // namespace

// clang-format off
// Columns: name, command bytes, pause before sending (ms), awaited bytes (echo
// included), first-byte time-out (ms), sends at most, StopRequested rule,
// ReceivedCount cleared again just before the wait.
constexpr CommandStep kQueryProgrammingUnit {"QueryProgrammingUnit",  kQueryProgrammingUnitBytes,  10ms,  6,  500ms, 3, StopRule::EndsStep,          true};
constexpr CommandStep kSelectDevice         {"SelectDevice",          kSelectDeviceBytes,          10ms,  8,  500ms, 3, StopRule::EndsStep,          false};
constexpr CommandStep kSelectClockMode      {"SelectClockMode",       kSelectClockModeBytes,       10ms,  5,  500ms, 3, StopRule::EndsStep,          false};
constexpr CommandStep kSelectBitRate        {"SelectBitRate",         kSelectBitRateBytes,         10ms, 11,  500ms, 3, StopRule::EndsStep,          false};
constexpr CommandStep kConfirmBitRate       {"ConfirmBitRate",        kConfirmBitRateBytes,        50ms,  2,  500ms, 1, StopRule::PassesOn,          true};
constexpr CommandStep kEnterProgrammingState{"EnterProgrammingState", kEnterProgrammingStateBytes, 10ms,  1,  500ms, 1, StopRule::EndsStep,          true};
constexpr CommandStep kQueryBootStatus      {"QueryBootStatus",       kQueryBootStatusBytes,       10ms,  6,  500ms, 1, StopRule::ClearedBeforeWait, true};
constexpr CommandStep kCheckBlank           {"CheckBlank",            kCheckBlankBytes,            10ms,  3,  500ms, 1, StopRule::ClearedBeforeWait, true};
constexpr CommandStep kSelectErase          {"SelectErase",           kSelectEraseBytes,           10ms,  2, 5000ms, 1, StopRule::ClearedBeforeWait, true};
constexpr CommandStep kSelectProgramming    {"SelectProgramming",     kSelectProgrammingBytes,     10ms,  2,  500ms, 1, StopRule::ClearedBeforeWait, true};
constexpr CommandStep kReadUnitChecksum     {"ReadUnitChecksum",      kReadUnitChecksumBytes,      10ms,  8,  500ms, 1, StopRule::NotRead,           true};
// clang-format on

void SendCommandStep(WriteFramework& fw, const CommandStep& step) {
    // Bytes are counted only inside event passes, and none runs between the
    // send and the second clearing below, so the echo is still counted by the
    // wait that follows.
    fw.ReceivedCount = 0;
    fw.Sleep(step.pauseBefore);
    fw.SendBytes(step.command.data(), static_cast<int>(step.command.size()));
    fw.Sleep(kAfterCommand);
    if (step.stop == StopRule::ClearedBeforeWait) {
        fw.state().StopRequested = false;
    }
    if (step.clearCountBeforeWait) {
        fw.ReceivedCount = 0;
    }
}

StepResult RunAckCommand(WriteFramework& fw, const CommandStep& step) {
    return fw.SendUpTo(step.maxSends, [&]() -> std::optional<StepResult> {
        SendCommandStep(fw, step);
        const bool answered = fw.WaitForReply(step.awaitedCount, step.firstByteTimeout);
        if (fw.state().StopRequested) {
            if (step.stop == StopRule::EndsStep) {
                return StepResult::Failed;
            }
            if (step.stop == StopRule::PassesOn) {
                return StepResult::Ok;
            }
        }
        if (answered && ReplyByte(fw, step.awaitedCount - 1) == ACK) {
            return StepResult::Ok;
        }
        return std::nullopt;
    });
}

StepResult QueryProgrammingUnit(WriteFramework& fw) {
    const CommandStep& step = kQueryProgrammingUnit;
    fw.StartStep();
    bool wrongSumSeen = false;
    const StepResult afterWrongSum = StepResult::BadChecksum;
    int missing = 0;
    // An answer with a wrong sum is asked for again without counting; only
    // missing answers use up the sends.
    for (;;) {
        SendCommandStep(fw, step);
        const bool answered = fw.WaitForReply(step.awaitedCount, step.firstByteTimeout);
        if (fw.state().StopRequested) {
            return wrongSumSeen ? afterWrongSum : StepResult::Failed;
        }
        if (answered) {
            if (WriteFramework::ByteSum(&fw.ReceiveBuffer[1], 5) != 0) {
                wrongSumSeen = true;
                fw.ReplyTimedOut = false;
                continue;
            }
            if (ReplyByte(fw, 3) == kProgrammingUnitHigh &&
                ReplyByte(fw, 4) == kProgrammingUnitLow) {
                return StepResult::Ok;
            }
            return wrongSumSeen ? afterWrongSum : StepResult::Failed;
        }
        if (++missing >= step.maxSends) {
            return StepResult::Failed;
        }
        fw.ReplyTimedOut = false;
    }
}

StepResult SelectDevice(WriteFramework& fw) {
    return RunAckCommand(fw, kSelectDevice);
}
StepResult SelectClockMode(WriteFramework& fw) {
    return RunAckCommand(fw, kSelectClockMode);
}
StepResult SelectBitRate(WriteFramework& fw) {
    return RunAckCommand(fw, kSelectBitRate);
}
StepResult ConfirmBitRate(WriteFramework& fw) {
    return RunAckCommand(fw, kConfirmBitRate);
}
StepResult SelectProgramming(WriteFramework& fw) {
    return RunAckCommand(fw, kSelectProgramming);
}

StepResult EnterProgrammingState(WriteFramework& fw) {
    const CommandStep& step = kEnterProgrammingState;
    fw.StartStep();
    SendCommandStep(fw, step);
    if (!fw.WaitForReply(step.awaitedCount, step.firstByteTimeout) || fw.state().StopRequested) {
        return StepResult::Failed;
    }
    // The unit answers when it is ready, possibly seconds later. Whatever came
    // with the echo is dropped by the first poll's clearing.
    for (int poll = 0; poll < kEnterPolls; ++poll) {
        fw.ReceivedCount = 0;
        fw.Sleep(kEnterPollSleep);
        if (!fw.WaitForReply(1, step.firstByteTimeout)) {
            continue;
        }
        const std::uint8_t first = ReplyByte(fw, 0);
        fw.ReceivedCount = 0;
        if (first == ACK) {
            return StepResult::Ok;
        }
        // Not ready: the unit's error code follows; without it the byte itself.
        fw.WaitForReply(1, kErrorCodeTimeout);
        return RefusalCode(ReplyByte(fw, 0));
    }
    return StepResult::Failed;
}

StepResult SendRoutine(WriteFramework& fw, const StoredRoutine& routine) {
    const int size = static_cast<int>(routine.bytes.size());
    WriteHost& host = fw.host();
    host.workStarted(WorkPhase::OptionRoutine, size);

    fw.StartStep();
    fw.ReceivedCount = 0;
    fw.Sleep(routine.pauseBeforeFirstByte);
    int sent = 0;
    for (std::uint8_t byte : routine.bytes) {
        // The echo is counted in these passes; the count runs on over the
        // whole routine so the unit's answer lands at index size.
        fw.ProcessMessages();
        if (fw.state().StopRequested) {
            return StepResult::Failed;
        }
        fw.SendByte(byte);
        fw.Sleep(kRoutineByteGap);
        ++sent;
        host.workProgressed({WorkPhase::OptionRoutine, sent, size, sent});
    }
    if (!fw.WaitForReply(size + 1, kRoutineAnswerTimeout)) {
        return StepResult::Failed;
    }
    return ReplyByte(fw, size) == ACK ? StepResult::Ok : StepResult::Failed;
}

StepResult QueryBootStatus(WriteFramework& fw) {
    const CommandStep& step = kQueryBootStatus;
    fw.StartStep();
    SendCommandStep(fw, step);
    if (!fw.WaitForReply(step.awaitedCount, step.firstByteTimeout)) {
        return StepResult::Failed;
    }
    return UnitCode(ReplyByte(fw, 4));  // the unit's error code, 0 = no error
}

StepResult CheckBlank(WriteFramework& fw) {
    const CommandStep& step = kCheckBlank;
    fw.StartStep();
    SendCommandStep(fw, step);
    // The error pair CD, code fills the awaited 3; its code may follow CD by
    // as long as any arrival allows. A blank unit answers ACK alone, which
    // leaves the wait to run out after the echo and the ACK.
    if (!fw.WaitForReply(step.awaitedCount, step.firstByteTimeout)) {
        const bool ackAlone = fw.ReceivedCount == kBlankAnswerCount && ReplyByte(fw, 1) == ACK;
        return ackAlone ? StepResult::Ok : StepResult::Failed;
    }
    if (ReplyByte(fw, 1) != kCheckBlankError) {
        return StepResult::Failed;
    }
    return RefusalCode(ReplyByte(fw, 2));
}

StepResult EraseBlocks(WriteFramework& fw) {
    fw.StartStep();
    const bool allAreas = fw.state().WriteAllAreas;
    const int firstBlock = allAreas ? 0 : 2;
    const int lastBlock = allAreas ? 9 : 8;
    for (int block = firstBlock; block <= lastBlock; ++block) {
        SendEraseCommand(fw, static_cast<std::uint8_t>(block));
        fw.Sleep(kErasePause);
        // No event pass since the send: the echo is still to be counted.
        fw.state().StopRequested = false;
        fw.ReceivedCount = 0;
        if (const StepResult r = EraseAnswer(fw); !IsOk(r)) {
            return r;
        }
    }
    SendEraseCommand(fw, kEraseEndBlock);
    fw.state().StopRequested = false;
    fw.ReceivedCount = 0;
    if (!fw.WaitForReply(kEraseAnswerPosition + 1, kEraseEndAnswerTimeout) ||
        ReplyByte(fw, kEraseAnswerPosition) != ACK) {
        return StepResult::Failed;
    }
    fw.Sleep(kAfterErase);
    return StepResult::Ok;
}

std::string FormatCpuChecksumText(std::span<const std::uint8_t, 4> sum) {
    char text[40];
    std::snprintf(text, sizeof text, "\r\n        %2.2X%2.2X%2.2X%2.2X (CPU)", sum[0], sum[1],
                  sum[2], sum[3]);
    return text;
}

StepResult ReadUnitChecksum(WriteFramework& fw) {
    const CommandStep& step = kReadUnitChecksum;
    fw.StartStep();
    SendCommandStep(fw, step);
    if (!fw.WaitForReply(step.awaitedCount, step.firstByteTimeout)) {
        return StepResult::Failed;
    }
    // Answer after the echo: two bytes, the 4-byte sum, check byte.
    if (WriteFramework::ByteSum(&fw.ReceiveBuffer[1], 7) != 0) {
        return StepResult::BadChecksum;
    }
    fw.CpuChecksumText =
        FormatCpuChecksumText(std::span<const std::uint8_t, 4>(&fw.ReceiveBuffer[3], 4));
    return StepResult::Ok;
}

StepResult WriteOptionUnit(WriteFramework& fw) {
    SharedState& state = fw.state();
    // The file is read before the first command: a refused or unreadable file
    // ends the write (the exception reaches the driver) with nothing sent and
    // the unit untouched, not after it was erased.
    const FirmwareImage image =
        BuildSrecImage(state.SelectedFileName, kOptionImageSize, state.KeyIndex);

    const auto transferImage = [&image](WriteFramework& f) {
        return TransferOptionImage(f, image);
    };
    const StepResult result = FirstFailure(
        fw, QueryProgrammingUnit, SelectDevice, SelectClockMode, SelectBitRate, ConfirmBitRate,
        EnterProgrammingState, LoadBaseRoutine, QueryBootStatus, CheckBlankOrErase, QueryBootStatus,
        SelectProgramming, LoadProgramRoutine, transferImage, QueryBootStatus, ReadUnitChecksum);
    if (!IsOk(result)) {
        return result;
    }

    fw.FinishSuccessfulWrite(fw.ChecksumText + fw.CpuChecksumText);
    return StepResult::Ok;
}

}  // namespace qrb
