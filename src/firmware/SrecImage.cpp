#include "firmware/SrecImage.h"

#include <cstdio>
#include <numeric>
#include <string_view>

#include "firmware/FirmwareError.h"
#include "firmware/HexField.h"
#include "firmware/TextLineReader.h"
#include "firmware/U_Decrypt.h"

namespace qrb {

namespace {

// Where the fields of a data record stand (0-based) and how many bytes of its
// count are not data: count 2 characters at 2, address at 4.
struct RecordLayout {
    std::size_t addressDigits;  // 4, 6 or 8
    int overhead;               // address bytes + checksum byte
};

const RecordLayout* layoutOf(std::string_view line) {
    static constexpr RecordLayout kS1{4, 3};
    static constexpr RecordLayout kS2{6, 4};
    static constexpr RecordLayout kS3{8, 5};
    if (line.starts_with("S1")) {
        return &kS1;
    }
    if (line.starts_with("S2")) {
        return &kS2;
    }
    if (line.starts_with("S3")) {
        return &kS3;
    }
    return nullptr;
}

std::string hexAddress(std::uint64_t address) {
    char text[24];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(address));
    return text;
}

[[noreturn]] void refuse(const TextLineReader& reader, int lineNumber, const std::string& what) {
    throw FileRefusedError(reader.fileName() + ", line " + std::to_string(lineNumber) + ": " +
                           what);
}

// Skips the header: lines up to the first one that contains "S0" (after
// decoding, for a line beginning "VS", which switches decoding on). Returns
// whether the file is encoded.
bool skipToRecords(TextLineReader& reader, int& keyIndex) {
    std::string line;
    bool encoded = false;
    while (line.find("S0") == std::string::npos) {
        if (!reader.readLine(line)) {
            refuse(reader, reader.lineNumber() + 1,
                   "the file ends before its records begin (no line containing \"S0\" or "
                   "beginning \"VS\")");
        }
        if (line.starts_with("VS")) {
            encoded = true;
            line = DecodeLine(line, keyIndex);
        }
    }
    return encoded;
}

// Writes the data bytes of one S1/S2/S3 record into the image.
void applyRecord(std::string_view line, const RecordLayout& layout, const TextLineReader& reader,
                 std::vector<std::uint8_t>& image) {
    const int count = static_cast<int>(ParseHexField(line, 2, 2));
    const std::uint64_t address = ParseHexField(line, 4, layout.addressDigits);
    const int dataBytes = count - layout.overhead;  // negative: no data
    if (dataBytes <= 0) {
        return;
    }
    const std::uint64_t end = address + static_cast<std::uint64_t>(dataBytes);
    if (end > image.size()) {
        const std::uint64_t firstOutside = address > image.size() ? address : image.size();
        refuse(reader, reader.lineNumber(),
               "record data at address " + hexAddress(firstOutside) + " lies outside the " +
                   std::to_string(image.size() / 1024) + " KiB image");
    }
    const std::size_t dataStart = 4 + layout.addressDigits;
    for (int k = 0; k < dataBytes; ++k) {
        image[address + static_cast<std::uint64_t>(k)] = static_cast<std::uint8_t>(
            ParseHexField(line, dataStart + 2 * static_cast<std::size_t>(k), 2));
    }
}

}  // namespace

FirmwareImage BuildSrecImage(const std::string& fileName, std::size_t imageSize, int& keyIndex) {
    FirmwareImage result;
    result.bytes.assign(imageSize, 0xFF);
    keyIndex = 0;
    TextLineReader reader(fileName);

    const bool encoded = skipToRecords(reader, keyIndex);
    std::string raw;
    std::string decoded;
    while (reader.readLine(raw)) {
        if (encoded) {
            decoded = DecodeLine(raw, keyIndex);
        }
        const std::string& line = encoded ? decoded : raw;
        if (const RecordLayout* layout = layoutOf(line)) {
            applyRecord(line, *layout, reader, result.bytes);
        }
    }
    result.checksum = std::accumulate(result.bytes.begin(), result.bytes.end(), std::uint32_t{0});
    return result;
}

std::string ChecksumText(std::uint32_t checksum) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%8.8X", static_cast<unsigned>(checksum));
    return std::string("CHECKSUM\r\n        ") + digits + " (PC)";
}

}  // namespace qrb
