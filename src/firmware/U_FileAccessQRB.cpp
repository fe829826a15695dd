#include "firmware/U_FileAccessQRB.h"

#include <string_view>

#include "firmware/TextLineReader.h"

namespace qrb {

namespace {

// The line where the records begin: an S0 record, the marker of an encoded
// file, the first record of an Intel HEX file, or "ALL" (write every area).
bool endsHeader(std::string_view line) {
    return line.starts_with("S0") || line.starts_with("VS") || line.starts_with(":02000004") ||
           line.starts_with("ALL");
}

}  // namespace

SflHeader ReadSflHeader(const std::string& fileName) {
    SflHeader header;
    TextLineReader reader(fileName);
    std::string line;
    while (reader.readLine(line)) {
        if (endsHeader(line)) {
            header.recordStartFound = true;
            header.WriteAllAreas = line.starts_with("ALL");
            break;
        }
        header.HeaderLines.push_back(line);
    }
    return header;
}

}  // namespace qrb
