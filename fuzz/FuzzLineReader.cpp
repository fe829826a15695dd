// Fuzz target: TextLineReader over arbitrary file contents. The lines it
// gives must be exactly those of the text-line rules; an option byte can put
// the input just behind a long first stretch, so that line ends, CR LF pairs
// and 1A bytes fall on the reader's chunk boundary.
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "firmware/TextLineReader.h"

namespace {

// The reader fills its buffer 256 KiB at a time.
constexpr std::size_t kReaderChunk = 256 * 1024;

// Option byte: bit 0 puts a filler of (chunk - bits 2..7) bytes in front,
// bit 1 ends the filler with a line feed (otherwise the filler and the first
// input line are one line).
std::string FileContent(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return {};
    const std::uint8_t options = data[0];
    const std::string_view input = qrb::fuzz::AsText(data + 1, size - 1);
    if ((options & 1) == 0)
        return std::string(input);
    std::string content(kReaderChunk - (options >> 2), 'F');
    if (options & 2)
        content.back() = '\n';
    content += input;
    return content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static qrb::fuzz::ScratchFile file("line-reader");
    const std::string content = FileContent(data, size);
    file.Write(content);
    const std::vector<std::string> expected = qrb::fuzz::ExpectedTextLines(content);

    qrb::TextLineReader reader(file.Path());
    std::vector<std::string> lines;
    std::string line;
    while (!reader.atEnd()) {
        FUZZ_CHECK(reader.readLine(line), "a line must follow when atEnd() is false");
        lines.push_back(line);
        FUZZ_CHECK(reader.lineNumber() == static_cast<int>(lines.size()),
                   "lineNumber() counts the lines read");
        FUZZ_CHECK(lines.size() <= expected.size(), "more lines than the file holds");
    }
    FUZZ_CHECK(!reader.readLine(line) && line.empty(), "readLine after the end gives nothing");
    FUZZ_CHECK(lines == expected, "lines differ from the text-line rules");
    return 0;
}
