#include <gtest/gtest.h>

#include "TempFiles.h"
#include "firmware/FirmwareError.h"
#include "firmware/U_Decrypt.h"
#include "firmware/U_FileAccessQRB.h"

namespace qrb {
namespace {

struct HeaderCase {
    const char* name;
    std::string text;
    bool found;
    std::vector<std::string> lines;
    bool writeAll;
};

TEST(ReadSflHeader, EndsAtTheFirstRecordStartLine) {
    const std::vector<HeaderCase> cases = {
        {"S0 first", "S00600004844521B\r\nS1...\r\n", true, {}, false},
        {"empty file", "", false, {}, false},
        {"header then S0", "RQ-7300\r\nV1.02\r\nS0030000FC\r\n", true, {"RQ-7300", "V1.02"}, false},
        {"lower-case s0 and blank before S0 stay header",
         "s0 x\r\n S0\r\nS0\r\n",
         true,
         {"s0 x", " S0"},
         false},
        {"encoded marker", "head\r\nVS\x90\x91\r\n", true, {"head"}, false},
        {"colon line is header, extended address ends it",
         ":10000000\r\n:020000040000FA\r\n",
         true,
         {":10000000"},
         false},
        {"ALL line excluded, sets WriteAllAreas", "OLU-6\r\nALL\r\nS0\r\n", true, {"OLU-6"}, true},
        {"ALLx counts as ALL", "ALLx\r\n", true, {}, true},
        {"no record start: every line", "a\r\nb\r\n\r\nc", false, {"a", "b", "", "c"}, false},
    };
    test::TempDir dir;
    for (const HeaderCase& c : cases) {
        const SflHeader h = ReadSflHeader(dir.write("h.SFL", c.text));
        EXPECT_EQ(h.recordStartFound, c.found) << c.name;
        EXPECT_EQ(h.HeaderLines, c.lines) << c.name;
        EXPECT_EQ(h.WriteAllAreas, c.writeAll) << c.name;
    }
}

TEST(ReadSflHeader, FlagFollowsTheLatestFileAndMissingFileThrows) {
    test::TempDir dir;
    EXPECT_TRUE(ReadSflHeader(dir.write("a.SFL", "ALL\r\n")).WriteAllAreas);
    EXPECT_FALSE(ReadSflHeader(dir.write("b.SFL", "S0\r\n")).WriteAllAreas);
    EXPECT_THROW(ReadSflHeader(dir.file("gone.SFL")), FileAccessError);
}

TEST(DecodeLine, MarkerEmptyLineAndKeyPosition) {
    int key = 7;
    EXPECT_EQ(DecodeLine("VS", key), "S0");
    EXPECT_EQ(key, 7);
    EXPECT_EQ(DecodeLine("", key), "");
    EXPECT_EQ(key, 7);

    key = 0;
    DecodeLine(std::string(43, 'x'), key);
    EXPECT_EQ(key, 0);
    DecodeLine(std::string(44, 'x'), key);
    EXPECT_EQ(key, 1);
    DecodeLine(std::string(42, 'x'), key);  // 1 + 42 wraps to 0
    EXPECT_EQ(key, 0);
}

TEST(DecodeLine, SubtractsTheKeyModulo256AndRunsOnAcrossCalls) {
    // Every character decodes with the key byte at its running position.
    std::string line;
    for (int i = 0; i < 100; ++i) {
        line.push_back(static_cast<char>(i * 37));
    }
    int key = 40;
    const std::string first = DecodeLine(line.substr(0, 10), key);
    const std::string rest = DecodeLine(line.substr(10), key);
    const std::string all = first + rest;
    for (int i = 0; i < 100; ++i) {
        const auto expected =
            static_cast<std::uint8_t>(static_cast<std::uint8_t>(line[i]) - LineKey[(40 + i) % 43]);
        ASSERT_EQ(static_cast<std::uint8_t>(all[i]), expected) << i;
    }
    EXPECT_EQ(key, (40 + 100) % 43);

    // Wrapping below zero: 0x10 with a key byte above it.
    int at = 0;
    while (LineKey[at] <= 0x10) {
        ++at;
    }
    const int start = at;
    const std::string wrapped = DecodeLine(std::string(1, '\x10'), at);
    EXPECT_EQ(static_cast<std::uint8_t>(wrapped[0]), 0x110 - LineKey[start]);
}

}  // namespace
}  // namespace qrb
