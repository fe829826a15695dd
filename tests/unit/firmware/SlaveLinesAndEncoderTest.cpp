#include <gtest/gtest.h>

#include "TempFiles.h"
#include "firmware/FirmwareError.h"
#include "firmware/SflEncoder.h"
#include "firmware/SlaveLineSource.h"
#include "firmware/U_Decrypt.h"

namespace qrb {
namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) {
        text += l + "\r\n";
    }
    return text;
}

// A plain character that the key at position j turns into the given byte.
char plainFor(std::uint8_t encodedByte, int j) {
    return static_cast<char>(static_cast<std::uint8_t>(encodedByte - LineKey[j % 43]));
}

TEST(ReadSlaveLines, OnlyColonLinesAreUsedAndRawVsSwitchesDecoding) {
    test::TempDir dir;
    // Header lines, a header line with a colon (sent as read), a "VS" line
    // without a colon (skipped, switches nothing), then a real "VS" line.
    int key = 9;
    const std::string path = dir.write("s.SFL",
                                       "TN508 Slave\r\n"
                                       "Date: today\r\n"
                                       "VS no colon\r\n"
                                       ":020000040000FA\r\n"
                                       "\r\n"
                                       "VS:ab\r\n"
                                       "skipped line\r\n"
                                       "x:yz\r\n");
    const std::vector<std::string> lines = ReadSlaveLines(path, key);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Date: today");
    EXPECT_EQ(lines[1], ":020000040000FA");
    int expectKey = 0;
    EXPECT_EQ(lines[2], DecodeLine("VS:ab", expectKey));
    EXPECT_EQ(lines[3], DecodeLine("x:yz", expectKey)) << "skipped lines do not move the key";
    EXPECT_EQ(key, expectKey);
    EXPECT_EQ(key, 3 + 4);
}

TEST(ReadSlaveLines, NoColonLinesGiveNothingAndLongLinesRefuseTheFile) {
    test::TempDir dir;
    int key = 0;
    EXPECT_TRUE(ReadSlaveLines(dir.write("none.SFL", "a\r\nb\r\n"), key).empty());

    const std::string longest = ":" + std::string(254, '0');
    EXPECT_EQ(ReadSlaveLines(dir.write("ok.SFL", longest + "\r\n"), key).at(0).size(), 255u);
    try {
        ReadSlaveLines(dir.write("TN508001_S_V0102.SFL", "h\r\n:00\r\n" + longest + "0\r\n"), key);
        ADD_FAILURE() << "a 256-character line was accepted";
    } catch (const FileRefusedError& e) {
        EXPECT_EQ(std::string(e.what()), dir.file("TN508001_S_V0102.SFL") +
                                             ", line 3: a line of 256 characters is too long to "
                                             "send (at most 255)");
    }
    EXPECT_THROW(ReadSlaveLines(dir.file("absent.SFL"), key), FileAccessError);
}

// Sets one character at or after from so that, encoded at key position
// j + index, it becomes ':' (the reader picks its lines by the encoded text);
// skips positions where the plain character itself would end or split a line.
void makeEncodedColon(std::string& line, std::size_t from, int j) {
    for (std::size_t i = from; i < line.size(); ++i) {
        const char c = plainFor(':', j + static_cast<int>(i));
        if (c != '\n' && c != '\r' && c != '\x1A') {
            line[i] = c;
            return;
        }
    }
    FAIL() << "no position for a ':'";
}

TEST(SflEncoder, IntelHexRoundTripKeepsUnusedLinesAndRunsKeyOverColonLines) {
    std::string s0 = "S0:TN508001_SLAVE";
    makeEncodedColon(s0, 4, -2);  // the key starts after "S0"
    std::vector<std::string> plain = {"TN508001 SLAVE", "Build: 1", "", s0};
    int j = static_cast<int>(s0.size()) - 2;
    for (int n = 0; n < 30; ++n) {
        std::string line = ":10" + std::to_string(1000 + n) + "00" + std::string(32, '0') + "00";
        makeEncodedColon(line, 9, j);
        plain.push_back(line);
        j += static_cast<int>(line.size());
        plain.push_back("");  // not a record: stays plain, key does not move
    }
    const EncodedSfl encoded = EncodeSflLines(plain, "slave");
    ASSERT_EQ(encoded.kind, SflKind::IntelHex);
    ASSERT_EQ(encoded.lines.size(), plain.size());
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(encoded.lines[i], plain[i]);
    }
    EXPECT_EQ(encoded.lines[3].substr(0, 2), "VS");

    test::TempDir dir;
    int plainKey = 0;
    int encodedKey = 0;
    EXPECT_EQ(ReadSlaveLines(dir.write("e.SFL", joined(encoded.lines)), encodedKey),
              ReadSlaveLines(dir.write("p.SFL", joined(plain)), plainKey));
    EXPECT_EQ(encodedKey, j % 43);
}

TEST(SflEncoder, RefusesFilesItCannotEncodeFaithfully) {
    const std::string forbidden(1, plainFor(0x0A, 0));
    const std::string endOfFile(1, plainFor(0x1A, 1));
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"no record start"}, "no line begins with \"S0\""},
        {{"VS already", "S0"}, "line 1: the line begins with \"VS\""},
        {{"ISO S0 header", "S0"}, "line 1: the header line holds \"S0\""},
        {{"S0" + forbidden}, "line 1: the encoded line would hold the byte 0A at character 3"},
        {{"h", "S0", "x" + endOfFile}, "line 3: the encoded line would hold the byte 1A"},
        {{"S0", ":00000001FF"}, "line 1: the S0 line holds no ':'"},
    };
    for (const auto& [lines, message] : cases) {
        try {
            EncodeSflLines(lines, "F.SFL");
            ADD_FAILURE() << message;
        } catch (const EncodeRefusedError& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("F.SFL", 0), 0u) << e.what();
        }
    }
}

TEST(SflEncoder, FileOutputIsAllOrNothing) {
    test::TempDir dir;
    const std::string in = dir.write("in.SFL", "HEAD\nS0030000FC\nS1050000ABCD7A\n");
    const std::string out = dir.file("out.SFL");
    EXPECT_EQ(EncodeSflFile(in, out), SflKind::SRecord);
    const std::string encoded = test::readAll(out);
    EXPECT_EQ(encoded.substr(0, 8), "HEAD\r\nVS");

    // A refused file leaves an existing output as it was and no stray file.
    const std::string bad = dir.write("bad.SFL", "S0" + std::string(1, plainFor(0x0D, 0)) + "\n");
    EXPECT_THROW(EncodeSflFile(bad, out), EncodeRefusedError);
    EXPECT_EQ(test::readAll(out), encoded);
    EXPECT_THROW(EncodeSflFile(in, dir.file("no/such/folder/out.SFL")), FileAccessError);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 3u);  // in, bad, out
}

}  // namespace
}  // namespace qrb
