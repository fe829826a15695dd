// Undoing PARMRK marking, also when a marking is split across reads.
#include <gtest/gtest.h>

#include <vector>

#include "serial/posix/ParmrkDecoder.h"

namespace qrb {
namespace {

struct DecodeCase {
    const char* name;
    std::vector<std::vector<std::uint8_t>> reads;
    std::vector<std::uint8_t> data;
    int breaks;
    int errors;
};

TEST(ParmrkDecoderTest, DecodesMarkedStreams) {
    const DecodeCase cases[] = {
        {"plain", {{0x41, 0x00, 0x42}}, {0x41, 0x00, 0x42}, 0, 0},
        {"escaped FF", {{0xFF, 0xFF, 0x01}}, {0xFF, 0x01}, 0, 0},
        {"break", {{0x41, 0xFF, 0x00, 0x00, 0x42}}, {0x41, 0x42}, 1, 0},
        {"error byte", {{0xFF, 0x00, 0x55}}, {0x55}, 0, 1},
        {"split FF FF", {{0x10, 0xFF}, {0xFF, 0x11}}, {0x10, 0xFF, 0x11}, 0, 0},
        {"split break", {{0xFF}, {0x00}, {0x00}}, {}, 1, 0},
        {"split error", {{0xFF, 0x00}, {0x7E}}, {0x7E}, 0, 1},
        {"two breaks", {{0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00}}, {}, 2, 0},
        {"unmarked FF kept", {{0xFF, 0x12}}, {0xFF, 0x12}, 0, 0},
        {"frame of FF fill", {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}, {0xFF, 0xFF, 0xFF}, 0, 0},
    };
    for (const DecodeCase& c : cases) {
        ParmrkDecoder decoder;
        std::deque<std::uint8_t> out;
        int breaks = 0;
        int errors = 0;
        for (const auto& read : c.reads) {
            const auto marks = decoder.decode(read.data(), read.size(), out);
            breaks += marks.breaks;
            errors += marks.errorBytes;
        }
        EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.end()), c.data) << c.name;
        EXPECT_EQ(breaks, c.breaks) << c.name;
        EXPECT_EQ(errors, c.errors) << c.name;
    }
}

TEST(ParmrkDecoderTest, ResetForgetsAHalfReadMarking) {
    ParmrkDecoder decoder;
    std::deque<std::uint8_t> out;
    const std::uint8_t first[] = {0xFF};
    decoder.decode(first, 1, out);
    decoder.reset();
    const std::uint8_t second[] = {0x00, 0x00};
    const auto marks = decoder.decode(second, 2, out);
    EXPECT_EQ(marks.breaks, 0);
    EXPECT_EQ(out.size(), 2u);
}

}  // namespace
}  // namespace qrb
