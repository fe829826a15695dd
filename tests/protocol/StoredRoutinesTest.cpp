// The stored routines built into the program, and the build step that checks
// a routine folder before it embeds it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "writing/StoredRoutines.h"

namespace qrb {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct KnownRoutine {
    StoredRoutine (*get)();
    const char* name;
    std::size_t size;
    std::uint32_t lengthField;
    std::uint8_t checkByte;
    int pauseMs;
};

const KnownRoutine kKnown[] = {
    {BaseRoutine, "BaseRoutine", 916, 0x38F, 0x5A, 10},
    {EraseRoutine, "EraseRoutine", 1260, 0x4E7, 0xA7, 100},
    {ProgramRoutine, "ProgramRoutine", 1358, 0x549, 0x04, 100},
};

TEST(StoredRoutines, BuiltInRoutinesHaveTheirSizeLengthFieldAndCheckByte) {
    for (const KnownRoutine& known : kKnown) {
        SCOPED_TRACE(known.name);
        const StoredRoutine routine = known.get();
        EXPECT_EQ(routine.name, known.name);
        ASSERT_EQ(routine.bytes.size(), known.size);
        const std::uint32_t lengthField = std::uint32_t{routine.bytes[0]} << 24 |
                                          std::uint32_t{routine.bytes[1]} << 16 |
                                          std::uint32_t{routine.bytes[2]} << 8 | routine.bytes[3];
        EXPECT_EQ(lengthField, known.lengthField);
        EXPECT_EQ(routine.bytes.back(), known.checkByte);
        EXPECT_EQ(std::accumulate(routine.bytes.begin(), routine.bytes.end(), 0u) % 256, 0u);
        EXPECT_EQ(routine.pauseBeforeFirstByte, std::chrono::milliseconds(known.pauseMs));
    }
}

// Runs the build's embedding step on a routine folder.
class EmbedStep : public ::testing::Test {
  protected:
    fs::path folder = fs::temp_directory_path() /
                      ("qrb-routines-" + std::to_string(::getpid()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string output;

    void SetUp() override {
        fs::remove_all(folder);
        fs::create_directories(folder);
        for (const KnownRoutine& known : kKnown) {
            const StoredRoutine routine = known.get();
            write(known.name, Bytes(routine.bytes.begin(), routine.bytes.end()));
        }
    }
    void TearDown() override { fs::remove_all(folder); }

    void write(const std::string& name, const Bytes& bytes) {
        std::ofstream file(folder / (name + ".bin"), std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    Bytes read(const std::string& name) {
        const StoredRoutine routine = name == "BaseRoutine"    ? BaseRoutine()
                                      : name == "EraseRoutine" ? EraseRoutine()
                                                               : ProgramRoutine();
        return Bytes(routine.bytes.begin(), routine.bytes.end());
    }

    // The exit status of the step; its messages go to `output`.
    int run() {
        const fs::path script = QRB117_EMBED_ROUTINES_SCRIPT;
        const std::string command = "cmake -DROUTINES_DIR='" + folder.string() + "' -DOUTPUT='" +
                                    (folder / "generated.cpp").string() + "' -P '" +
                                    script.string() + "' 2>&1";
        output.clear();
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr)
            return -1;
        char chunk[512];
        while (std::fgets(chunk, sizeof chunk, pipe) != nullptr)
            output += chunk;
        const int status = ::pclose(pipe);
        // CMake wraps its messages; one space between words makes them searchable.
        std::string joined;
        for (char c : output) {
            const bool blank = c == ' ' || c == '\n';
            if (!blank || (!joined.empty() && joined.back() != ' '))
                joined += blank ? ' ' : c;
        }
        output = joined;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string generated() {
        std::ifstream file(folder / "generated.cpp");
        return std::string(std::istreambuf_iterator<char>(file), {});
    }
};

TEST_F(EmbedStep, EmbedsTheShippedRoutinesWithoutComplaint) {
    ASSERT_EQ(run(), 0) << output;
    EXPECT_EQ(output.find("Warning"), std::string::npos) << output;
    const std::string source = generated();
    EXPECT_NE(source.find("kBaseRoutineBytes[916]"), std::string::npos);
    EXPECT_NE(source.find("kEraseRoutineBytes[1260]"), std::string::npos);
    EXPECT_NE(source.find("kProgramRoutineBytes[1358]"), std::string::npos);
    // The first bytes are the length field, the last the check byte.
    EXPECT_NE(source.find("0x00, 0x00, 0x05, 0x49,"), std::string::npos);
}

TEST_F(EmbedStep, RefusesARoutineWhoseLengthFieldDoesNotMatchItsSize) {
    Bytes routine = read("EraseRoutine");
    routine.push_back(0x00);  // still sums to 0, one byte longer than its length field says
    write("EraseRoutine", routine);
    EXPECT_NE(run(), 0);
    EXPECT_NE(
        output.find(
            "EraseRoutine.bin: length field 1255 (0x000004e7) does not match the file (1261 bytes"),
        std::string::npos)
        << output;
}

TEST_F(EmbedStep, RefusesARoutineThatDoesNotSumToZero) {
    Bytes routine = read("ProgramRoutine");
    routine[100] ^= 0x01;
    write("ProgramRoutine", routine);
    EXPECT_NE(run(), 0);
    EXPECT_NE(output.find("ProgramRoutine.bin: its bytes sum to"), std::string::npos) << output;
}

TEST_F(EmbedStep, RefusesAMissingRoutine) {
    fs::remove(folder / "BaseRoutine.bin");
    EXPECT_NE(run(), 0);
    EXPECT_NE(output.find("Stored routine missing"), std::string::npos) << output;
}

TEST_F(EmbedStep, WarnsButEmbedsAWellFormedRoutineOfAnotherSize) {
    write("BaseRoutine", {0x00, 0x00, 0x00, 0x02, 0x10, 0x20, 0xCE});
    ASSERT_EQ(run(), 0) << output;
    EXPECT_NE(output.find("the known BaseRoutine has 916 bytes"), std::string::npos) << output;
    EXPECT_NE(generated().find("kBaseRoutineBytes[7]"), std::string::npos);
}

}  // namespace
}  // namespace qrb
