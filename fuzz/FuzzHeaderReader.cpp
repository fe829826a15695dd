// Fuzz target: ReadSflHeader over arbitrary file contents. The header is the
// run of lines before the first one beginning "S0", "VS", ":02000004" or
// "ALL"; that line decides the result and the write-all flag. The file is
// readable, so any error at all is a finding.
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "firmware/U_FileAccessQRB.h"

namespace {

bool EndsHeader(std::string_view line) {
    for (std::string_view start : {"S0", "VS", ":02000004", "ALL"}) {
        if (line.substr(0, start.size()) == start)
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static qrb::fuzz::ScratchFile file("header-reader");
    const std::string_view content = qrb::fuzz::AsText(data, size);
    file.Write(content);

    qrb::SflHeader expected;
    for (std::string& line : qrb::fuzz::ExpectedTextLines(content)) {
        if (EndsHeader(line)) {
            expected.recordStartFound = true;
            expected.WriteAllAreas = line.starts_with("ALL");
            break;
        }
        expected.HeaderLines.push_back(std::move(line));
    }

    const qrb::SflHeader header = qrb::ReadSflHeader(file.Path());
    FUZZ_CHECK(header.recordStartFound == expected.recordStartFound, "record start found");
    FUZZ_CHECK(header.WriteAllAreas == expected.WriteAllAreas, "WriteAllAreas");
    FUZZ_CHECK(header.HeaderLines == expected.HeaderLines, "header lines");
    return 0;
}
