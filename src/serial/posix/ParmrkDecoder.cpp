// Undoes the termios PARMRK marking of a received byte stream.
#include "serial/posix/ParmrkDecoder.h"

namespace qrb {

ParmrkDecoder::Marks ParmrkDecoder::decode(const std::uint8_t* input, std::size_t size,
                                           std::deque<std::uint8_t>& output) {
    Marks marks;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = input[i];
        switch (state_) {
            case State::Data:
                if (byte == 0xFF) {
                    state_ = State::AfterFF;
                } else {
                    output.push_back(byte);
                }
                break;
            case State::AfterFF:
                if (byte == 0xFF) {
                    output.push_back(0xFF);
                    state_ = State::Data;
                } else if (byte == 0x00) {
                    state_ = State::AfterFF00;
                } else {
                    // Not a marking the driver produces; keep both bytes as data.
                    output.push_back(0xFF);
                    output.push_back(byte);
                    state_ = State::Data;
                }
                break;
            case State::AfterFF00:
                if (byte == 0x00) {
                    ++marks.breaks;
                } else {
                    ++marks.errorBytes;
                    output.push_back(byte);
                }
                state_ = State::Data;
                break;
        }
    }
    return marks;
}

}  // namespace qrb
