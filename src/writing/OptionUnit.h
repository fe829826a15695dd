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
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "firmware/SrecImage.h"
#include "writing/StoredRoutines.h"
#include "writing/WriteFramework.h"

namespace qrb {

// Closes the Slave CPU line transfer and the option unit image transfer: the
// address FFFFFFFF with no data, and its zero-sum check byte.
inline constexpr std::array<std::uint8_t, 6> EndFrame = {0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB4};

// CheckBlank's error code for "memory not blank": the erase branch runs.
inline constexpr int kNotBlankCode = 0x52;

// What a command step does with StopRequested (a Cancel pressed meanwhile).
enum class StopRule {
    EndsStep,           // read after each wait: the step returns 1
    PassesOn,           // read after the wait: the step returns 0, the next step sees it
    ClearedBeforeWait,  // set to 0 just before the wait: a Cancel up to there is lost
    NotRead,
};

// One command of the programming sequence and how it is exchanged.
struct CommandStep {
    std::string_view name;
    std::span<const std::uint8_t> command;  // sent back to back, check byte included
    int pauseBeforeMs;                      // sleep between clearing the count and sending
    int awaitedCount;                       // bytes WaitForReply waits for, echo included
    int firstByteTimeoutMs;                 // WaitForReply's limit before the first byte
    int maxSends;                           // sends before the step gives up
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
int RunAckCommand(WriteFramework& fw, const CommandStep& step);

int QueryProgrammingUnit(WriteFramework& fw);  // 0, 1 or 10
int SelectDevice(WriteFramework& fw);
int SelectClockMode(WriteFramework& fw);
int SelectBitRate(WriteFramework& fw);
int ConfirmBitRate(WriteFramework& fw);
int EnterProgrammingState(WriteFramework& fw);                      // 0, 1 or the unit's error code
int SendRoutine(WriteFramework& fw, const StoredRoutine& routine);  // 0 or 1
int QueryBootStatus(WriteFramework& fw);  // 0, 1 or the unit's status byte
int CheckBlank(WriteFramework& fw);       // 0 blank, kNotBlankCode, 1 or the unit's code
int EraseBlocks(WriteFramework& fw);      // 0, 1, 5 (error 51) or 10 (error 11)
int SelectProgramming(WriteFramework& fw);
int ReadUnitChecksum(WriteFramework& fw);  // 0, 1 or 10; sets fw.CpuChecksumText

// "\r\n        %2.2X%2.2X%2.2X%2.2X (CPU)" with the four bytes of the unit's sum.
std::string FormatCpuChecksumText(std::span<const std::uint8_t, 4> sum);

// The image transfer with an image already read from SelectedFileName
// (TransferOptionImage reads it itself; WriteOptionUnit reads it before the
// first command so that a refused file stops the write before anything is
// sent). Sets ChecksumText from the image.
int TransferOptionImage(WriteFramework& fw, const FirmwareImage& image);

}  // namespace qrb
