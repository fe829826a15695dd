// The option unit's whole write against rq7300-sim on a pseudo-terminal,
// with and without an "ALL" line: several minutes of protocol pauses each.
#include <QJsonArray>

#include "Fixture.h"

namespace e2e {
namespace {

std::vector<int> Blocks(int first, int last) {
    std::vector<int> blocks;
    for (int i = first; i <= last; ++i)
        blocks.push_back(i);
    return blocks;
}

std::string CompareBlocks(const std::vector<std::uint8_t>& memory,
                          const std::vector<std::uint8_t>& binary, const std::vector<int>& blocks) {
    for (int block : blocks) {
        for (std::size_t k = 0; k < 128; ++k) {
            const std::size_t at = static_cast<std::size_t>(block) * 128 + k;
            if (at >= memory.size() || memory[at] != binary[at]) {
                return "block " + std::to_string(block) + " differs at " + std::to_string(at);
            }
        }
    }
    return {};
}

class OptionUnitWrite : public CliAgainstSim, public ::testing::WithParamInterface<bool> {};

TEST_P(OptionUnitWrite, ImageLandsAndBothSumsAreShown) {
    const bool all = GetParam();
    const auto binary = Binary(128 * 1024, all ? 21 : 22);
    std::vector<std::string> header{"OLU-6 OPTION UNIT FIRMWARE"};
    if (all)
        header.push_back("ALL");
    const std::string file =
        MakeFile(all ? "TQX37_V0901.SFL" : "TQX37_V0902.SFL", binary, "srec", header);
    startSim({"--unit", "olu6", "--version", "0305"});
    const ProcessResult r = write(file, {}, std::chrono::seconds(900));
    ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("OLU-6 version: 0305"), std::string::npos);
    EXPECT_NE(r.out.find(" (PC)\n        "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" (CPU)\n"), std::string::npos) << r.out;

    const QJsonObject report = finishSim();
    EXPECT_TRUE(report["end_frame"].toBool());
    EXPECT_TRUE(report["end_command"].toBool());
    EXPECT_TRUE(report["violations"].toArray().isEmpty());
    EXPECT_EQ(report["frames"].toArray().size(), all ? 1024 : 752);
    EXPECT_EQ(CompareBlocks(simMemory(), binary, all ? Blocks(0, 1023) : Blocks(16, 767)), "");
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutAll, OptionUnitWrite, ::testing::Bool());

}  // namespace
}  // namespace e2e
