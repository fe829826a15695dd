// The shortest time a write can take: a PC that spends no time of its own,
// talking to a unit with the simulator's reaction times over a line paced
// at 11 bits a byte and 38400 bit/s. The limit of a write is built by
// walking its exchange step by step, so it follows the path the run takes
// (which pauses overlap which bytes, which polls run), not a fitted formula.
//
// Times are milliseconds from the moment the PC received the ready byte.
#pragma once

namespace qrb::bench {

// 11 bits (start, 8 data, 2 stop) at 38400 bit/s.
inline constexpr double kByteMs = 11.0 * 1000.0 / 38400.0;

// How the unit reacts (the simulator's --echo-delay, --answer-delay, ...).
struct UnitTiming {
    double echoDelayMs = 0;    // from a byte's arrival to its echo
    double answerDelayMs = 0;  // from a command's last byte to its answer
    double enterDelayMs = 0;   // option unit: 40 until its ACK
    double eraseTimeMs = 0;    // option unit: erase command until its ACK
};

class IdealLine {
  public:
    explicit IdealLine(UnitTiming unit) : unit_(unit) {}

    // A fixed pause of the PC (a sleep of the protocol).
    void pause(double ms);
    // A wait that runs out without a byte: fixed like a pause.
    void timeOut(double ms) { pause(ms); }
    // `count` bytes queued one after the other, with `gapMs` of pause after
    // each; they reach the unit one byte time apart at the earliest.
    void send(int count, double gapMs = 0);
    // Until the echo of the last byte sent is in.
    void awaitEcho();
    // Until the unit's answer of `bytes` bytes to the last byte sent is in;
    // `delayMs` below 0 means the unit's usual answer delay.
    void awaitAnswer(int bytes, double delayMs = -1);
    // When such an answer would be complete (it is not awaited).
    double answerDoneAt(int bytes, double delayMs = -1) const;
    // Until `at`, if that is later than now.
    void waitUntil(double at);

    const UnitTiming& unit() const { return unit_; }
    double now() const { return now_; }
    // The part of now() spent in pauses and expired waits.
    double pausedMs() const { return paused_; }

  private:
    UnitTiming unit_;
    double now_ = 0;
    double paused_ = 0;
    double inputFreeAt_ = 0;   // PC to unit wire
    double outputFreeAt_ = 0;  // unit to PC wire (answers)
    double lastArrival_ = 0;   // the last byte sent reached the unit
};

// A limit and what it is made of.
struct WriteLimit {
    double totalMs = 0;
    double pausesMs = 0;    // the PC's fixed pauses and expired waits
    double lineMs = 0;      // line time that no pause covers
    double reactionMs = 0;  // the unit's echo and answer delays that no pause covers
};

// Master CPU: handshake, 1953 frames of 133 bytes each answered by 6 bytes,
// end command; from the ready byte received to the end command's echo.
WriteLimit MasterWriteLimit(const UnitTiming& unit);

// Option unit without ALL on a unit that is not blank: handshake, the
// parameter commands, programming state, base routine, blank check, the
// erase branch (7 blocks), programming routine, 752 block frames, end
// frame, status, sum, end command.
WriteLimit OptionUnitWriteLimit(const UnitTiming& unit);

}  // namespace qrb::bench
