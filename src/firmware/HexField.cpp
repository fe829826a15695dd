#include "firmware/HexField.h"

#include <string>

#include "firmware/FirmwareError.h"

namespace qrb {

namespace {

// The field as it stands, but a control byte (a NUL would cut the message
// short wherever it is shown) written as \xHH.
std::string Printable(std::string_view field) {
    std::string text;
    for (const char c : field) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            static const char kHex[] = "0123456789ABCDEF";
            text += "\\x";
            text += kHex[byte >> 4];
            text += kHex[byte & 0xF];
        } else {
            text += c;
        }
    }
    return text;
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

std::uint64_t ParseHexField(std::string_view line, std::size_t start, std::size_t digits) {
    // A line that ends inside the field leaves only part of it (maybe none);
    // that part is what the message shows.
    const std::string_view field = start < line.size() ? line.substr(start, digits) : "";
    std::uint64_t value = 0;
    bool valid = field.size() == digits;
    for (std::size_t i = 0; valid && i < field.size(); ++i) {
        const int digit = hexDigitValue(field[i]);
        valid = digit >= 0;
        value = value * 16 + static_cast<std::uint64_t>(digit < 0 ? 0 : digit);
    }
    if (!valid) {
        throw ConversionError("'" + Printable(field) + "' is not a valid integer value");
    }
    return value;
}

}  // namespace qrb
