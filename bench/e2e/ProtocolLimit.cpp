// The protocol limits of the Master CPU and option-unit writes.
#include "ProtocolLimit.h"

#include <algorithm>

namespace qrb::bench {

void IdealLine::pause(double ms) {
    now_ += ms;
    paused_ += ms;
}

void IdealLine::send(int count, double gapMs) {
    for (int i = 0; i < count; ++i) {
        lastArrival_ = std::max(now_, inputFreeAt_) + kByteMs;
        inputFreeAt_ = lastArrival_;
        if (gapMs > 0) {
            pause(gapMs);
        }
    }
}

void IdealLine::awaitEcho() {
    waitUntil(lastArrival_ + unit_.echoDelayMs);
}

double IdealLine::answerDoneAt(int bytes, double delayMs) const {
    const double delay = delayMs < 0 ? unit_.answerDelayMs : delayMs;
    // The unit answers after the echo of the command's last byte, and one
    // answer after the other on its wire.
    const double due = lastArrival_ + std::max(delay, unit_.echoDelayMs);
    return std::max(due, outputFreeAt_) + bytes * kByteMs;
}

void IdealLine::awaitAnswer(int bytes, double delayMs) {
    const double done = answerDoneAt(bytes, delayMs);
    outputFreeAt_ = done;
    waitUntil(done);
}

void IdealLine::waitUntil(double at) {
    now_ = std::max(now_, at);
}

namespace {

constexpr int kMasterFrames = 1953;
constexpr int kOptionBlocks = 752;  // blocks 16 to 767: no ALL line
constexpr int kEraseCommands = 7;   // blocks 2 to 8: no ALL line

// Ready answer A0 and its echo, then the identification command and its
// 8-byte answer; the unit's version exchange follows per target.
void connectAndIdentify(IdealLine& line) {
    line.send(1);
    line.awaitEcho();
    line.send(4);
    line.awaitAnswer(8);
}

// 38 01 39 with 2 ms after each byte, then their echo.
void endCommand(IdealLine& line) {
    for (int i = 0; i < 3; ++i) {
        line.send(1);
        line.pause(2);
    }
    line.awaitEcho();
}

void masterWrite(IdealLine& line) {
    connectAndIdentify(line);
    line.send(3);  // E1 01 E2
    line.awaitAnswer(12);
    line.pause(50);
    for (int frame = 0; frame < kMasterFrames; ++frame) {
        line.send(133);
        line.pause(2);  // falls inside the frame's own line time
        line.awaitAnswer(6);
    }
    endCommand(line);
}

// The option unit's command family: a pause, the command, 2 ms, the answer.
void command(IdealLine& line, double pauseMs, int commandBytes, int answerBytes) {
    line.pause(pauseMs);
    line.send(commandBytes);
    line.pause(2);
    line.awaitAnswer(answerBytes);
}

// A stored routine: a pause, 3 ms after each byte, then the unit's ACK.
void routine(IdealLine& line, double pauseMs, int bytes) {
    line.pause(pauseMs);
    line.send(bytes, 3);
    line.awaitAnswer(1);
}

// 40, its echo, then polls of a 500 ms sleep and a 500 ms wait until the
// unit's ACK (it comes enterDelayMs after the 40).
void enterProgrammingState(IdealLine& line) {
    line.pause(10);
    line.send(1);
    line.pause(2);
    line.awaitEcho();
    const double ackAt = line.answerDoneAt(1, line.unit().enterDelayMs);
    for (int poll = 0; poll < 10; ++poll) {
        line.pause(500);
        if (ackAt <= line.now()) {
            return;
        }
        if (ackAt <= line.now() + 500) {
            line.waitUntil(ackAt);
            return;
        }
        line.timeOut(500);
    }
}

void optionUnitWrite(IdealLine& line) {
    connectAndIdentify(line);
    line.send(1);  // 66, its echo, the version answer; the PC's ACK and its echo
    line.awaitEcho();
    line.awaitAnswer(5);
    line.send(1);
    line.pause(2);
    line.awaitEcho();
    line.pause(50);

    command(line, 10, 1, 5);   // QueryProgrammingUnit 27
    command(line, 10, 7, 1);   // SelectDevice
    command(line, 10, 4, 1);   // SelectClockMode
    command(line, 10, 10, 1);  // SelectBitRate
    command(line, 50, 1, 1);   // ConfirmBitRate
    enterProgrammingState(line);
    routine(line, 10, 916);  // BaseRoutine
    line.pause(1000);
    command(line, 10, 1, 5);   // QueryBootStatus
    command(line, 10, 1, 2);   // CheckBlank: CD 52, not blank
    command(line, 10, 1, 5);   // QueryBootStatus
    command(line, 10, 1, 1);   // SelectErase
    routine(line, 100, 1260);  // EraseRoutine
    for (int block = 0; block < kEraseCommands; ++block) {
        line.send(4, 3);
        line.pause(1400);
        line.awaitAnswer(1, line.unit().eraseTimeMs);
    }
    line.send(4, 3);  // 58 01 FF A8
    line.awaitAnswer(1);
    line.pause(1000);
    command(line, 10, 1, 5);   // QueryBootStatus
    command(line, 10, 1, 1);   // SelectProgramming
    routine(line, 100, 1358);  // ProgramRoutine
    for (int block = 0; block < kOptionBlocks; ++block) {
        line.send(133, 4);
        line.pause(2);
        line.awaitEcho();
        line.send(1);  // the check byte, held back until the echo is in
        line.awaitAnswer(1);
    }
    line.send(6, 4);  // EndFrame
    line.awaitAnswer(1);
    command(line, 10, 1, 5);  // QueryBootStatus
    command(line, 10, 1, 7);  // ReadUnitChecksum
    endCommand(line);
}

// Walks a write twice, with and without the unit's echo and answer delays,
// to tell line time and reaction time apart.
WriteLimit limitOf(void (*write)(IdealLine&), const UnitTiming& unit) {
    IdealLine line(unit);
    write(line);
    UnitTiming instant = unit;
    instant.echoDelayMs = 0;
    instant.answerDelayMs = 0;
    IdealLine instantLine(instant);
    write(instantLine);

    WriteLimit limit;
    limit.totalMs = line.now();
    limit.pausesMs = line.pausedMs();
    limit.lineMs = instantLine.now() - instantLine.pausedMs();
    limit.reactionMs = line.now() - instantLine.now();
    return limit;
}

}  // namespace

WriteLimit MasterWriteLimit(const UnitTiming& unit) {
    return limitOf(&masterWrite, unit);
}

WriteLimit OptionUnitWriteLimit(const UnitTiming& unit) {
    return limitOf(&optionUnitWrite, unit);
}

}  // namespace qrb::bench
