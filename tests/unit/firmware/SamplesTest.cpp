// The shipped demo firmware files read as their names promise. The encoded
// ones are checked only with the demo key they were made with.
#include <gtest/gtest.h>

#include "firmware/FileCatalogue.h"
#include "firmware/SlaveLineSource.h"
#include "firmware/SrecImage.h"
#include "firmware/U_FileAccessQRB.h"

namespace qrb {
namespace {

const std::string kSamples = QRB117_SAMPLES_DIR;

// An Intel HEX record line with a correct zero-sum check byte.
bool validIntelHex(const std::string& line) {
    if (line.size() < 11 || line[0] != ':' || line.size() % 2 == 0) {
        return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i < line.size(); i += 2) {
        sum += static_cast<unsigned>(std::stoul(line.substr(i, 2), nullptr, 16));
    }
    return sum % 256 == 0 && std::stoul(line.substr(1, 2), nullptr, 16) * 2 + 11 == line.size();
}

struct Sample {
    const char* name;
    bool encoded;
    bool writeAll;
};

TEST(Samples, HeadersTargetsAndContent) {
    const std::vector<Sample> samples = {
        {"TN508001_M_V0101.SFL", false, false}, {"TN508001_M_V0102.SFL", true, false},
        {"TQX37_V0105.SFL", false, false},      {"TQX37_V0106.SFL", true, true},
        {"TN508001_S_V0101.SFL", false, false}, {"TN508001_S_V0102.SFL", true, false},
    };
    for (const Sample& s : samples) {
        SCOPED_TRACE(s.name);
        if (s.encoded && !QRB117_DEMO_KEY) {
            continue;  // made with the demo key; this build decodes with another
        }
        const std::string path = kSamples + "/" + s.name;
        const SflHeader header = ReadSflHeader(path);
        EXPECT_TRUE(header.recordStartFound);
        EXPECT_EQ(header.HeaderLines.size(), 5u);
        EXPECT_EQ(header.WriteAllAreas, s.writeAll);
        int key = 0;
        switch (TargetFromFileName(s.name)) {
            case FileKind::MasterCpu:
            case FileKind::OptionUnit: {
                const bool master = TargetFromFileName(s.name) == FileKind::MasterCpu;
                const FirmwareImage image =
                    BuildSrecImage(path, master ? kMasterImageSize : kOptionImageSize, key);
                // Random content throughout the written areas.
                const std::size_t first = master || s.writeAll ? 0 : 0x800;
                const std::size_t last = master       ? kMasterImageSize
                                         : s.writeAll ? kOptionImageSize
                                                      : 0x18000;
                std::size_t ffInside = 0;
                for (std::size_t a = 0; a < image.bytes.size(); ++a) {
                    if (a < first || a >= last) {
                        ASSERT_EQ(image.bytes[a], 0xFF) << a;
                    } else {
                        ffInside += image.bytes[a] == 0xFF;
                    }
                }
                EXPECT_LT(ffInside, (last - first) / 100);
                break;
            }
            case FileKind::SlaveCpu: {
                const auto lines = ReadSlaveLines(path, key);
                EXPECT_GE(lines.size(), 1000u);
                std::size_t first = 0;
                if (s.encoded) {
                    EXPECT_EQ(lines[0].rfind("S0:TN508001_S_V0102", 0), 0u) << lines[0];
                    first = 1;
                }
                EXPECT_EQ(lines[first], ":020000040000FA");
                EXPECT_EQ(lines.back(), ":00000001FF");
                for (std::size_t i = first; i < lines.size(); ++i) {
                    ASSERT_TRUE(validIntelHex(lines[i])) << i << ": " << lines[i];
                }
                break;
            }
            default:
                ADD_FAILURE() << "not a firmware name";
        }
    }
}

}  // namespace
}  // namespace qrb
