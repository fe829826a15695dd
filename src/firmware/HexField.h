// Hexadecimal fields of record lines, read the way the record readers read
// them: digits in either letter case, nothing else allowed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qrb {

// The value of the digits characters at start (0-based) of line. Throws
// ConversionError "'<field>' is not a valid integer value" with the field's
// text as it stands in the line, when a character is not a hex digit or the
// line ends inside the field.
std::uint64_t ParseHexField(std::string_view line, std::size_t start, std::size_t digits);

}  // namespace qrb
