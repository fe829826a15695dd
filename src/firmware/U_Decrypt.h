// The line decoder of encoded firmware files and its key table.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qrb {

inline constexpr int kLineKeySize = 43;

// Built into the program from the key file named at configure time.
extern const std::array<std::uint8_t, kLineKeySize> LineKey;

// Decodes one line as read (without its line end) and advances keyIndex by
// one per decoded character, wrapping from 42 to 0. A line beginning "VS"
// comes back beginning "S0", its first two characters not decoded.
std::string DecodeLine(std::string_view line, int& keyIndex);

}  // namespace qrb
