// Vocabulary of the radio simulator: simulated time, what a unit sends
// (bursts), the steps of the conversation that answers belong to, the
// violations a unit records, and the fault switches all units share.
//
//   Micros          simulated or monotonic time in microseconds
//   Burst           bytes a unit makes available to the PC together at `due`
//   Step            the kind of exchange an answer belongs to (fault targeting)
//   AnswerSelector  "the n-th answer of step S" (counted over the unit's life)
//   CommonFaults    faults every unit can show (silence, garbage, bad check
//                   byte, slow or split answers, wrong identification, a port
//                   that vanishes after frame k)
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qrb::sim {

using Micros = std::chrono::microseconds;

// One byte at 38400 bit/s with a start bit, 8 data bits and 2 stop bits.
inline constexpr Micros kByteTime38400{286};

enum class Unit : std::uint8_t { MasterCpu, SlaveCpu, OptionUnit };

enum class BurstKind : std::uint8_t {
    Ready,   // the ready byte 50 while the unit waits for a PC
    Echo,    // the line's echo of the PC's own bytes
    Answer,  // the unit's reply to a command
};

struct Burst {
    Micros due{0};
    std::vector<std::uint8_t> bytes;
    BurstKind kind = BurstKind::Answer;
    std::uint64_t sequence = 0;  // emission order; breaks ties between equal due times
};

// The exchanges whose answers faults can be aimed at.
enum class Step : std::uint8_t {
    Any,  // every answer except ready bytes
    Ready,
    Identification,
    MasterVersion,
    UnitVersion,
    SelectErase,
    Frame,  // Master CPU block frame, Slave CPU line frame, option unit block frame
    EndFrame,
    QueryProgrammingUnit,
    SelectDevice,
    SelectClockMode,
    SelectBitRate,
    ConfirmBitRate,
    EnterProgrammingState,
    Routine,
    QueryBootStatus,
    CheckBlank,
    EraseBlock,
    EraseEnd,
    SelectProgramming,
    ReadUnitChecksum,
};

// Name used on the simulator's command line and in reports ("frame",
// "check-blank", ...); parseStep() accepts the same names.
std::string_view stepName(Step step);
std::optional<Step> parseStep(std::string_view name);

inline constexpr int kEvery = -1;

// The answers number `first` .. `first + count - 1` of `step`, counted from 0
// over the unit's whole life (resends and new sessions keep counting);
// count kEvery means every answer from `first` on.
struct AnswerSelector {
    Step step = Step::Any;
    int first = 0;
    int count = 1;

    bool covers(Step answerStep, int occurrence) const {
        if (step != answerStep) {
            return false;
        }
        return occurrence >= first && (count == kEvery || occurrence < first + count);
    }
};

struct CommonFaults {
    // The unit stops answering at this answer and stays silent until its next
    // power-on: its answers are lost on the way, while it still carries out
    // what it receives (stores frames, erases, ...). The echo goes on (it is
    // the line's) unless silenceEcho is set.
    std::optional<AnswerSelector> silentFrom;
    // The same from frame k of a transfer on (counted from 0 in the session;
    // a resend keeps its number).
    std::optional<int> silentFromFrame;
    bool silenceEcho = false;

    // A garbage byte ahead of the answer, or in place of the whole answer.
    std::optional<AnswerSelector> garbageBefore;
    std::optional<AnswerSelector> garbageInstead;
    std::uint8_t garbageByte = 0x7E;

    // The answer's check byte is off by one (answers without one are kept).
    std::optional<AnswerSelector> badCheck;

    // The answer comes `slowBy` later than usual.
    std::optional<AnswerSelector> slow;
    Micros slowBy{600'000};

    // The answer is cut after `truncateTo` bytes.
    std::optional<AnswerSelector> truncate;
    int truncateTo = 1;

    // The answer is sent in two parts: its first `splitAfter` bytes, the
    // rest `splitGap` later.
    std::optional<AnswerSelector> split;
    int splitAfter = 1;
    Micros splitGap{3'000};

    // Replaces the unit's identification string (5 characters are sent;
    // shorter texts are padded with spaces).
    std::optional<std::string> identification;

    // The port vanishes once the answer to frame k of a transfer (counted
    // from 0 in the session, resends keep their number) has been sent.
    std::optional<int> vanishAfterFrame;
};

// Refuse frame `frame` of a transfer (counted from 0 in the session; a
// resend keeps its number) `times` times (kEvery: every time it comes).
struct FrameRefusal {
    int frame = 0;
    std::uint8_t code = 0x10;  // the Master CPU's error code; other units just refuse
    int times = 1;
};

struct Violation {
    Micros at{0};
    std::string what;
};

// "12.345678 s: what"
std::string formatViolation(const Violation& violation);

// Common settings of every unit.
struct RadioConfig {
    std::uint16_t version = 0x0100;  // the two version bytes, high byte first
    Micros echoDelay{300};           // from a byte's arrival to its echo
    Micros answerDelay{2'000};       // from the last byte of a command to the answer
    Micros readyInterval{300'000};   // between ready bytes while no PC has answered
    // Answer the identification command of another unit too (with this
    // unit's own string), as a radio that does not address its units would.
    bool answerForeignIdentification = false;
};

}  // namespace qrb::sim
