// Undoes the termios PARMRK marking of a received byte stream.
//
// With PARMRK set (and IGNPAR, IGNBRK, BRKINT clear) the terminal driver
// passes a data byte 0xFF as FF FF, a break as FF 00 00 and a byte received
// with a framing or parity error as FF 00 <byte>. The decoder turns a stream
// of such reads back into plain data plus counts of breaks and errors. A
// marking sequence may be split across reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

namespace qrb {

class ParmrkDecoder {
  public:
    struct Marks {
        int breaks = 0;
        int errorBytes = 0;
    };

    // Appends the data bytes of input to output; returns what was marked.
    Marks decode(const std::uint8_t* input, std::size_t size, std::deque<std::uint8_t>& output);
    // Forgets a half-read marking sequence (after a purge).
    void reset() { state_ = State::Data; }

  private:
    enum class State { Data, AfterFF, AfterFF00 };
    State state_ = State::Data;
};

}  // namespace qrb
