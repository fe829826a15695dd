// The blocks each write sends, for comparing a unit's memory with the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

inline std::vector<int> MasterBlocksSent() {
    std::vector<int> blocks;
    for (int i = 160; i <= 2047; ++i)
        blocks.push_back(i);
    for (int i = 35; i <= 95; ++i)
        blocks.push_back(i);
    for (int i = 1; i <= 3; ++i)
        blocks.push_back(i);
    blocks.push_back(0);
    return blocks;
}

// Empty when every sent 128-byte block of memory equals the binary; else a
// description of the first difference.
inline std::string CompareSentBlocks(const std::vector<std::uint8_t>& memory,
                                     const std::vector<std::uint8_t>& binary,
                                     const std::vector<int>& blocks) {
    for (int block : blocks) {
        for (int k = 0; k < 128; ++k) {
            const std::size_t at =
                static_cast<std::size_t>(block) * 128 + static_cast<std::size_t>(k);
            if (at >= memory.size() || at >= binary.size()) {
                return "address " + std::to_string(at) + " outside the memory";
            }
            if (memory[at] != binary[at]) {
                return "block " + std::to_string(block) + " differs at address " +
                       std::to_string(at);
            }
        }
    }
    return {};
}

}  // namespace e2e
