// The whole write run against the radio model in virtual time: attempts,
// lamps, texts, the two boxes, the dialog, the port, and how the run ends.
#include <gtest/gtest.h>

#include <algorithm>

#include "MasterCpuFiles.h"
#include "WriteRunBench.h"
#include "writing/WriteTexts.h"

namespace qrb {
namespace {

using sim::AnswerSelector;
using sim::Step;
using test::DataRun;
using test::MasterBench;
using test::Ms;
using test::PatternRun;

const std::string kRunning = kRunningText;
const std::string kFailure = kFailureText;

// Lines of the host's log from the first one that starts with `from`.
std::vector<std::string> LogFrom(const test::RecordingHost& host, const std::string& from) {
    auto it = std::find_if(host.log.begin(), host.log.end(),
                           [&](const std::string& line) { return line.rfind(from, 0) == 0; });
    return {it, host.log.end()};
}

// Log lines without the bar positions, which the transfer tests check.
std::vector<std::string> Steps(const test::RecordingHost& host) {
    std::vector<std::string> steps;
    for (const std::string& line : host.log) {
        if (line.find(" pos ") == std::string::npos && line.find(" range ") == std::string::npos) {
            steps.push_back(line);
        }
    }
    return steps;
}

TEST(RunWrite, CompletedWriteEndsConfirmedWithTheChecksumShown) {
    MasterBench bench;
    const auto image = bench.selectFile({PatternRun(0x5000, 0x3000), PatternRun(0, 0x200)});

    EXPECT_EQ(bench.run.RunWrite(), RunOutcome::Completed);

    const std::string checksum = bench.run.framework().ChecksumText;
    ASSERT_EQ(checksum.rfind("CHECKSUM\r\n", 0), 0u);
    const std::vector<std::string> expected = {
        "text " + kRunning, "lamp 2",
        "version 0 0100",   "bar1 show",
        "bar2 show",        "bar1 hide",
        "bar2 hide",        "lamp 5",
        "dialog hide",      "text " + checksum + kCompletionText,
        "ask ok",           "dialog close",
        "bar1 hide",        "bar2 hide",
        "lamp 5",           "dialog close"};
    EXPECT_EQ(Steps(bench.host), expected);
    EXPECT_TRUE(bench.state.StopRequested);
    EXPECT_FALSE(bench.line.isOpen());
    EXPECT_TRUE(bench.radio.endCommandReceived());
    EXPECT_EQ(bench.radio.acceptedBlocks(), test::ExpectedBlockOrder());
    EXPECT_EQ(bench.radio.memory()[0x5000], image[0x5000]);
    EXPECT_TRUE(bench.radio.violationTexts().empty());
}

TEST(RunWrite, FailedTransferRetriedOnOkEndsByteExactWithTheKeyFromTheStart) {
    MasterBench bench({}, {}, [] {
        sim::MasterFaults faults;
        faults.refusals = {{700, 3, 1}};  // the first attempt fails at block 860
        return faults;
    }());
    // An encoded file: the second reading decodes right only from key index 0.
    std::vector<std::string> lines;
    std::vector<DataRun> runs;
    for (int salt = 0; salt < 256; ++salt) {
        runs = {PatternRun(0x5000 + 0x80 * 690, 0x800, static_cast<std::uint8_t>(salt)),
                PatternRun(0x0000, 0x40, static_cast<std::uint8_t>(salt))};
        lines = test::EncodeLines(test::SRecordLines(runs));
        if (test::IsReadableAsLines(lines))
            break;
    }
    ASSERT_TRUE(test::IsReadableAsLines(lines));
    bench.state.SelectedFileName = test::WriteLines(bench.folder.file("enc.SFL"), lines);
    bench.host.problemAnswers = {true};

    EXPECT_EQ(bench.run.RunWrite(), RunOutcome::Completed);

    EXPECT_EQ(bench.line.opens(), 2);
    const std::vector<std::string> retry = {"bar1 hide",   "bar2 hide",        "lamp 4",
                                            "dialog hide", "text " + kFailure, "ask problem",
                                            "dialog show", "text " + kRunning, "lamp 2"};
    const auto steps = Steps(bench.host);
    EXPECT_NE(std::search(steps.begin(), steps.end(), retry.begin(), retry.end()), steps.end());
    const auto image = test::ImageOf(runs);
    for (std::size_t offset : {std::size_t{0}, std::size_t{0x3F}, std::size_t{0x5000 + 0x80 * 690},
                               std::size_t{0x5000 + 0x80 * 700 + 5}}) {
        EXPECT_EQ(bench.radio.memory()[offset], image[offset]) << "offset " << offset;
    }
    EXPECT_EQ(bench.radio.memorySum(), test::SumOf([&] {
                  auto sent = image;  // blocks never sent stay erased in the radio
                  std::fill(sent.begin() + 0x200, sent.begin() + 0x1180, 0xFF);
                  std::fill(sent.begin() + 0x3000, sent.begin() + 0x5000, 0xFF);
                  return sent;
              }()));
}

TEST(RunWrite, FailedHandshakeRetriedThenCancelled) {
    sim::RadioConfig silentRadio;
    silentRadio.readyInterval = sim::Micros(0);
    MasterBench bench({}, silentRadio);
    bench.selectFile({});
    bench.host.problemAnswers = {true, false};

    EXPECT_EQ(bench.run.RunWrite(), RunOutcome::Ended);

    const std::vector<std::string> expected = {
        "text " + kRunning, "lamp 2",           "lamp 4", "text " + kFailure,
        "ask problem",      "text " + kRunning, "lamp 2", "lamp 4",
        "text " + kFailure, "ask problem",      "lamp 5", "dialog close"};
    EXPECT_EQ(bench.host.log, expected);
    EXPECT_EQ(bench.line.opens(), 2);
    EXPECT_FALSE(bench.line.isOpen());
    EXPECT_GE(bench.line.now(), Ms(2 * 5000));
    EXPECT_LE(bench.line.now(), Ms(2 * 5002));
}

TEST(RunWrite, OkBoxClosedWithoutOkCountsAsAFailedAttempt) {
    MasterBench bench;
    bench.selectFile({});
    bench.host.okAnswers = {false};
    bench.host.problemAnswers = {false};

    EXPECT_EQ(bench.run.RunWrite(), RunOutcome::Ended);

    const std::vector<std::string> expected = {"ask ok",      "bar1 hide",   "bar2 hide",
                                               "lamp 4",      "dialog hide", "text " + kFailure,
                                               "ask problem", "lamp 5",      "dialog close"};
    EXPECT_EQ(LogFrom(bench.host, "ask ok"), expected);
    EXPECT_TRUE(bench.radio.endCommandReceived());
}

TEST(RunWrite, CancelDuringTheTransferClosesTheDialogWithoutABox) {
    MasterBench bench;
    bench.selectFile({});
    bench.pressCancelAt(Ms(3000));

    EXPECT_EQ(bench.run.RunWrite(), RunOutcome::Ended);

    EXPECT_EQ(bench.host.problemBoxes, 0);
    EXPECT_EQ(bench.host.okBoxes, 0);
    EXPECT_EQ(bench.host.lastLamp(), 5);
    EXPECT_FALSE(bench.host.bar1.visible || bench.host.bar2.visible);
    EXPECT_EQ(bench.host.log.back(), "dialog close");
    EXPECT_FALSE(bench.radio.endCommandReceived());
    EXPECT_LT(bench.radio.frames().size(), 1953u);
}

TEST(RunWrite, CancelDuringTheHandshakeEndsTheRunWhateverTheBoxAnswer) {
    for (bool answer : {true, false}) {
        sim::MasterFaults faults;
        faults.silentFrom = AnswerSelector{Step::Identification, 0, 1};
        MasterBench bench({}, {}, faults);
        bench.selectFile({});
        bench.host.problemAnswers = {answer};
        bench.pressCancelAt(Ms(400));  // while the identification is awaited

        EXPECT_EQ(bench.run.RunWrite(), RunOutcome::Ended);

        EXPECT_EQ(bench.host.problemBoxes, 1);
        EXPECT_EQ(bench.line.opens(), 1) << "no further attempt";
        EXPECT_FALSE(bench.line.isOpen());
        EXPECT_EQ(bench.host.lastLamp(), answer ? 4 : 5);
    }
}

TEST(RunWrite, CancelUnderContinuousNoiseEndsTheRun) {
    sim::MasterFaults faults;
    faults.garbageInstead = AnswerSelector{Step::Ready, 0, sim::kEvery};
    MasterBench bench({}, {}, faults);
    bench.selectFile({});
    bench.pressCancelAt(Ms(60000));
    test::FailIfStillRunningAt(bench.line, Ms(70000));

    EXPECT_EQ(bench.run.RunWrite(), RunOutcome::Ended);
    EXPECT_EQ(bench.host.problemBoxes, 1);
    EXPECT_GE(bench.line.now(), Ms(60000));
    EXPECT_LT(bench.line.now(), Ms(60010));
}

TEST(RunWrite, PortVanishingDuringTheTransferLeadsToTheFailureBox) {
    sim::MasterFaults faults;
    faults.vanishAfterFrame = 300;
    MasterBench bench({}, {}, faults);
    bench.selectFile({});
    bench.host.problemAnswers = {true, false};  // try again once, then give up

    EXPECT_EQ(bench.run.RunWrite(), RunOutcome::Ended);

    EXPECT_EQ(bench.host.problemBoxes, 2);
    EXPECT_EQ(bench.line.opens(), 1) << "the second attempt cannot open the port";
    EXPECT_FALSE(bench.line.isOpen());
    EXPECT_EQ(bench.host.lastLamp(), 5);
    EXPECT_FALSE(bench.radio.endCommandReceived());
}

TEST(RunWrite, UnreadableOrRefusedFileEndsTheRunBeforeAnyFrame) {
    struct Case {
        const char* what;
        std::vector<std::string> lines;  // empty: the file does not exist
    };
    const Case cases[] = {
        {"missing file", {}},
        {"record field that is not hexadecimal", {"S00600004844521B", "S1130000ZZ"}},
        {"data beyond the 256 KiB image", {"S00600004844521B", "S30900040000AABBCC00"}},
    };
    for (const Case& c : cases) {
        MasterBench bench;
        bench.state.SelectedFileName = bench.folder.file("bad.SFL").string();
        if (!c.lines.empty())
            test::WriteLines(bench.state.SelectedFileName, c.lines);

        EXPECT_EQ(bench.run.RunWrite(), RunOutcome::FileError) << c.what;

        EXPECT_TRUE(bench.radio.frames().empty()) << c.what;
        EXPECT_FALSE(bench.line.isOpen()) << c.what;
        EXPECT_EQ(bench.host.lastLamp(), 5) << c.what;
        ASSERT_EQ(bench.host.errors.size(), 1u) << c.what;
        EXPECT_FALSE(bench.host.errors[0].empty()) << c.what;
        EXPECT_EQ(bench.host.problemBoxes, 0) << c.what;
        EXPECT_EQ(bench.host.dialogCloses, 0) << c.what << ": the dialog waits for Cancel";
        EXPECT_FALSE(bench.host.bar1.visible || bench.host.bar2.visible) << c.what;
    }
}

}  // namespace
}  // namespace qrb
