// The Slave CPU write against the radio model in virtual time: the lines the
// radio receives, the frame layout, the result codes and where a Cancel acts.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "MasterCpuFiles.h"
#include "TargetTestBench.h"
#include "firmware/FirmwareError.h"
#include "firmware/U_Decrypt.h"
#include "sim/SlaveCpuModel.h"
#include "writing/SlaveCpu.h"
#include "writing/TargetProcedures.h"

namespace qrb {
namespace {

using test::Bytes;
using test::Micros;
using Bench = test::TargetBench<sim::SlaveCpuModel>;

const char* const kHeader[] = {"RQ-7300 SLAVE CPU TEST FIRMWARE", "VERSION  = 9.99", ""};

std::string IntelHexRecord(int type, std::uint16_t address, const Bytes& data) {
    std::string line = ":";
    char hex[3];
    unsigned sum = 0;
    auto put = [&](unsigned byte) {
        std::snprintf(hex, sizeof hex, "%02X", byte & 0xFFu);
        line += hex;
        sum += byte;
    };
    put(static_cast<unsigned>(data.size()));
    put(address >> 8);
    put(address & 0xFFu);
    put(static_cast<unsigned>(type));
    for (std::uint8_t byte : data)
        put(byte);
    put(0x100u - (sum & 0xFFu));
    return line;
}

// An Intel HEX file body: extended address record, `count` data records of
// 16 bytes (data from `seed`), end-of-file record.
std::vector<std::string> IntelHexLines(int count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::string> lines = {":020000040000FA"};
    for (int i = 0; i < count; ++i) {
        Bytes data(16);
        for (std::uint8_t& byte : data)
            byte = static_cast<std::uint8_t>(random());
        lines.push_back(IntelHexRecord(0, static_cast<std::uint16_t>(i * 16), data));
    }
    lines.push_back(":00000001FF");
    return lines;
}

struct SlaveFile {
    std::vector<std::string> fileLines;  // as stored
    std::vector<std::string> sentLines;  // what the radio must receive, in order
};

SlaveFile PlainSlaveFile(int records, unsigned seed) {
    SlaveFile file;
    file.fileLines.assign(std::begin(kHeader), std::end(kHeader));
    for (const std::string& line : IntelHexLines(records, seed)) {
        file.fileLines.push_back(line);
        file.sentLines.push_back(line);
    }
    return file;
}

std::string Encode(const std::string& plain, std::size_t& keyPosition) {
    std::string encoded;
    for (char c : plain) {
        encoded +=
            static_cast<char>(static_cast<std::uint8_t>(c) + LineKey[keyPosition % kLineKeySize]);
        ++keyPosition;
    }
    return encoded;
}

bool Storable(const std::string& encoded) {
    return encoded.find(':') != std::string::npos &&
           encoded.find_first_of(std::string("\n\r\x1a", 3)) == std::string::npos;
}

// An encoded Slave file: header lines, a "VS" line, then encoded records.
// Only lines holding ':' are read (and decoded), so every stored line must
// hold one after encoding; records are drawn until one does. Lines without a
// colon are put between the records: the key must not run on over them.
SlaveFile EncodedSlaveFile(int records, unsigned seed) {
    SlaveFile file;
    file.fileLines.assign(std::begin(kHeader), std::end(kHeader));
    std::mt19937 random(seed);
    std::size_t key = 0;

    // The "VS" line: its characters after the first two are encoded.
    const char* const digits = "0123456789ABCDEF";
    for (int attempt = 0;; ++attempt) {
        if (attempt == 5000) {
            ADD_FAILURE() << "no storable encoding for the VS line";
            return file;
        }
        std::string plain;
        for (int k = 0; k < 20; ++k)
            plain += digits[random() % 16];
        std::size_t trial = key;
        const std::string encoded = Encode(plain, trial);
        if (Storable(encoded)) {
            key = trial;
            file.fileLines.push_back("VS" + encoded);
            file.sentLines.push_back("S0" + plain);
            break;
        }
    }
    for (int i = 0; i < records; ++i) {
        for (int attempt = 0;; ++attempt) {
            if (attempt == 5000) {
                ADD_FAILURE() << "no storable encoding for record " << i;
                return file;
            }
            Bytes data(16);
            for (std::uint8_t& byte : data)
                byte = static_cast<std::uint8_t>(random());
            const std::string plain = IntelHexRecord(0, static_cast<std::uint16_t>(i * 16), data);
            std::size_t trial = key;
            const std::string encoded = Encode(plain, trial);
            if (!Storable(encoded))
                continue;
            key = trial;
            file.fileLines.push_back(encoded);
            file.sentLines.push_back(plain);
            break;
        }
        if (i % 7 == 3)
            file.fileLines.push_back(i % 2 ? "" : "NO COLON ON THIS LINE");
    }
    return file;
}

std::string WriteFile(const test::TempFolder& folder, const std::string& name,
                      const std::vector<std::string>& lines) {
    return test::WriteLines(folder.path() / name, lines);
}

// 50 00 L, text, zero-sum check byte.
Bytes LineFrame(const std::string& line) {
    Bytes frame;
    frame.reserve(line.size() + 4);
    frame.push_back(0x50);
    frame.push_back(0x00);
    frame.push_back(static_cast<std::uint8_t>(line.size()));
    for (char c : line)
        frame.push_back(static_cast<std::uint8_t>(c));
    unsigned sum = 0;
    for (std::uint8_t byte : frame)
        sum += byte;
    frame.push_back(static_cast<std::uint8_t>(0x100u - (sum & 0xFFu)));
    return frame;
}

const Bytes kEndFrameBytes = {0x50, 0xFF, 0xFF, 0xFF, 0xFF, 0xB4};

struct CompleteCase {
    const char* name;
    bool encoded;
    int records;
};

class SlaveCompleteWrite : public ::testing::TestWithParam<CompleteCase> {};

// The whole run through the driver: every line reaches the radio as the file
// holds it (decoded where encoded), then the end frame, the end command and
// the completion text alone.
TEST_P(SlaveCompleteWrite, RadioReceivesEveryLineOfTheFile) {
    const CompleteCase& c = GetParam();
    test::TempFolder folder(std::string("slave-") + c.name);
    const SlaveFile file =
        c.encoded ? EncodedSlaveFile(c.records, 11) : PlainSlaveFile(c.records, 7);
    ASSERT_FALSE(HasFatalFailure());

    Bench bench(kSlaveCpu, {});
    bench.state.SelectedFileName = WriteFile(folder, "TN508001_S_V0999.SFL", file.fileLines);
    EXPECT_EQ(bench.run.RunWrite(), RunOutcome::Completed);

    EXPECT_EQ(bench.radio.lines(), file.sentLines);
    EXPECT_TRUE(bench.radio.endFrameReceived());
    EXPECT_TRUE(bench.radio.endCommandReceived());
    EXPECT_TRUE(bench.radio.violations().empty()) << bench.radio.violationTexts().front();
    EXPECT_EQ(bench.host.lastText(), test::kCompletionTextForTests);
    EXPECT_EQ(bench.host.lastLamp(), 5);
    EXPECT_FALSE(bench.line.isOpen());

    // Bar 1 cycles 0..49 over the acknowledged lines; bar 2 follows the line
    // index up to its full scale of 1248 lines and stays full after it.
    EXPECT_EQ(bench.host.bar1.maximum, 49);
    EXPECT_EQ(bench.host.bar2.maximum, 1247);
    std::vector<int> bar1, bar2;
    for (const auto& move : bench.host.barMoves)
        (move.bar == ProgressBarId::Bar1 ? bar1 : bar2).push_back(move.position);
    const int lines = static_cast<int>(file.sentLines.size());
    ASSERT_EQ(bar1.size(), static_cast<std::size_t>(lines + 1));  // 0, then one per line
    ASSERT_EQ(bar2.size(), static_cast<std::size_t>(lines + 1));
    for (int i = 0; i < lines; ++i) {
        EXPECT_EQ(bar1[i + 1], i % 50) << "line " << i;
        EXPECT_EQ(bar2[i + 1], std::min(i, 1247)) << "line " << i;
    }
    // Past the bar's full scale the count goes on to the last line.
    test::ExpectWorkCountsUpTo(bench.host.work, WorkPhase::SlaveLines, lines);
}

INSTANTIATE_TEST_SUITE_P(Files, SlaveCompleteWrite,
                         ::testing::Values(CompleteCase{"plain", false, 60},
                                           CompleteCase{"encoded", true, 60},
                                           CompleteCase{"longer_than_the_bar", false, 1300}),
                         test::CaseName());

// Meets the radio, then runs one step of the Slave procedure with the bytes
// it sends recorded from that point.
class SlaveSteps : public ::testing::Test {
  protected:
    test::TempFolder folder{"slave-steps"};
    Bench bench{kSlaveCpu, {}};

    void UseLines(const std::vector<std::string>& lines) {
        std::vector<std::string> fileLines(std::begin(kHeader), std::end(kHeader));
        fileLines.insert(fileLines.end(), lines.begin(), lines.end());
        bench.state.SelectedFileName = WriteFile(folder, "TN508001_S_V0999.SFL", fileLines);
        ASSERT_TRUE(bench.Handshake());
        bench.mark();
    }
};

// The end-of-file record: 50 00 0B, the 11 characters, check byte 5E; the
// reply is the 15 echoed bytes and ACK at index 15.
TEST_F(SlaveSteps, EndOfFileRecordGoesOutAsTheWorkedExampleFrame) {
    UseLines({":00000001FF"});
    ASSERT_EQ(SelectErase(bench.fw()), StepResult::Ok);
    ASSERT_EQ(TransferSlaveLines(bench.fw()), StepResult::Ok);

    Bytes expected = {0x48};
    const Bytes frame = {0x50, 0x00, 0x0B, 0x3A, 0x30, 0x30, 0x30, 0x30,
                         0x30, 0x30, 0x30, 0x31, 0x46, 0x46, 0x5E};
    expected.insert(expected.end(), frame.begin(), frame.end());
    expected.insert(expected.end(), kEndFrameBytes.begin(), kEndFrameBytes.end());
    EXPECT_EQ(bench.sentSinceMark(), expected);
    EXPECT_EQ(bench.fw().ReceivedCount, 7);  // end frame echo and its ACK
}

// The ACK is looked for at index L + 4, right after the echo: a stray byte in
// front of it is not an acknowledgement.
TEST_F(SlaveSteps, ByteAfterTheEchoMustBeAck) {
    bench.radio.faults().garbageBefore = sim::AnswerSelector{sim::Step::Frame, 0, 1};
    UseLines({":00000001FF"});
    ASSERT_EQ(SelectErase(bench.fw()), StepResult::Ok);
    EXPECT_EQ(TransferSlaveLines(bench.fw()), StepResult::Failed);
    EXPECT_EQ(bench.fw().ReceiveBuffer[15], 0x7E);
}

TEST_F(SlaveSteps, SelectEraseSendsOneByteAfterTenMillisecondsAndWantsAck) {
    UseLines({":00000001FF"});
    const Micros before = bench.line.now();
    EXPECT_EQ(SelectErase(bench.fw()), StepResult::Ok);
    EXPECT_EQ(bench.sentSinceMark(), Bytes{0x48});
    EXPECT_EQ(bench.sendTimesSinceMark().front() - before, Micros{10'000});
}

TEST_F(SlaveSteps, SelectEraseRefusedIsOneAndNoLineIsSent) {
    bench.radio.faults().refuseSelectErase = true;
    UseLines({":00000001FF"});
    EXPECT_EQ(WriteSlaveCpu(bench.fw()), StepResult::Failed);
    EXPECT_EQ(bench.sentSinceMark(), Bytes{0x48});
    EXPECT_EQ(bench.host.okBoxes, 0);
}

struct FailureCase {
    const char* name;
    std::function<void(sim::SlaveFaults&)> fault;
    StepResult expected;
    int radioLines;  // lines the radio took
    int framesSent;
    bool endFrameSent;
};

class SlaveFailures : public SlaveSteps, public ::testing::WithParamInterface<FailureCase> {};

// A refusal or silence ends the transfer at that line, without a resend and
// without the end frame; a refused end frame is 3.
TEST_P(SlaveFailures, EndTheTransferWithTheirCode) {
    const FailureCase& c = GetParam();
    c.fault(bench.radio.faults());
    const std::vector<std::string> lines = IntelHexLines(5, 3);  // 7 lines
    UseLines(lines);
    EXPECT_EQ(WriteSlaveCpu(bench.fw()), c.expected);

    EXPECT_EQ(bench.radio.lines().size(), static_cast<std::size_t>(c.radioLines));
    const Bytes sent = bench.sentSinceMark();
    Bytes expected = {0x48};
    for (int i = 0; i < c.framesSent; ++i) {
        const Bytes frame = LineFrame(lines[i]);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    if (c.endFrameSent)
        expected.insert(expected.end(), kEndFrameBytes.begin(), kEndFrameBytes.end());
    EXPECT_EQ(sent, expected);
    EXPECT_FALSE(bench.radio.endCommandReceived());
    EXPECT_EQ(bench.host.okBoxes, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SlaveFailures,
    ::testing::Values(
        FailureCase{"nak_after_line_2",
                    [](sim::SlaveFaults& f) {
                        f.refusals.push_back({2, 0x10, 1});
                    },
                    StepResult::Failed, 2, 3, false},
        // The radio takes line 3 but its answer never comes after the echo.
        FailureCase{"silent_after_the_echo_of_line_3",
                    [](sim::SlaveFaults& f) {
                        f.silentFrom = sim::AnswerSelector{sim::Step::Frame, 3, sim::kEvery};
                    },
                    StepResult::NoReply, 4, 4, false},
        FailureCase{"end_frame_refused", [](sim::SlaveFaults& f) { f.refuseEndFrame = true; },
                    StepResult::EndNotAcknowledged, 7, 7, true},
        FailureCase{"end_frame_silent",
                    [](sim::SlaveFaults& f) {
                        f.silentFrom = sim::AnswerSelector{sim::Step::EndFrame, 0, sim::kEvery};
                    },
                    StepResult::EndNotAcknowledged, 7, 7, true}),
    test::CaseName());

// A line's reply may come up to 10 s after the frame, the end frame's up to
// 500 ms: with the port gone after the first line nothing comes back at all.
TEST_F(SlaveSteps, ReplyIsAwaitedTenSecondsForALineAndHalfASecondForTheEnd) {
    bench.radio.faults().vanishAfterFrame = 0;
    UseLines({":00000001FF", ":00000001FF"});
    ASSERT_EQ(SelectErase(bench.fw()), StepResult::Ok);
    const Micros start = bench.line.now();
    EXPECT_EQ(TransferSlaveLines(bench.fw()), StepResult::NoReply);
    // The first line's exchange takes a few milliseconds, then 10 s pass.
    EXPECT_GE(bench.line.now() - start, Micros{10'000'000});
    EXPECT_LT(bench.line.now() - start, Micros{10'010'000});
}

TEST_F(SlaveSteps, EndFrameReplyIsAwaitedHalfASecondBeforeTheFirstByte) {
    bench.radio.faults().vanishAfterFrame = 0;
    UseLines({":00000001FF"});
    ASSERT_EQ(SelectErase(bench.fw()), StepResult::Ok);
    const Micros start = bench.line.now();
    EXPECT_EQ(TransferSlaveLines(bench.fw()), StepResult::EndNotAcknowledged);
    EXPECT_GE(bench.line.now() - start, Micros{500'000});
    EXPECT_LT(bench.line.now() - start, Micros{510'000});
}

// A file without a line holding a colon sends the end frame alone.
TEST_F(SlaveSteps, FileWithoutColonLinesSendsOnlyTheEndFrame) {
    UseLines({"NOTHING TO SEND", ""});
    ASSERT_EQ(SelectErase(bench.fw()), StepResult::Ok);
    EXPECT_EQ(TransferSlaveLines(bench.fw()), StepResult::Ok);
    Bytes expected = {0x48};
    expected.insert(expected.end(), kEndFrameBytes.begin(), kEndFrameBytes.end());
    EXPECT_EQ(bench.sentSinceMark(), expected);
}

// A Cancel while a line's reply is awaited does not cut that wait short: the
// next frame still goes out, its reply is not awaited, and no end frame
// follows.
TEST_F(SlaveSteps, CancelDuringALineEndsAfterTheNextFrameIsSent) {
    const std::vector<std::string> lines = IntelHexLines(5, 5);
    UseLines(lines);
    ASSERT_EQ(SelectErase(bench.fw()), StepResult::Ok);
    bench.mark();
    const std::size_t firstTwoFrames = LineFrame(lines[0]).size() + LineFrame(lines[1]).size();
    bench.cancelWhen(bench.sentAtLeast(firstTwoFrames));
    EXPECT_EQ(TransferSlaveLines(bench.fw()), StepResult::Failed);

    Bytes expected;
    for (int i = 0; i < 3; ++i) {
        const Bytes frame = LineFrame(lines[i]);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(bench.sentSinceMark(), expected);
    // The third frame's reply was not awaited: the transfer ended as it went out.
    EXPECT_EQ(bench.line.now(), bench.sendTimesSinceMark().back());
    EXPECT_FALSE(bench.radio.endFrameReceived());
}

TEST_F(SlaveSteps, CancelDuringTheLastLineEndsWithoutTheEndFrame) {
    UseLines({":00000001FF"});
    ASSERT_EQ(SelectErase(bench.fw()), StepResult::Ok);
    bench.mark();
    bench.cancelWhen(bench.sentAtLeast(1));
    EXPECT_EQ(TransferSlaveLines(bench.fw()), StepResult::Failed);
    EXPECT_EQ(bench.sentSinceMark(), LineFrame(":00000001FF"));
}

// SelectErase clears StopRequested before its wait: an earlier Cancel is
// forgotten and the write completes.
TEST_F(SlaveSteps, CancelBeforeTheEraseSelectionIsForgotten) {
    UseLines(IntelHexLines(3, 9));
    bench.state.StopRequested = true;
    EXPECT_EQ(WriteSlaveCpu(bench.fw()), StepResult::Ok);
    EXPECT_TRUE(bench.radio.endFrameReceived());
    EXPECT_TRUE(bench.state.StopRequested);  // set again by the "Ok ?" answer
}

// A Cancel during the erase selection's wait is seen once the first frame
// has gone out.
TEST_F(SlaveSteps, CancelDuringTheEraseSelectionStopsAfterTheFirstFrame) {
    const std::vector<std::string> lines = IntelHexLines(3, 9);
    UseLines(lines);
    bench.cancelWhen(bench.sentAtLeast(1));
    EXPECT_EQ(WriteSlaveCpu(bench.fw()), StepResult::Failed);
    Bytes expected = {0x48};
    const Bytes frame = LineFrame(lines[0]);
    expected.insert(expected.end(), frame.begin(), frame.end());
    EXPECT_EQ(bench.sentSinceMark(), expected);
}

struct RefusedFileCase {
    const char* name;
    std::vector<std::string> lines;  // after the header; empty: no file at all
    test::ErrorCheck expectError;
};

class SlaveRefusedFiles : public SlaveSteps,
                          public ::testing::WithParamInterface<RefusedFileCase> {};

// A file that cannot be sent whole stops the write before the erase
// selection: nothing goes to the radio.
TEST_P(SlaveRefusedFiles, ThrowBeforeAnythingIsSent) {
    const RefusedFileCase& c = GetParam();
    UseLines(c.lines);
    if (c.lines.empty())
        bench.state.SelectedFileName = folder.file("TN508001_S_V0000.SFL");  // missing
    c.expectError([this] { WriteSlaveCpu(bench.fw()); });
    EXPECT_TRUE(bench.sentSinceMark().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, SlaveRefusedFiles,
    ::testing::Values(RefusedFileCase{"line_of_256_characters",
                                      {":020000040000FA", ":" + std::string(255, '0'),
                                       ":00000001FF"},
                                      test::ExpectThrows<FileRefusedError>},
                      RefusedFileCase{"missing_file", {}, test::ExpectThrows<FileAccessError>}),
    test::CaseName());

TEST_F(SlaveSteps, LineOf255CharactersIsSentWithItsLengthByte) {
    const std::string longest = ":" + std::string(254, '1');
    UseLines({longest});
    ASSERT_EQ(SelectErase(bench.fw()), StepResult::Ok);
    ASSERT_EQ(TransferSlaveLines(bench.fw()), StepResult::Ok);
    EXPECT_EQ(bench.radio.lines(), std::vector<std::string>{longest});
}

}  // namespace
}  // namespace qrb
