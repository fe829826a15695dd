// Memory images built from S-record firmware files (Master CPU and option
// unit), with the checksum text shown to the person.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qrb {

inline constexpr std::size_t kMasterImageSize = std::size_t{256} * 1024;
inline constexpr std::size_t kOptionImageSize = std::size_t{128} * 1024;

struct FirmwareImage {
    std::vector<std::uint8_t> bytes;  // imageSize bytes, FF where no record wrote
    std::uint32_t checksum = 0;       // sum of all bytes
};

// Reads the file into an image of imageSize bytes. Sets keyIndex to 0 before
// opening the file; the decoder advances it. Throws FileAccessError,
// ConversionError or FileRefusedError.
FirmwareImage BuildSrecImage(const std::string& fileName, std::size_t imageSize, int& keyIndex);

// "CHECKSUM\r\n        %8.8X (PC)"
std::string ChecksumText(std::uint32_t checksum);

}  // namespace qrb
