// Fuzz target: BuildSrecImage for both image sizes, over plain files and over
// files this target encodes itself (so that the decoder's path sees records
// that mean something). The result is compared with a straightforward
// reading of the record rules: the same image and checksum, or the same kind
// of refusal. The file is always readable, so FileAccessError, like any
// error other than the conversion error and the refusal, escapes as a finding.
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "firmware/FirmwareError.h"
#include "firmware/SrecImage.h"

namespace {

enum class Outcome { Image, ConversionError, Refused };

struct Expected {
    Outcome outcome = Outcome::Image;
    std::vector<std::uint8_t> image;
    std::string conversionMessage;  // for ConversionError
    int keyIndex = 0;               // after a complete reading
};

// Thrown inside the model only.
struct ModelStop {
    Outcome outcome;
    std::string message;
};

// The field as the message shows it: control bytes written as \xHH.
std::string Shown(std::string_view field) {
    std::string text;
    for (const char c : field) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        } else {
            text += c;
        }
    }
    return text;
}

std::uint64_t HexField(std::string_view line, std::size_t start, std::size_t digits) {
    const std::string_view field = start < line.size() ? line.substr(start, digits) : "";
    std::uint64_t value = 0;
    for (char c : field) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        if (digit < 0)
            break;
        value = value * 16 + static_cast<std::uint64_t>(digit);
        --digits;
    }
    if (digits != 0) {
        throw ModelStop{Outcome::ConversionError,
                        "'" + Shown(field) + "' is not a valid integer value"};
    }
    return value;
}

// One S1/S2/S3 record into the image: count, address, then the data bytes.
void ApplyRecord(std::string_view line, std::vector<std::uint8_t>& image) {
    const char type = line.size() >= 2 && line[0] == 'S' ? line[1] : '\0';
    if (type != '1' && type != '2' && type != '3')
        return;
    const std::size_t addressDigits = type == '1' ? 4 : type == '2' ? 6 : 8;
    const int overhead = type == '1' ? 3 : type == '2' ? 4 : 5;
    const int dataBytes = static_cast<int>(HexField(line, 2, 2)) - overhead;
    const std::uint64_t address = HexField(line, 4, addressDigits);
    if (dataBytes <= 0)
        return;
    if (address + static_cast<std::uint64_t>(dataBytes) > image.size())
        throw ModelStop{Outcome::Refused, {}};
    for (int k = 0; k < dataBytes; ++k) {
        image[address + static_cast<std::uint64_t>(k)] = static_cast<std::uint8_t>(
            HexField(line, 4 + addressDigits + 2 * static_cast<std::size_t>(k), 2));
    }
}

Expected ReadAsTheRulesSay(std::string_view content, std::size_t imageSize) {
    Expected expected;
    expected.image.assign(imageSize, 0xFF);
    const std::vector<std::string> lines = qrb::fuzz::ExpectedTextLines(content);
    try {
        // Header: up to the first line holding "S0"; a "VS" line is decoded
        // first and switches decoding on for every later line.
        std::size_t next = 0;
        bool encoded = false;
        bool recordsBegin = false;
        while (!recordsBegin) {
            if (next == lines.size())
                throw ModelStop{Outcome::Refused, {}};
            std::string line = lines[next++];
            if (line.starts_with("VS")) {
                encoded = true;
                line = qrb::fuzz::ReferenceDecode(line, expected.keyIndex);
            }
            recordsBegin = line.find("S0") != std::string::npos;
        }
        for (; next < lines.size(); ++next) {
            ApplyRecord(
                encoded ? qrb::fuzz::ReferenceDecode(lines[next], expected.keyIndex) : lines[next],
                expected.image);
        }
    } catch (const ModelStop& stop) {
        expected.outcome = stop.outcome;
        expected.conversionMessage = stop.message;
    }
    return expected;
}

// The producer's encoding: the first line beginning "S0" becomes the "VS"
// line and every later line is encoded in full. The content is taken as the
// lines a reader sees, so what the encoding produces stays what is read
// back, except for encoded bytes that happen to be 0A, 0D or 1A; those are
// kept, as a damaged file would have them.
std::string Encode(std::string_view plain) {
    std::string file;
    int keyIndex = 0;
    bool encoding = false;
    for (const std::string& line : qrb::fuzz::ExpectedTextLines(plain)) {
        if (encoding) {
            file += qrb::fuzz::ReferenceEncode(line, keyIndex);
        } else if (line.starts_with("S0")) {
            encoding = true;
            file += "VS" + qrb::fuzz::ReferenceEncode(std::string_view(line).substr(2), keyIndex);
        } else {
            file += line;
        }
        file += "\r\n";
    }
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static qrb::fuzz::ScratchFile file("srec-image");
    if (size == 0)
        return 0;
    // Option byte: bit 0 chooses the option unit's image over the Master
    // CPU's, bit 1 has the rest of the input encoded before it is read.
    const std::uint8_t options = data[0];
    const std::size_t imageSize = (options & 1) ? qrb::kOptionImageSize : qrb::kMasterImageSize;
    const std::string_view input = qrb::fuzz::AsText(data + 1, size - 1);
    const std::string content = (options & 2) ? Encode(input) : std::string(input);
    file.Write(content);

    const Expected expected = ReadAsTheRulesSay(content, imageSize);
    int keyIndex = 42;  // the builder must start from 0 whatever it was
    try {
        const qrb::FirmwareImage image = qrb::BuildSrecImage(file.Path(), imageSize, keyIndex);
        FUZZ_CHECK(expected.outcome == Outcome::Image, "an image where the file must fail");
        FUZZ_CHECK(image.bytes.size() == imageSize, "image size");
        FUZZ_CHECK(image.checksum ==
                       std::accumulate(image.bytes.begin(), image.bytes.end(), std::uint32_t{0}),
                   "checksum is the sum of the image bytes");
        FUZZ_CHECK(image.bytes == expected.image, "image bytes differ from the record rules");
        FUZZ_CHECK(keyIndex == expected.keyIndex, "key index after the file");
    } catch (const qrb::ConversionError& error) {
        FUZZ_CHECK(expected.outcome == Outcome::ConversionError, "unexpected conversion error");
        // Control bytes are written out, so the whole message reaches what().
        FUZZ_CHECK(error.what() == expected.conversionMessage, "conversion error message");
    } catch (const qrb::FileRefusedError& error) {
        FUZZ_CHECK(expected.outcome == Outcome::Refused, "unexpected refusal");
        FUZZ_CHECK(std::string_view(error.what()).starts_with(file.Path() + ", line "),
                   "a refusal names the file and the line");
    }
    return 0;
}
