// Checks of the write benchmark's own arithmetic: the protocol limits it
// divides by, and the trace and report readers it takes its times from.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "CliTrace.h"
#include "ProtocolLimit.h"
#include "WriteRun.h"

namespace qrb::bench {
namespace {

TEST(ProtocolLimit, MasterWriteIsFramesAndAnswersOnTheLinePlusTheHandshake) {
    const WriteLimit limit = MasterWriteLimit(UnitTiming{});
    // 1953 frames of 133 + 6 bytes; handshake A0 (1), identification (4 + 8),
    // version (3 + 12); the 50 ms pause; the end command's three 2 ms pauses.
    const double expectedMs = (1953 * 139 + 28) * kByteMs + 50 + 6;
    EXPECT_NEAR(limit.totalMs, expectedMs, 1e-6);
    EXPECT_NEAR(1953 * 139 * kByteMs / 1000, 77.764, 0.001);
    EXPECT_NEAR(limit.pausesMs, 1953 * 2 + 50 + 6, 1e-6);
    EXPECT_DOUBLE_EQ(limit.reactionMs, 0);
    EXPECT_NEAR(limit.pausesMs + limit.lineMs + limit.reactionMs, limit.totalMs, 1e-6);
}

TEST(ProtocolLimit, MasterAnswerDelayAddsOncePerExchange) {
    const WriteLimit instant = MasterWriteLimit(UnitTiming{});
    const WriteLimit delayed = MasterWriteLimit(UnitTiming{0, 2.0, 0, 0});
    // Identification, version and 1953 frames wait for an answer after the
    // command's last byte; the 2 ms frame pause lies inside the frame's line time.
    EXPECT_NEAR(delayed.totalMs - instant.totalMs, (2 + 1953) * 2.0, 1e-6);
    EXPECT_NEAR(delayed.reactionMs, (2 + 1953) * 2.0, 1e-6);
}

TEST(ProtocolLimit, OptionUnitWriteFollowsThePausesOfTheErasePath) {
    const UnitTiming unit{0, 0, 1200, 300};
    const WriteLimit limit = OptionUnitWriteLimit(unit);
    const double pauses = 2 + 50                   // ACK to the version, after the handshake
                          + 4 * (10 + 2) + 50 + 2  // four parameter commands, ConfirmBitRate
                          + 10 + 2 + 1500          // 40: two 500 ms sleeps and one empty wait
                          + 10 + 916 * 3 + 1000    // BaseRoutine and the pause after it
                          + 4 * (10 + 2)           // boot status, blank check, boot status, 48
                          + 100 + 1260 * 3         // EraseRoutine
                          + 7 * (4 * 3 + 1400)     // erase commands
                          + 4 * 3 + 1000           // closing erase command
                          + 2 * (10 + 2)           // boot status, SelectProgramming
                          + 100 + 1358 * 3         // ProgramRoutine
                          + 752 * (133 * 4 + 2)    // block frames
                          + 6 * 4                  // EndFrame
                          + 2 * (10 + 2)           // boot status, sum
                          + 3 * 2;                 // end command
    EXPECT_NEAR(limit.pausesMs, pauses, 1e-6);
    EXPECT_NEAR(limit.pausesMs + limit.lineMs + limit.reactionMs, limit.totalMs, 1e-6);
    // Per block the check byte and the ACK are not covered by a pause.
    EXPECT_GT(limit.lineMs, 752 * 2 * kByteMs);
    EXPECT_LT(limit.lineMs, 752 * 2 * kByteMs + 200 * kByteMs);
}

TEST(ProtocolLimit, EnterPollsFollowTheUnitsDelay) {
    const auto pausesWith = [](double enterDelayMs) {
        return OptionUnitWriteLimit(UnitTiming{0, 0, enterDelayMs, 300}).pausesMs;
    };
    // Ready within the first sleep: one 500 ms sleep. Ready during the first
    // wait: the wait ends with the ACK. Later: sleep, empty wait, sleep.
    EXPECT_NEAR(pausesWith(1200) - pausesWith(400), 1000, 1e-6);
    EXPECT_NEAR(pausesWith(700) - pausesWith(400), 0, 1e-6);
    const WriteLimit duringWait = OptionUnitWriteLimit(UnitTiming{0, 0, 700, 300});
    const WriteLimit inSleep = OptionUnitWriteLimit(UnitTiming{0, 0, 400, 300});
    // The ACK (one byte time after the 40 and one for itself) against the
    // end of the first sleep.
    EXPECT_NEAR(duringWait.totalMs - inSleep.totalMs, 700 + 2 * kByteMs - 502, 1e-6);
}

class TraceFile : public ::testing::Test {
  protected:
    std::string write(const std::string& text) {
        std::ofstream(path_) << text;
        return path_;
    }
    void TearDown() override { std::filesystem::remove(path_); }
    std::string path_ = (std::filesystem::temp_directory_path() /
                         ("bench-write-test-" + std::to_string(::getpid()) + ".trace"))
                            .string();
};

TEST_F(TraceFile, FindsTheRecordOfEachByte) {
    const CliTrace trace(
        write("         0.103 -- port opened\n"
              "         0.250 RX 50\n"
              "         0.252 TX A0\n"
              "         1.002 RX A0 65\n"
              "        12.345 TX 38 01\n"
              "        12.347 TX 39\n"
              "        12.350 RX 38 01 39\n"
              "        12.650 -- port closed\n"));
    EXPECT_EQ(trace.receivedCount(), 6);
    EXPECT_EQ(trace.sentCount(), 4);
    EXPECT_EQ(trace.receivedByteMs(0), 250);
    EXPECT_EQ(trace.receivedByteMs(2), 1002);
    EXPECT_EQ(trace.receivedByteMs(5), 12350);
    EXPECT_EQ(trace.receivedByteMs(6), -1);
    EXPECT_EQ(trace.sentByteMs(-1), -1);
    EXPECT_EQ(trace.sentByteMs(1), 12345);
    EXPECT_EQ(trace.sentByteMs(3), 12347);
    EXPECT_EQ(trace.lastSent(3), (std::vector<std::uint8_t>{0x38, 0x01, 0x39}));
    EXPECT_EQ(trace.lastReceived(4), (std::vector<std::uint8_t>{0x65, 0x38, 0x01, 0x39}));
    EXPECT_EQ(trace.records().back().note, "port closed");
}

TEST_F(TraceFile, RefusesLinesOfAnotherShape) {
    for (const char* bad :
         {"0.103 XX 50\n", "1.5 RX 50\n", "0.100 RX 5\n", "0.100 RX ZZ\n", "abc RX 50\n"}) {
        EXPECT_THROW(CliTrace(write(bad)), std::runtime_error) << bad;
    }
    EXPECT_THROW(CliTrace("/nonexistent/trace"), std::runtime_error);
}

TEST(SimReport, CountsTheEntriesOfAnArray) {
    const std::string report =
        "{\n  \"frames\": [160, 161, 0],\n  \"violations\": [],\n"
        "  \"refused\": [{\"a\": 1, \"b\": 2}, {\"a\": 3}]\n}";
    EXPECT_EQ(ReportArraySize(report, "frames"), 3);
    EXPECT_EQ(ReportArraySize(report, "violations"), 0);
    EXPECT_EQ(ReportArraySize(report, "refused"), 2);
    EXPECT_EQ(ReportArraySize(report, "missing"), -1);
}

}  // namespace
}  // namespace qrb::bench
