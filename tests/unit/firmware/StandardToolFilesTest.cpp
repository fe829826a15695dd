// Files written by standard tools (objcopy, srec_cat) from a random binary
// must read back into exactly that binary.
#include <gtest/gtest.h>

#include <cstdlib>

#include "TempFiles.h"
#include "firmware/SflEncoder.h"
#include "firmware/SlaveLineSource.h"
#include "firmware/SrecImage.h"

namespace qrb {
namespace {

struct ToolCase {
    const char* name;
    const char* tool;
    std::string arguments;  // IN and OUT stand for the two files
};

std::string withFiles(std::string text, const std::string& in, const std::string& out) {
    for (auto [token, value] : {std::pair{"IN", in}, std::pair{"OUT", out}}) {
        text.replace(text.find(token), std::string(token).size(), value);
    }
    return text;
}

bool runTool(const ToolCase& c, const std::string& in, const std::string& out) {
    const std::string command =
        std::string(c.tool) + " " + withFiles(c.arguments, in, out) + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Rebuilds the bytes an Intel HEX text describes (record types 00, 02, 04).
std::vector<std::uint8_t> parseIntelHex(const std::vector<std::string>& lines, std::size_t size) {
    std::vector<std::uint8_t> bytes(size, 0xFF);
    std::uint32_t base = 0;
    const auto byteAt = [](const std::string& l, std::size_t i) {
        return static_cast<std::uint8_t>(std::stoul(l.substr(1 + 2 * i, 2), nullptr, 16));
    };
    for (const std::string& l : lines) {
        const unsigned count = byteAt(l, 0);
        const unsigned offset = byteAt(l, 1) * 256u + byteAt(l, 2);
        const unsigned type = byteAt(l, 3);
        if (type == 0) {
            for (unsigned k = 0; k < count; ++k) {
                bytes.at(base + offset + k) = byteAt(l, 4 + k);
            }
        } else if (type == 2) {
            base = (byteAt(l, 4) * 256u + byteAt(l, 5)) << 4;
        } else if (type == 4) {
            base = (byteAt(l, 4) * 256u + byteAt(l, 5)) << 16;
        }
    }
    return bytes;
}

class StandardToolFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string(QRB117_OBJCOPY).empty() || std::string(QRB117_SREC_CAT).empty()) {
            GTEST_SKIP() << "objcopy or srec_cat is not installed";
        }
    }
    test::TempDir dir;
};

TEST_F(StandardToolFiles, SRecordFilesBuildExactlyTheBinaryPlainAndEncoded) {
    const std::vector<ToolCase> cases = {
        {"objcopy S-records", QRB117_OBJCOPY, "-I binary -O srec IN OUT"},
        {"objcopy S3, 32 bytes a record", QRB117_OBJCOPY,
         "-I binary -O srec --srec-forceS3 --srec-len=32 IN OUT"},
        {"srec_cat", QRB117_SREC_CAT, "IN -binary -o OUT -motorola"},
        {"srec_cat S2", QRB117_SREC_CAT, "IN -binary -o OUT -motorola -address-length=3"},
    };
    for (const std::size_t size : {kMasterImageSize, kOptionImageSize}) {
        const auto binary = test::randomBytes(size, static_cast<unsigned>(size));
        const std::string in =
            dir.write("image.bin", {reinterpret_cast<const char*>(binary.data()), binary.size()});
        for (const ToolCase& c : cases) {
            const std::string plain = dir.file("plain.SFL");
            const std::string encoded = dir.file("encoded.SFL");
            ASSERT_TRUE(runTool(c, in, plain)) << c.name;
            int key = 0;
            EXPECT_EQ(BuildSrecImage(plain, size, key).bytes, binary) << c.name;
            ASSERT_NO_THROW(EncodeSflFile(plain, encoded)) << c.name;
            EXPECT_EQ(BuildSrecImage(encoded, size, key).bytes, binary) << c.name << " encoded";
        }
    }
}

TEST_F(StandardToolFiles, IntelHexLinesCarryExactlyTheBinary) {
    const std::vector<ToolCase> cases = {
        {"objcopy Intel HEX", QRB117_OBJCOPY, "-I binary -O ihex IN OUT"},
        {"srec_cat Intel HEX", QRB117_SREC_CAT, "IN -binary -o OUT -intel"},
    };
    const std::size_t size = 96 * 1024;  // beyond 64 KiB: extended address records
    const auto binary = test::randomBytes(size, 5);
    const std::string in =
        dir.write("image.bin", {reinterpret_cast<const char*>(binary.data()), binary.size()});
    for (const ToolCase& c : cases) {
        const std::string hex = dir.file("slave.SFL");
        ASSERT_TRUE(runTool(c, in, hex)) << c.name;
        int key = 0;
        const auto lines = ReadSlaveLines(hex, key);
        EXPECT_EQ(parseIntelHex(lines, size), binary) << c.name;
        EXPECT_EQ(key, 0);
    }
}

}  // namespace
}  // namespace qrb
