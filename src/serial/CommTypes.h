// Line settings of the serial component, shared by the component, its port
// backends and the write engine's line interface.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qrb {

enum class TCommParityBits : std::uint8_t { cpbNone = 0, cpbOdd = 1, cpbEven = 2 };
enum class TCommStopBits : std::uint8_t { csb1 = 0, csb1p5 = 1, csb2 = 2 };
enum class TCommFlowCtrls : std::uint8_t {
    cfcRtsCts = 0,
    cfcDtrDsr = 1,
    cfcXonXoff = 2,
    cfcHalfHigh = 3,
    cfcHalfLow = 4,
    cfcNone = 5,
};

// Failure of a port operation; carries only its message (UTF-8).
class ECommError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace qrb
