// Option unit firmware files and the byte sequence a whole option unit write
// sends, written here from the protocol tables, for the option unit tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "MasterCpuFiles.h"
#include "TargetTestBench.h"
#include "sim/OptionUnitModel.h"
#include "writing/StoredRoutines.h"

namespace qrb::test {

inline constexpr std::size_t kOptionTestImageSize = 128 * 1024;

struct OptionFile {
    std::string path;
    std::vector<std::uint8_t> image;  // 128 KiB the file stands for
};

// Data in every part of the image: the two blocks below 800, the program
// area and the top, so a transfer that sends the wrong blocks shows.
inline std::vector<DataRun> OptionRuns() {
    return {PatternRun(0x0000, 0x300, 1),   PatternRun(0x0800, 0x9000, 2),
            PatternRun(0x10000, 0x2345, 3), PatternRun(0x17F00, 0x100, 4),
            PatternRun(0x18000, 0x80, 5),   PatternRun(0x1FF80, 0x80, 6)};
}

inline OptionFile WriteOptionFile(const TempFolder& folder, const std::string& name,
                                  const std::vector<DataRun>& runs, bool allLine, bool encoded) {
    std::vector<std::string> lines = SRecordLines(runs);
    if (encoded)
        lines = EncodeLines(lines);
    if (allLine) {
        // The header ends with "ALL"; the records begin at the S0/VS line.
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].rfind("S0", 0) == 0 || lines[i].rfind("VS", 0) == 0) {
                lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i), "ALL");
                break;
            }
        }
    }
    OptionFile file;
    file.path = WriteLines(folder.path() / name, lines);
    file.image = ImageOf(runs);
    file.image.resize(kOptionTestImageSize);
    return file;
}

inline std::string Hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

inline void Append(Bytes& to, const Bytes& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}
inline void Append(Bytes& to, std::span<const std::uint8_t> bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

// 50, address high byte first, the block's 128 bytes, zero-sum check byte.
inline Bytes BlockFrameOf(const std::vector<std::uint8_t>& image, std::uint32_t address) {
    Bytes frame = {0x50, static_cast<std::uint8_t>(address >> 24),
                   static_cast<std::uint8_t>(address >> 16),
                   static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    unsigned sum = 0x50 + (address >> 24) + ((address >> 16) & 0xFF) + ((address >> 8) & 0xFF) +
                   (address & 0xFF);
    for (std::uint32_t k = 0; k < 128; ++k) {
        frame.push_back(image[address + k]);
        sum += image[address + k];
    }
    frame.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    return frame;
}

inline const Bytes kOptionEndFrame = {0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB4};

// Everything the PC sends in a successful option unit write, after the
// handshake: parameters, programming state, routines, checks, erasing when
// the unit is not blank, the blocks, the end frame, the sum, the end command.
inline Bytes ExpectedOptionWrite(const std::vector<std::uint8_t>& image, bool blank,
                                 bool allAreas) {
    Bytes bytes = {0x27, 0x10, 0x04, 0x30, 0x31, 0x30, 0x31, 0x2A, 0x11, 0x01, 0x00, 0xEE,
                   0x3F, 0x07, 0x00, 0x30, 0x06, 0x90, 0x01, 0x01, 0x01, 0xF1, 0x06, 0x40};
    Append(bytes, BaseRoutine().bytes);
    Append(bytes, Bytes{0x4F, 0x4D});
    if (!blank) {
        Append(bytes, Bytes{0x4F, 0x48});
        Append(bytes, EraseRoutine().bytes);
        for (int n = allAreas ? 0 : 2; n <= (allAreas ? 9 : 8); ++n)
            Append(bytes, Bytes{0x58, 0x01, static_cast<std::uint8_t>(n),
                                static_cast<std::uint8_t>(0xA7 - n)});
        Append(bytes, Bytes{0x58, 0x01, 0xFF, 0xA8});
    }
    Append(bytes, Bytes{0x4F, 0x43});
    Append(bytes, ProgramRoutine().bytes);
    for (std::uint32_t block = allAreas ? 0 : 16; block <= (allAreas ? 1023u : 767u); ++block)
        Append(bytes, BlockFrameOf(image, block * 128));
    Append(bytes, kOptionEndFrame);
    Append(bytes, Bytes{0x4F, 0x4B, 0x38, 0x01, 0x39});
    return bytes;
}

using OptionBench = TargetBench<sim::OptionUnitModel>;

inline sim::OptionUnitConfig BlankUnit() {
    sim::OptionUnitConfig config;
    config.blank = true;
    return config;
}

}  // namespace qrb::test
