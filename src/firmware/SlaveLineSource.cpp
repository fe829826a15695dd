#include "firmware/SlaveLineSource.h"

#include "firmware/FirmwareError.h"
#include "firmware/TextLineReader.h"
#include "firmware/U_Decrypt.h"

namespace qrb {

namespace {

// The line frame carries the length in one byte.
constexpr std::size_t kLongestLine = 255;

}  // namespace

std::vector<std::string> ReadSlaveLines(const std::string& fileName, int& keyIndex) {
    keyIndex = 0;
    TextLineReader reader(fileName);
    std::vector<std::string> lines;
    bool decoding = false;
    std::string line;
    while (reader.readLine(line)) {
        // Lines without a colon are neither sent nor decoded; the raw line
        // decides, also whether a "VS" line switches decoding on.
        if (line.find(':') == std::string::npos) {
            continue;
        }
        if (line.starts_with("VS")) {
            decoding = true;
        }
        if (decoding) {
            line = DecodeLine(line, keyIndex);
        }
        if (line.size() > kLongestLine) {
            throw FileRefusedError(fileName + ", line " + std::to_string(reader.lineNumber()) +
                                   ": a line of " + std::to_string(line.size()) +
                                   " characters is too long to send (at most " +
                                   std::to_string(kLongestLine) + ")");
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace qrb
