// Base of the three unit models: a unit of the RQ-7300 seen from its serial
// line, bytes in and bytes out with delays. It owns what every unit does
// alike: the echo of every byte, the ready byte 50 until the PC answers A0,
// the identification answer, the end command 38 01 39, the scheduling of
// answers (with the common faults applied) and the record of violations.
//
// Use from a host (virtual line or pseudo-terminal):
//   model.powerOn(t);               // unit switched on: ready bytes begin
//   model.receive(byte, t);         // a byte from the PC arrives at t
//   model.nextDue();                // when the unit sends next (if ever)
//   model.takeDue(now);             // what it has sent by now, in order
// Nothing here throws or crashes on bad input: whatever is off the protocol
// is recorded in violations() and the unit carries on.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/SimTypes.h"

namespace qrb::sim {

// One frame as the unit received it.
struct FrameRecord {
    // Block number (Master CPU), address (option unit), line index (Slave CPU).
    std::uint32_t number = 0;
    Micros at{0};
    bool accepted = false;
};

// The refusal planned for frame `ordinal`, if one is left (each counts its
// uses in `used`, one entry per refusal); nullptr when the frame goes through.
const FrameRefusal* TakeRefusal(const std::vector<FrameRefusal>& refusals, std::vector<int>& used,
                                int ordinal);

// The numbers of the accepted frames, in the order they came.
std::vector<std::uint32_t> AcceptedNumbers(const std::vector<FrameRecord>& frames);

// How an answer goes out (see RadioModel::answer).
struct AnswerShape {
    Micros delay{-1};           // from the command's last byte; negative: answerDelay
    bool hasCheckByte = false;  // the last byte is a check byte (badCheck applies)
};

class RadioModel {
  public:
    virtual ~RadioModel() = default;
    RadioModel(const RadioModel&) = delete;
    RadioModel& operator=(const RadioModel&) = delete;

    Unit unit() const { return unit_; }
    // "master", "slave" or "olu6"
    const char* unitName() const;
    const RadioConfig& config() const { return config_; }

    // Switches the unit on (again): the session is forgotten (connection,
    // command in progress, pending output), memory and records are kept, and
    // the ready byte goes out every readyInterval from `at` on.
    void powerOn(Micros at);
    bool poweredOn() const { return poweredOn_; }

    // A byte from the PC that reaches the unit at `at` (never earlier than
    // the previous one).
    void receive(std::uint8_t byte, Micros at);

    // When the unit sends next: its scheduled output or its next ready byte.
    std::optional<Micros> nextDue() const;
    // Removes and returns everything due at or before `now`, in order.
    std::vector<Burst> takeDue(Micros now);
    // Output scheduled so far (ready bytes are made when due), in order.
    const std::deque<Burst>& scheduled() const { return output_; }

    const std::vector<Violation>& violations() const { return violations_; }
    std::vector<std::string> violationTexts() const;
    void recordViolation(Micros at, std::string what);

    bool connected() const { return connected_; }  // A0 came in this session
    int readyBytesSent() const { return readySent_; }
    int identificationsAnswered() const { return identificationsAnswered_; }
    // Version answers sent (E1 01 E2 on the Master CPU, 66 on the others).
    int versionAnswers() const { return versionAnswers_; }
    // The PC's 06 after a unit version answer (Slave CPU, option unit).
    int versionAcksReceived() const { return versionAcks_; }
    bool endCommandReceived() const { return endCommandAt_.has_value(); }
    std::optional<Micros> endCommandAt() const { return endCommandAt_; }
    // Set once the port is to vanish (CommonFaults::vanishAfterFrame): output
    // due up to this instant still reaches the PC, nothing sent from then on
    // reaches the unit.
    std::optional<Micros> vanishAt() const { return vanishAt_; }
    std::uint64_t bytesReceived() const { return bytesReceived_; }

  protected:
    RadioModel(Unit unit, RadioConfig config);

    static constexpr int kUnknownCommand = 0;
    static constexpr int kNeedMoreBytes = -1;

    // Total length of the unit-specific command that starts with `prefix`
    // (at least one byte), kNeedMoreBytes while that cannot be told yet, or
    // kUnknownCommand.
    virtual int commandLength(const std::vector<std::uint8_t>& prefix) const = 0;
    // A complete unit-specific command that reached the unit at `at`.
    virtual void handleCommand(const std::vector<std::uint8_t>& command, Micros at) = 0;
    // Forget the session (called by powerOn).
    virtual void resetSession() = 0;
    virtual const CommonFaults& commonFaults() const = 0;

    // Schedules an answer to a command that ended at `at`, after its echo,
    // with the common faults applied. Returns when the answer is due, or
    // nothing when the unit stays silent.
    std::optional<Micros> answer(Step step, std::vector<std::uint8_t> bytes, Micros at,
                                 AnswerShape shape = {});
    // The port vanishes once everything scheduled so far has been sent.
    void vanishAfterScheduledOutput();
    // Frame `frameOrdinal` of the transfer has come: fall silent if asked to.
    void frameArrived(int frameOrdinal);
    // Frame `frameOrdinal` of the transfer was answered: vanish if asked to.
    void checkVanish(int frameOrdinal);

    void violation(Micros at, std::string what) { recordViolation(at, std::move(what)); }
    void countVersionAnswer() { ++versionAnswers_; }
    std::uint16_t version() const { return config_.version; }

  private:
    void scheduleEcho(std::uint8_t byte, Micros at);
    void push(Burst burst);
    bool readyActive() const;
    void emitReadyBytesUntil(Micros now);
    int lengthOf(const std::vector<std::uint8_t>& prefix) const;
    void handleIdentification(const std::vector<std::uint8_t>& command, Micros at);
    std::vector<std::uint8_t> identificationAnswer() const;
    void handleUnitVersion(Micros at);
    void handleEnd(const std::vector<std::uint8_t>& command, Micros at);

    Unit unit_;
    RadioConfig config_;
    bool poweredOn_ = false;
    bool connected_ = false;
    bool silent_ = false;
    bool ended_ = false;
    Micros nextReadyAt_{0};
    Micros lastReceivedAt_{0};
    Micros lastAnswerDue_{0};
    std::vector<std::uint8_t> command_;
    std::deque<Burst> output_;
    std::uint64_t nextSequence_ = 0;
    std::map<Step, int> occurrences_;
    int answersSent_ = 0;
    int readySent_ = 0;
    int identificationsAnswered_ = 0;
    int versionAnswers_ = 0;
    int versionAcks_ = 0;
    bool versionAckAwaited_ = false;
    bool lastAnswerAltered_ = false;  // the last answer was bent by a fault
    std::uint64_t bytesReceived_ = 0;
    std::optional<Micros> endCommandAt_;
    std::optional<Micros> vanishAt_;
    std::vector<Violation> violations_;
};

// Check-byte arithmetic of the protocol, kept apart from the product's own.
std::uint8_t sum8(const std::uint8_t* bytes, std::size_t count);
inline std::uint8_t sum8(const std::vector<std::uint8_t>& bytes) {
    return sum8(bytes.data(), bytes.size());
}
// Appends the byte that makes the whole block sum to 0 modulo 256.
void appendZeroSum(std::vector<std::uint8_t>& bytes);
// Appends the sum of the bytes so far modulo 256.
void appendTrailingSum(std::vector<std::uint8_t>& bytes);
// "E0 83 00 A0"
std::string hexBytes(const std::uint8_t* bytes, std::size_t count);
inline std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
    return hexBytes(bytes.data(), bytes.size());
}

}  // namespace qrb::sim
