// The three stored routines of the option unit: program blocks that the PC
// loads into the unit before it is checked, erased and programmed. They are
// built into the program from the folder named at configure time and sent
// as they stand, never looked into.
//
// Form of each block: a 4-byte length L (high byte first), L bytes of
// program, a check byte that makes the whole block sum to 0 modulo 256.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string_view>

namespace qrb {

struct StoredRoutine {
    std::string_view name;
    std::span<const std::uint8_t> bytes;             // the whole block, as sent
    std::chrono::milliseconds pauseBeforeFirstByte;  // the unit needs time after the step before
};

StoredRoutine BaseRoutine();     // sent after EnterProgrammingState
StoredRoutine EraseRoutine();    // sent after SelectErase
StoredRoutine ProgramRoutine();  // sent after SelectProgramming

namespace embedded {
// Defined in the source generated at build time (EmbedRoutines.cmake).
extern const std::span<const std::uint8_t> BaseRoutine;
extern const std::span<const std::uint8_t> EraseRoutine;
extern const std::span<const std::uint8_t> ProgramRoutine;
}  // namespace embedded

}  // namespace qrb
