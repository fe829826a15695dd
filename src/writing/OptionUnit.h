// The steps of the option unit (OLU-6) write: the programming unit query,
// the parameter commands, entering the programming state, loading the stored
// routines, the status and blank checks, erasing, and the unit's own sum.
// WriteOptionUnit (TargetProcedures.h) runs them in order around the image
// transfer; each returns a result code (0 success).
//
// Every byte sent comes back as an echo ahead of the unit's answer, so reply
// positions count the echo: after a one-byte command the answer starts at
// ReceiveBuffer[1].
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "firmware/SrecImage.h"
#include "writing/StepResult.h"
#include "writing/StoredRoutines.h"
#include "writing/WriteFramework.h"

namespace qrb {

// Closes the Slave CPU line transfer and the option unit image transfer: the
// address FFFFFFFF with no data, and its zero-sum check byte.
inline constexpr std::array<std::uint8_t, 6> EndFrame = {0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB4};

// What a command step does with StopRequested (a Cancel pressed meanwhile).
enum class StopRule {
    EndsStep,           // read after each wait: the step fails
    PassesOn,           // read after the wait: the step succeeds, the next step sees it
    ClearedBeforeWait,  // set to 0 just before the wait: a Cancel up to there is lost
    NotRead,
};

// One command of the programming sequence and how it is exchanged.
struct CommandStep {
    std::string_view name;
    std::span<const std::uint8_t> command;       // sent back to back, check byte included
    std::chrono::milliseconds pauseBefore;       // sleep between clearing the count and sending
    int awaitedCount;                            // bytes WaitForReply waits for, echo included
    std::chrono::milliseconds firstByteTimeout;  // WaitForReply's limit before the first byte
    int maxSends;                                // sends before the step gives up
    StopRule stop;
    bool clearCountBeforeWait;  // ReceivedCount cleared again after the send and the 2 ms
};

// The command table, in order of first use.
extern const CommandStep kQueryProgrammingUnit;
extern const CommandStep kSelectDevice;
extern const CommandStep kSelectClockMode;
extern const CommandStep kSelectBitRate;
extern const CommandStep kConfirmBitRate;
extern const CommandStep kEnterProgrammingState;
extern const CommandStep kQueryBootStatus;
extern const CommandStep kCheckBlank;
extern const CommandStep kSelectErase;
extern const CommandStep kSelectProgramming;
extern const CommandStep kReadUnitChecksum;

// Sends a step's command once: clear the count, pause, send, 2 ms, then the
// step's StopRequested and count clearings. Does not wait.
void SendCommandStep(WriteFramework& fw, const CommandStep& step);
// The steps answered by ACK alone (ACK at the last awaited position), with
// the step's resends and StopRequested rule.
StepResult RunAckCommand(WriteFramework& fw, const CommandStep& step);

StepResult QueryProgrammingUnit(WriteFramework& fw);  // Ok, Failed or BadChecksum
StepResult SelectDevice(WriteFramework& fw);
StepResult SelectClockMode(WriteFramework& fw);
StepResult SelectBitRate(WriteFramework& fw);
StepResult ConfirmBitRate(WriteFramework& fw);
StepResult EnterProgrammingState(WriteFramework& fw);  // Ok, Failed or the unit's error code
StepResult SendRoutine(WriteFramework& fw, const StoredRoutine& routine);  // Ok or Failed
StepResult QueryBootStatus(WriteFramework& fw);  // Failed or the unit's status byte (0 is Ok)
StepResult CheckBlank(WriteFramework& fw);       // Ok (blank), NotBlank, Failed or the unit's code
StepResult EraseBlocks(WriteFramework& fw);      // Ok, Failed, EraseRefused51 or EraseRefused11
StepResult SelectProgramming(WriteFramework& fw);
StepResult ReadUnitChecksum(WriteFramework& fw);  // Ok, Failed or BadChecksum; sets CpuChecksumText

// "\r\n        %2.2X%2.2X%2.2X%2.2X (CPU)" with the four bytes of the unit's sum.
std::string FormatCpuChecksumText(std::span<const std::uint8_t, 4> sum);

// The image transfer with an image already read from SelectedFileName
// (TransferOptionImage reads it itself; WriteOptionUnit reads it before the
// first command so that a refused file stops the write before anything is
// sent). Sets ChecksumText from the image.
StepResult TransferOptionImage(WriteFramework& fw, const FirmwareImage& image);

}  // namespace qrb
