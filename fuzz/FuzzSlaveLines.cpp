// Fuzz target: ReadSlaveLines over arbitrary file contents. The lines must be
// exactly those holding a ':', decoded from the first such line beginning
// "VS" on, and a line of 256 characters or more must refuse the file. Any
// other error (FileAccessError included: the file is readable) is a finding.
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "firmware/FirmwareError.h"
#include "firmware/SlaveLineSource.h"

namespace {

struct Expected {
    bool refused = false;
    std::vector<std::string> lines;
    int keyIndex = 0;
};

Expected ReadAsTheRulesSay(std::string_view content) {
    Expected expected;
    bool decoding = false;
    for (std::string& line : qrb::fuzz::ExpectedTextLines(content)) {
        if (line.find(':') == std::string::npos)
            continue;
        decoding = decoding || line.starts_with("VS");
        if (decoding)
            line = qrb::fuzz::ReferenceDecode(line, expected.keyIndex);
        if (line.size() >= 256) {
            expected.refused = true;
            return expected;
        }
        expected.lines.push_back(std::move(line));
    }
    return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static qrb::fuzz::ScratchFile file("slave-lines");
    const std::string_view content = qrb::fuzz::AsText(data, size);
    file.Write(content);

    const Expected expected = ReadAsTheRulesSay(content);
    int keyIndex = 17;  // the reader must start from 0 whatever it was
    try {
        const std::vector<std::string> lines = qrb::ReadSlaveLines(file.Path(), keyIndex);
        FUZZ_CHECK(!expected.refused, "a line too long to send was accepted");
        FUZZ_CHECK(lines == expected.lines, "lines differ from the line rules");
        FUZZ_CHECK(keyIndex == expected.keyIndex, "key index after the file");
    } catch (const qrb::FileRefusedError& error) {
        FUZZ_CHECK(expected.refused, "a file refused without a long line");
        FUZZ_CHECK(std::string_view(error.what()).starts_with(file.Path() + ", line "),
                   "a refusal names the file and the line");
    }
    return 0;
}
