#include "firmware/SrecImage.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "TempFiles.h"
#include "firmware/FirmwareError.h"
#include "firmware/SflEncoder.h"

namespace qrb {
namespace {

// One S-record line with a correct checksum.
std::string srec(int type, std::uint32_t address, const std::vector<std::uint8_t>& data) {
    const int addressBytes = type + 1;
    const int count = addressBytes + static_cast<int>(data.size()) + 1;
    char buf[16];
    std::snprintf(buf, sizeof buf, "S%d%02X", type, count);
    std::string line = buf;
    unsigned sum = static_cast<unsigned>(count);
    for (int i = addressBytes - 1; i >= 0; --i) {
        const unsigned byte = (address >> (8 * i)) & 0xFF;
        std::snprintf(buf, sizeof buf, "%02X", byte);
        line += buf;
        sum += byte;
    }
    for (std::uint8_t b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        line += buf;
        sum += b;
    }
    std::snprintf(buf, sizeof buf, "%02X", ~sum & 0xFF);
    return line + buf;
}

class SrecImageTest : public ::testing::Test {
  protected:
    FirmwareImage build(const std::string& text, std::size_t size = kMasterImageSize) {
        const std::string path = dir.write("TN50801_M_V0102.SFL", text);
        key = 17;
        FirmwareImage image = BuildSrecImage(path, size, key);
        EXPECT_EQ(image.bytes.size(), size);
        return image;
    }
    std::string errorOf(const std::string& text, std::size_t size = kMasterImageSize) {
        try {
            build(text, size);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(no error)";
    }
    test::TempDir dir;
    int key = 0;
};

TEST_F(SrecImageTest, RecordsWithoutDataGiveAnAllFFImage) {
    const std::string text = "HEADER\r\nS0030000FC\r\nS9030000FC\r\n";
    EXPECT_EQ(ChecksumText(build(text).checksum), "CHECKSUM\r\n        03FC0000 (PC)");
    EXPECT_EQ(ChecksumText(build(text, kOptionImageSize).checksum),
              "CHECKSUM\r\n        01FE0000 (PC)");
    EXPECT_EQ(ChecksumText(0xABCDEF), "CHECKSUM\r\n        00ABCDEF (PC)");
}

TEST_F(SrecImageTest, PlacesS1S2S3DataAndLaterRecordsOverwrite) {
    const std::string text =
        "S0030000FC\n" + srec(1, 0x0010, {1, 2, 3}) + "\n" + srec(2, 0x012345, {0xAA, 0xBB}) +
        "\n" + srec(3, 0x0003FFFE, {0xC1, 0xC2}) + "\n" + srec(1, 0x0011, {0x99}) + "\n";
    const FirmwareImage image = build(text);
    std::vector<std::uint8_t> expected(kMasterImageSize, 0xFF);
    expected[0x10] = 1;
    expected[0x11] = 0x99;
    expected[0x12] = 3;
    expected[0x12345] = 0xAA;
    expected[0x12346] = 0xBB;
    expected[0x3FFFE] = 0xC1;
    expected[0x3FFFF] = 0xC2;
    EXPECT_EQ(image.bytes, expected);
    std::uint32_t sum = 0;
    for (auto b : expected) {
        sum += b;
    }
    EXPECT_EQ(image.checksum, sum);
    EXPECT_EQ(key, 0) << "plain files leave the decoder at 0";
}

TEST_F(SrecImageTest, ReadsFieldsNotChecksumsAndOnlyRecordsInColumnOne) {
    // Lower-case hex, a wrong record checksum, S1 elsewhere than column 1,
    // count 3 (no data) and count 2 (less than its overhead).
    const std::string text =
        "S0030000FC\n"
        "S1050020abcd00\n"
        " S1050030ABCD00\n"
        "xS1050040ABCD00\n"
        "S1030050FF\n"
        "S1020060\n"
        "S5030001FB\n";
    const FirmwareImage image = build(text);
    EXPECT_EQ(image.bytes[0x20], 0xAB);
    EXPECT_EQ(image.bytes[0x21], 0xCD);
    EXPECT_EQ(image.checksum, 0x03FC0000u - 0xFF - 0xFF + 0xAB + 0xCD);
}

TEST_F(SrecImageTest, HeaderSkipStopsAtTheFirstLineContainingS0) {
    // The record in the header is not read; a line holding S0 anywhere ends it.
    const std::string text = srec(1, 0, {0x11}) + "\nXS0X\n" + srec(1, 1, {0x22}) + "\n";
    const FirmwareImage image = build(text);
    EXPECT_EQ(image.bytes[0], 0xFF);
    EXPECT_EQ(image.bytes[1], 0x22);
}

TEST_F(SrecImageTest, EncodedFileBuildsTheSameImageAsItsPlainForm) {
    std::vector<std::string> plain = {"RQ-7300 MAIN", "ALL", "S00600004844521B"};
    for (std::uint32_t a = 0; a < 0x400; a += 16) {
        plain.push_back(srec(2, 0x3F000 + a, test::randomBytes(16, a)));
    }
    plain.push_back("");
    plain.push_back("S804000000FB");
    std::string plainText;
    for (const auto& l : plain) {
        plainText += l + "\r\n";
    }
    const EncodedSfl encoded = EncodeSflLines(plain, "plain");
    ASSERT_EQ(encoded.kind, SflKind::SRecord);
    EXPECT_EQ(encoded.lines[2].substr(0, 2), "VS");
    std::string encodedText;
    for (const auto& l : encoded.lines) {
        encodedText += l + "\r\n";
    }
    const FirmwareImage fromPlain = build(plainText);
    const FirmwareImage fromEncoded = build(encodedText);
    EXPECT_EQ(fromEncoded.bytes, fromPlain.bytes);
    EXPECT_NE(fromPlain.checksum, 0x03FC0000u);
    // The key ran over the "VS" line's characters after the first two and
    // over every later line.
    std::size_t decoded = plain[2].size() - 2;
    for (std::size_t i = 3; i < plain.size(); ++i) {
        decoded += plain[i].size();
    }
    EXPECT_EQ(key, static_cast<int>(decoded % 43));
}

TEST_F(SrecImageTest, NonHexFieldsNameTheFieldAsItStands) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"S1060000AAG0FF", "'G0' is not a valid integer value"},
        {"S10600x0AABBFF", "'00x0' is not a valid integer value"},
        {"S2Z60000000AABBFF", "'Z6' is not a valid integer value"},
        {"S3060000", "'0000' is not a valid integer value"},  // line ends inside the address
        {"S1", "'' is not a valid integer value"},
        {"S1060000AA", "'' is not a valid integer value"},  // data runs past the line end
        {"S1060000AAB", "'B' is not a valid integer value"},
        {"S1 60000AABBFF", "' 6' is not a valid integer value"},
        // A control byte is written out, so it cannot cut the message short.
        {std::string("S1060000AA") + '\0' + '\x01' + "FF",
         "'\\x00\\x01' is not a valid integer value"},
    };
    for (const auto& [line, message] : cases) {
        try {
            build("S0\n" + line + "\n");
            ADD_FAILURE() << line << " was accepted";
        } catch (const ConversionError& e) {
            EXPECT_EQ(std::string(e.what()), message) << line;
        }
    }
}

TEST_F(SrecImageTest, DataOutsideTheImageRefusesTheFile) {
    EXPECT_EQ(errorOf("S0\nX\n" + srec(2, 0x40000, {1}) + "\n"),
              dir.file("TN50801_M_V0102.SFL") +
                  ", line 3: record data at address 40000 lies outside the 256 KiB image");
    // A record that runs over the end, and an S2 address beyond the option image.
    EXPECT_NE(errorOf("S0\n" + srec(2, 0x3FFFF, {1, 2}) + "\n").find("address 40000 lies"),
              std::string::npos);
    EXPECT_NE(errorOf("S0\n" + srec(2, 0x20010, {1}), kOptionImageSize)
                  .find("line 2: record data at address 20010 lies outside the 128 KiB image"),
              std::string::npos);
    EXPECT_NE(errorOf("S0\n" + srec(3, 0xFFFFFFFF, {1})).find("address FFFFFFFF"),
              std::string::npos);
    // A count-3 record at any address carries nothing and is harmless.
    EXPECT_EQ(build("S0\n" + srec(3, 0xFFFFFFF0, {}) + "\n").checksum, 0x03FC0000u);
}

TEST_F(SrecImageTest, FileWithoutRecordStartIsRefusedNotSentAsFF) {
    const std::string empty = errorOf("");
    EXPECT_NE(empty.find("TN50801_M_V0102.SFL, line 1: the file ends before its records begin"),
              std::string::npos)
        << empty;
    const std::string headerOnly = errorOf("A\r\nB\r\n" + srec(1, 0, {1}) + "\r\n");
    EXPECT_NE(headerOnly.find(", line 4: the file ends before its records begin"),
              std::string::npos)
        << headerOnly;
    EXPECT_THROW(build("s0 lower case only\n"), FileRefusedError);
    EXPECT_THROW(BuildSrecImage(dir.file("missing.SFL"), kMasterImageSize, key), FileAccessError);
}

}  // namespace
}  // namespace qrb
