#include "firmware/U_Decrypt.h"

namespace qrb {

std::string DecodeLine(std::string_view line, int& keyIndex) {
    // KeyIndex never leaves 0..42; a value from elsewhere is taken modulo the
    // key length rather than read outside the table.
    if (keyIndex < 0 || keyIndex >= kLineKeySize) {
        keyIndex = ((keyIndex % kLineKeySize) + kLineKeySize) % kLineKeySize;
    }
    std::string result;
    result.reserve(line.size());
    std::size_t start = 0;
    // The marker of an encoded file stands for the S0 record and is not encoded.
    if (line.starts_with("VS")) {
        result = "S0";
        start = 2;
    }
    for (std::size_t i = start; i < line.size(); ++i) {
        const auto code = static_cast<std::uint8_t>(line[i]);
        result.push_back(static_cast<char>(static_cast<std::uint8_t>(code - LineKey[keyIndex])));
        if (++keyIndex > kLineKeySize - 1) {
            keyIndex = 0;
        }
    }
    return result;
}

}  // namespace qrb
