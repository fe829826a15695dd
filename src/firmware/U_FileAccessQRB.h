// The firmware file header reader.
#pragma once

#include <string>
#include <vector>

namespace qrb {

struct SflHeader {
    bool recordStartFound = false;         // the result of ReadSflHeader
    std::vector<std::string> HeaderLines;  // the header lines in file order
    bool WriteAllAreas = false;            // the header ended in a line beginning "ALL"
};

// Reads the header of the file (opened as named, relative to the current
// directory). Throws FileAccessError when the file cannot be opened or read.
SflHeader ReadSflHeader(const std::string& fileName);

}  // namespace qrb
