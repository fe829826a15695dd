// sfl-make-samples PLAIN_DIR SOURCE_DIR: writes the demo firmware files.
// PLAIN_DIR receives the plain samples; SOURCE_DIR the plain sources of the
// encoded samples, which data/samples/make-samples.sh then runs through
// sfl-encode. The content is random but fixed (seeded), so the files come out
// the same on every run with the same line key.
//
// The Slave CPU reader picks its lines by a ':' in the encoded text, so the
// source of the encoded Slave file is laid out for the built-in key: record
// lengths (and, where none fits, the data) are chosen so that every encoded
// line keeps a ':' and no byte that the line reading would not keep.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/U_Decrypt.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

std::string hex2(unsigned value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

// type 0 or 1: 2 address bytes; 2: 3; 3: 4.
std::string srecLine(int type, std::uint32_t address, const Bytes& data) {
    const int addressBytes = type == 0 ? 2 : type + 1;
    const unsigned count = static_cast<unsigned>(addressBytes + data.size() + 1);
    // Appended piece by piece: g++ 12 at -O3 warns (-Wrestrict, a false
    // positive) on a literal + std::string chain here.
    std::string line = "S";
    line += std::to_string(type);
    line += hex2(count);
    unsigned sum = count;
    for (int i = addressBytes - 1; i >= 0; --i) {
        line += hex2(address >> (8 * i));
        sum += (address >> (8 * i)) & 0xFF;
    }
    for (std::uint8_t b : data) {
        line += hex2(b);
        sum += b;
    }
    return line + hex2(~sum);
}

std::string srecHeaderRecord(std::string_view text) {
    return srecLine(0, 0, Bytes(text.begin(), text.end()));
}

std::string ihexLine(unsigned type, unsigned address, const Bytes& data) {
    std::string line = ":";
    line += hex2(static_cast<unsigned>(data.size()));
    line += hex2(address >> 8);
    line += hex2(address);
    line += hex2(type);
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + address + type;
    for (std::uint8_t b : data) {
        line += hex2(b);
        sum += b;
    }
    return line + hex2(0x100 - (sum & 0xFF));
}

class Random {
  public:
    explicit Random(std::uint32_t seed) : engine_(seed) {}
    Bytes bytes(std::size_t count) {
        Bytes out(count);
        for (auto& b : out) {
            b = static_cast<std::uint8_t>(engine_() >> 24);
        }
        return out;
    }

  private:
    std::mt19937 engine_;
};

void writeFile(const std::string& path, const Lines& lines) {
    std::ofstream out(path, std::ios::binary);
    for (const std::string& line : lines) {
        out << line << "\r\n";
    }
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path);
    }
}

// Header lines as a producer writes them; none holds "S0" or a ':'.
Lines header(const std::string& title, const std::string& fileName, const std::string& version) {
    Lines lines = {title, "FILE     = " + fileName, "VERSION  = " + version,
                   "RELEASED = 2024-03-05",
                   "CHECK THE CHECKSUM SHOWN AFTER WRITING AGAINST THE RELEASE NOTE."};
    for (const std::string& l : lines) {
        if (l.find("S0") != std::string::npos || l.find(':') != std::string::npos) {
            throw std::logic_error("header line would be read as a record: " + l);
        }
    }
    return lines;
}

// S-record file: image bytes from first to last (exclusive) in 32-byte S2 records.
Lines srecFile(Lines lines, std::string_view s0Text, const Bytes& image, std::uint32_t first,
               std::uint32_t last) {
    lines.push_back(srecHeaderRecord(s0Text));
    for (std::uint32_t a = first; a < last; a += 32) {
        lines.push_back(srecLine(2, a, Bytes(image.begin() + a, image.begin() + a + 32)));
    }
    lines.push_back("S804000000FB");
    return lines;
}

// Whether a line, encoded from key position j, keeps a ':' and only bytes
// that the line reading keeps. marker: the line begins "S0" and becomes "VS".
bool encodesWell(std::string_view line, int j, bool marker) {
    bool colon = false;
    for (std::size_t i = marker ? 2 : 0; i < line.size(); ++i, ++j) {
        const auto byte = static_cast<std::uint8_t>(static_cast<std::uint8_t>(line[i]) +
                                                    qrb::LineKey[j % qrb::kLineKeySize]);
        if (byte == 0x0A || byte == 0x0D || byte == 0x1A) {
            return false;
        }
        if (i == 0 && byte == 'V') {
            return false;  // might begin "VS" and be taken for the marker
        }
        colon = colon || byte == ':';
    }
    return colon;
}

// The plain source of the encoded Slave file, laid out for the built-in key.
Lines slaveSourceForEncoding(Lines lines, std::size_t dataBytes, Random& random) {
    const std::string extendedAddress = ihexLine(4, 0, {0x00, 0x00});
    const std::string endOfFile = ihexLine(1, 0, {});
    // The S0 line: a name, a tag and padding chosen so that it and the record
    // after it encode well.
    std::string marker;
    for (int pad = 0; marker.empty() && pad < qrb::kLineKeySize; ++pad) {
        for (int tag = 0; marker.empty() && tag < 1000; ++tag) {
            const std::string candidate =
                "S0:TN508001_S_V0102." + std::to_string(tag) + std::string(pad, '.');
            const int next = static_cast<int>(candidate.size()) - 2;
            if (encodesWell(candidate, 0, true) && encodesWell(extendedAddress, next, false)) {
                marker = candidate;
            }
        }
    }
    if (marker.empty()) {
        throw std::runtime_error("no S0 line fits this key");
    }
    lines.push_back(marker);
    lines.push_back(extendedAddress);
    int j = static_cast<int>(marker.size() - 2 + extendedAddress.size());

    unsigned address = 0;
    while (address < dataBytes) {
        std::string chosen;
        for (int attempt = 0; chosen.empty(); ++attempt) {
            if (attempt > 1000) {
                throw std::runtime_error("no record fits this key");
            }
            const Bytes data = random.bytes(16);
            const std::size_t left = dataBytes - address;
            for (std::size_t length = std::min<std::size_t>(16, left); length > 0; --length) {
                const std::string line =
                    ihexLine(0, address, Bytes(data.begin(), data.begin() + length));
                const int after = j + static_cast<int>(line.size());
                const bool last = length == left;
                if (encodesWell(line, j, false) &&
                    (!last || encodesWell(endOfFile, after, false))) {
                    chosen = line;
                    break;
                }
            }
        }
        lines.push_back(chosen);
        j += static_cast<int>(chosen.size());
        address += std::stoul(chosen.substr(1, 2), nullptr, 16);
    }
    lines.push_back(endOfFile);
    return lines;
}

Lines slavePlain(Lines lines, std::size_t dataBytes, Random& random) {
    lines.push_back(ihexLine(4, 0, {0x00, 0x00}));
    const Bytes image = random.bytes(dataBytes);
    for (unsigned a = 0; a < dataBytes; a += 16) {
        lines.push_back(ihexLine(0, a, Bytes(image.begin() + a, image.begin() + a + 16)));
    }
    lines.push_back(ihexLine(1, 0, {}));
    return lines;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: sfl-make-samples PLAIN_DIR SOURCE_DIR\n", stderr);
        return 2;
    }
    const std::string plainDir = argv[1];
    const std::string sourceDir = argv[2];
    try {
        Random random(7300);
        constexpr std::uint32_t kMaster = 256 * 1024;
        constexpr std::uint32_t kOption = 128 * 1024;
        constexpr std::size_t kSlaveBytes = std::size_t{1000} * 16;

        const Bytes master1 = random.bytes(kMaster);
        writeFile(plainDir + "/TN508001_M_V0101.SFL",
                  srecFile(header("RQ-7300 MASTER CPU FIRMWARE", "TN508001_M_V0101.SFL", "1.01"),
                           "TN508001_M_V0101", master1, 0, kMaster));
        const Bytes master2 = random.bytes(kMaster);
        writeFile(sourceDir + "/TN508001_M_V0102.SFL",
                  srecFile(header("RQ-7300 MASTER CPU FIRMWARE", "TN508001_M_V0102.SFL", "1.02"),
                           "TN508001_M_V0102", master2, 0, kMaster));

        // Without "ALL" only 800..17FFF is written, so that is all the file holds.
        const Bytes option5 = random.bytes(kOption);
        writeFile(plainDir + "/TQX37_V0105.SFL",
                  srecFile(header("OLU-6 OPTION UNIT FIRMWARE", "TQX37_V0105.SFL", "1.05"),
                           "TQX37_V0105", option5, 0x800, 0x18000));
        Lines withAll = header("OLU-6 OPTION UNIT FIRMWARE", "TQX37_V0106.SFL", "1.06");
        withAll.push_back("ALL");
        const Bytes option6 = random.bytes(kOption);
        writeFile(sourceDir + "/TQX37_V0106.SFL",
                  srecFile(withAll, "TQX37_V0106", option6, 0, kOption));

        writeFile(plainDir + "/TN508001_S_V0101.SFL",
                  slavePlain(header("RQ-7300 SLAVE CPU FIRMWARE", "TN508001_S_V0101.SFL", "1.01"),
                             kSlaveBytes, random));
        writeFile(sourceDir + "/TN508001_S_V0102.SFL",
                  slaveSourceForEncoding(
                      header("RQ-7300 SLAVE CPU FIRMWARE", "TN508001_S_V0102.SFL", "1.02"),
                      kSlaveBytes, random));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sfl-make-samples: %s\n", e.what());
        return 1;
    }
    return 0;
}
