// Master CPU firmware files for protocol tests: S-record text written here
// from a list of data runs, optionally encoded line by line with the built-in
// line key, and the 256 KiB image that the file stands for.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "firmware/U_Decrypt.h"

namespace qrb::test {

struct DataRun {
    std::uint32_t address;
    std::vector<std::uint8_t> bytes;
};

inline constexpr std::size_t kTestImageSize = 256 * 1024;

// A run of `count` bytes from `address` with a pattern that differs per
// address, so a block sent in the wrong place shows.
inline DataRun PatternRun(std::uint32_t address, std::size_t count, std::uint8_t salt = 0) {
    DataRun run{address, {}};
    run.bytes.reserve(count);
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint32_t at = address + static_cast<std::uint32_t>(k);
        run.bytes.push_back(static_cast<std::uint8_t>((at * 7u) ^ (at >> 8) ^ salt));
    }
    return run;
}

inline std::vector<std::uint8_t> ImageOf(const std::vector<DataRun>& runs) {
    std::vector<std::uint8_t> image(kTestImageSize, 0xFF);
    for (const DataRun& run : runs) {
        for (std::size_t k = 0; k < run.bytes.size(); ++k) {
            image.at(run.address + k) = run.bytes[k];
        }
    }
    return image;
}

inline std::uint32_t SumOf(const std::vector<std::uint8_t>& image) {
    std::uint32_t sum = 0;
    for (std::uint8_t b : image)
        sum += b;
    return sum;
}

// One S-record line: type 1, 2 or 3; count, address, data, one's complement sum.
inline std::string SRecord(int type, std::uint32_t address, const std::uint8_t* data,
                           std::size_t count) {
    const int addressBytes = type + 1;
    const int length = addressBytes + static_cast<int>(count) + 1;
    std::string line = "S" + std::to_string(type);
    char hex[3];
    unsigned sum = static_cast<unsigned>(length);
    std::snprintf(hex, sizeof hex, "%02X", length);
    line += hex;
    for (int i = addressBytes - 1; i >= 0; --i) {
        const unsigned b = (address >> (8 * i)) & 0xFFu;
        sum += b;
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    for (std::size_t k = 0; k < count; ++k) {
        sum += data[k];
        std::snprintf(hex, sizeof hex, "%02X", data[k]);
        line += hex;
    }
    std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFFu);
    line += hex;
    return line;
}

// Header text, an S0 line, the runs as S1/S2/S3 records of up to 32 bytes
// (the record type cycling, so all three are read), an S9 line.
inline std::vector<std::string> SRecordLines(const std::vector<DataRun>& runs) {
    std::vector<std::string> lines = {"RQ-7300 MAIN test firmware", "Version 9.99",
                                      "S00F000051524231313720544553549D"};
    int type = 1;
    for (const DataRun& run : runs) {
        for (std::size_t k = 0; k < run.bytes.size(); k += 32) {
            const std::size_t count = std::min<std::size_t>(32, run.bytes.size() - k);
            const std::uint32_t address = run.address + static_cast<std::uint32_t>(k);
            const int usable =
                address > 0xFFFFFF ? 3 : (address > 0xFFFF ? std::max(type, 2) : type);
            lines.push_back(SRecord(usable, address, run.bytes.data() + k, count));
            type = type % 3 + 1;
        }
    }
    lines.push_back("S9030000FC");
    return lines;
}

// The producer's side of the line decoder: every character from the third
// of the S0 line on is shifted up by the key, the key running on over lines.
inline std::vector<std::string> EncodeLines(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    std::size_t j = 0;
    bool encoding = false;
    for (const std::string& line : lines) {
        if (!encoding && line.rfind("S0", 0) != 0) {
            out.push_back(line);
            continue;
        }
        std::string encoded = encoding ? "" : "VS";
        for (std::size_t c = encoding ? 0 : 2; c < line.size(); ++c) {
            const auto plain = static_cast<std::uint8_t>(line[c]);
            encoded +=
                static_cast<char>(static_cast<std::uint8_t>(plain + LineKey[j % kLineKeySize]));
            ++j;
        }
        encoding = true;
        out.push_back(encoded);
    }
    return out;
}

// The encoding must not produce a byte that splits or ends a line; tests
// that encode check it with this.
inline bool IsReadableAsLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        for (char c : line) {
            if (c == '\n' || c == '\r' || c == '\x1a')
                return false;
        }
    }
    return true;
}

inline std::string WriteLines(const std::filesystem::path& path,
                              const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary);
    for (const std::string& line : lines)
        out << line << "\r\n";
    return path.string();
}

}  // namespace qrb::test
