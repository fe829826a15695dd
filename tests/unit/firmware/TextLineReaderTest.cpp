#include "firmware/TextLineReader.h"

#include <gtest/gtest.h>

#include "TempFiles.h"
#include "firmware/FirmwareError.h"

namespace qrb {
namespace {

std::vector<std::string> readLines(const std::string& path) {
    TextLineReader reader(path);
    std::vector<std::string> lines;
    std::string line;
    while (reader.readLine(line)) {
        lines.push_back(line);
        EXPECT_EQ(reader.lineNumber(), static_cast<int>(lines.size()));
    }
    EXPECT_TRUE(reader.atEnd());
    EXPECT_FALSE(reader.readLine(line)) << "a second end must still be the end";
    return lines;
}

struct LineCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
};

TEST(TextLineReader, SplitsLinesByTheTextFileRules) {
    using namespace std::string_literals;
    const std::vector<LineCase> cases = {
        {"empty file", "", {}},
        {"no final line end", "abc", {"abc"}},
        {"final LF adds no empty line", "abc\n", {"abc"}},
        {"CR LF and LF", "a\r\nb\nc", {"a", "b", "c"}},
        {"empty lines kept", "\n\r\n\n", {"", "", ""}},
        {"lone CR dropped in the middle", "ab\rcd\r\n", {"abcd"}},
        {"lone CR as the whole file", "\r", {""}},
        {"CR CR LF", "x\r\r\ny", {"x", "y"}},
        {"1A ends the file mid-line",
         "S1\x1A"
         "ignored\nmore",
         {"S1"}},
        {"1A right after a line end", "a\n\x1A\nb", {"a"}},
        {"1A first",
         "\x1A"
         "abc",
         {}},
        {"8-bit characters kept", "\xFF\x80\x00z"s, {"\xFF\x80\x00z"s}},
    };
    test::TempDir dir;
    for (const LineCase& c : cases) {
        EXPECT_EQ(readLines(dir.write("f.txt", c.bytes)), c.lines) << c.name;
    }
}

TEST(TextLineReader, LinesLongerThanAnyBufferAndBreaksAcrossChunks) {
    test::TempDir dir;
    // Lines and CR LF pairs that straddle the reader's chunk boundaries.
    std::string text;
    std::vector<std::string> expected;
    for (int i = 0; i < 40; ++i) {
        expected.push_back(std::string(static_cast<std::size_t>(4093 + i * 9973), 'A' + i % 26));
        text += expected.back() + "\r\n";
    }
    expected.push_back(std::string(1 << 20, 'Z'));  // one megabyte in a single line
    text += expected.back() + "\x1A" + std::string(70000, 'q');
    EXPECT_EQ(readLines(dir.write("long.txt", text)), expected);
}

TEST(TextLineReader, MissingFileAndFolderAreAccessErrors) {
    test::TempDir dir;
    EXPECT_THROW(TextLineReader(dir.file("absent.SFL")), FileAccessError);
    TextLineReader folder(dir.path().string());  // opens, but cannot be read
    std::string line;
    EXPECT_THROW(folder.readLine(line), FileAccessError);
}

}  // namespace
}  // namespace qrb
