// The result of a step that talks to the radio. Steps never raise: they end
// with one of these, and the driver tells only success from failure. The
// values are those the radio's units and the front ends have always known;
// a code that the option unit sent in place of its ACK is carried as it came.
#pragma once

#include <cstdint>

namespace qrb {

enum class StepResult : int {
    Ok = 0,
    Failed = 1,              // no answer after the allowed sends, a wrong or refused answer, a stop
    NoReply = 2,             // the radio sent nothing in time
    EndNotAcknowledged = 3,  // the Slave CPU did not acknowledge the end frame
    EraseRefused51 = 5,      // the option unit answered an erase command with D8 51
    BadChecksum = 10,        // a whole reply whose check byte is wrong
    EraseRefused11 = 10,     // the option unit answered an erase command with D8 11
    NotBlank = 0x52,         // the option unit's memory is not blank: the erase runs
};

constexpr bool IsOk(StepResult result) {
    return result == StepResult::Ok;
}

// A status or error byte of the option unit as a step's result (0 is Ok).
constexpr StepResult UnitCode(std::uint8_t code) {
    return static_cast<StepResult>(code);
}

}  // namespace qrb
