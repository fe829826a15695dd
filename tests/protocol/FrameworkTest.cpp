// The receive framework on a scripted line: how arrivals are counted and
// stored, how the time-out is armed, and that a wait blocks instead of
// spinning. The radio model is not needed for these; the line here hands out
// exactly the arrivals and short reads a case asks for.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <optional>
#include <stdexcept>
#include <vector>

#include "RecordingHost.h"
#include "writing/WriteFramework.h"
#include "writing/WriteTexts.h"

namespace qrb {
namespace {

using std::chrono::milliseconds;

// A line with a millisecond clock: arrivals at fixed times, one receive timer,
// and a receive() that may be told to deliver fewer bytes than announced.
class ScriptedLine : public Line {
  public:
    struct Arrival {
        long atMs;
        std::vector<std::uint8_t> bytes;
    };

    std::deque<Arrival> arrivals;
    int shortReadBy = 0;  // receive() hands out this many bytes less
    long nowMs = 0;
    int waits = 0;
    std::vector<std::uint8_t> sent;
    std::vector<long> sendTimes;
    std::vector<long> armedIntervals;

    void setEvents(LineEvents* events) override { events_ = events; }
    void configure(const PortSettings&) override {}
    void open() override { open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    bool sendByte(std::uint8_t value) override {
        sent.push_back(value);
        sendTimes.push_back(nowMs);
        return open_;
    }
    int receive(std::uint8_t* buffer, int count) override {
        const int available = std::min<int>(count, static_cast<int>(waiting_.size()));
        const int n = std::max(available - shortReadBy, 0);
        std::copy_n(waiting_.begin(), n, buffer);
        // What was not handed out is lost, like the tail of a failed read.
        waiting_.erase(waiting_.begin(), waiting_.begin() + available);
        return n;
    }
    void sleep(milliseconds d) override { nowMs += d.count(); }
    void processPendingEvents() override { deliverDue(); }
    void waitForEvents() override {
        ++waits;
        if (deliverDue())
            return;
        std::optional<long> next;
        if (!arrivals.empty())
            next = arrivals.front().atMs;
        if (timerDue_ && (!next || *timerDue_ < *next))
            next = *timerDue_;
        if (!next) {
            ADD_FAILURE() << "a wait with nothing scheduled would block for ever";
            throw std::runtime_error("nothing scheduled");
        }
        nowMs = std::max(nowMs, *next);
        deliverDue();
    }
    void armReceiveTimer(milliseconds interval) override {
        armedIntervals.push_back(interval.count());
        timerDue_ = nowMs + interval.count();
    }
    void disableReceiveTimer() override { timerDue_.reset(); }

    std::optional<long> timerDue() const { return timerDue_; }

  private:
    // Arrivals first, then the timer, in time order.
    bool deliverDue() {
        bool any = false;
        for (;;) {
            const bool arrivalDue = !arrivals.empty() && arrivals.front().atMs <= nowMs;
            const bool timerDue = timerDue_ && *timerDue_ <= nowMs;
            if (arrivalDue && (!timerDue || arrivals.front().atMs <= *timerDue_)) {
                waiting_ = arrivals.front().bytes;
                arrivals.pop_front();
                events_->lineReceived(static_cast<int>(waiting_.size()));
            } else if (timerDue) {
                timerDue_.reset();
                events_->receiveTimerFired();
            } else {
                return any;
            }
            any = true;
        }
    }

    LineEvents* events_ = nullptr;
    bool open_ = true;
    std::optional<long> timerDue_;
    std::vector<std::uint8_t> waiting_;
};

class FrameworkTest : public ::testing::Test {
  protected:
    ScriptedLine line;
    test::RecordingHost host;
    SharedState state;
    WriteFramework fw{line, host, state};
};

TEST_F(FrameworkTest, ArrivalsAreAppendedAndTheTimerRearmedWith5000) {
    line.arrivals = {{10, {1, 2}}, {20, {3}}};
    ASSERT_TRUE(fw.WaitForReply(3, milliseconds(500)));
    EXPECT_EQ(fw.ReceivedCount, 3);
    EXPECT_EQ(fw.ReceiveBuffer[0], 1);
    EXPECT_EQ(fw.ReceiveBuffer[2], 3);
    // The wait's own arming, then one 5000 arming per arrival.
    EXPECT_EQ(line.armedIntervals, (std::vector<long>{500, 5000, 5000}));
    EXPECT_FALSE(line.timerDue().has_value()) << "the wait disables the timer when it ends";
}

TEST_F(FrameworkTest, ShortReadCountsOnlyTheBytesActuallyRead) {
    fw.ReceiveBuffer.fill(0xAA);
    line.shortReadBy = 2;
    line.arrivals = {{5, {0x50, 0x41, 0x4E, 0x45}}};
    EXPECT_FALSE(fw.WaitForReply(4, milliseconds(100)));
    EXPECT_EQ(fw.ReceivedCount, 2);
    EXPECT_EQ(fw.ReceiveBuffer[2], 0xAA) << "no zero byte stands in for a missing one";
    EXPECT_GE(line.nowMs, 5 + 5000) << "after an arrival, silence ends the wait only after 5 s";
}

TEST_F(FrameworkTest, BytesBeyondTheBufferAreCountedButDropped) {
    std::vector<std::uint8_t> burst(2100);
    for (std::size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<std::uint8_t>(i % 251);
    line.arrivals = {{1, std::vector<std::uint8_t>(burst.begin(), burst.begin() + 1000)},
                     {2, std::vector<std::uint8_t>(burst.begin() + 1000, burst.end())}};
    ASSERT_TRUE(fw.WaitForReply(2100, milliseconds(500)))
        << "a count above the buffer size can complete";
    EXPECT_EQ(fw.ReceivedCount, 2100);
    EXPECT_EQ(fw.ReceiveBuffer[2047], burst[2047]);
    EXPECT_EQ(fw.ReceiveBuffer[1000], burst[1000]);
}

TEST_F(FrameworkTest, FirstByteTimeoutThenFiveSecondsOfSilence) {
    struct Case {
        const char* what;
        std::deque<ScriptedLine::Arrival> arrivals;
        int count;
        int timeoutMs;
        bool expected;
        long endsAtMs;
    };
    const Case cases[] = {
        {"nothing comes", {}, 1, 500, false, 500},
        {"first byte at 400 ms of 500", {{400, {1}}}, 2, 500, false, 5400},
        {"second byte 4.9 s after the first", {{400, {1}}, {5300, {2}}}, 2, 500, true, 5300},
        {"second byte 5 s after the first is too late",
         {{400, {1}}, {5401, {2}}},
         2,
         500,
         false,
         5400},
        {"first byte after the first-byte time-out", {{600, {1}}}, 1, 500, false, 500},
    };
    for (const Case& c : cases) {
        ScriptedLine scripted;
        test::RecordingHost recorder;
        SharedState shared;
        WriteFramework framework(scripted, recorder, shared);
        scripted.arrivals = c.arrivals;
        EXPECT_EQ(framework.WaitForReply(c.count, milliseconds(c.timeoutMs)), c.expected) << c.what;
        EXPECT_EQ(scripted.nowMs, c.endsAtMs) << c.what;
    }
}

TEST_F(FrameworkTest, WaitBlocksOncePerEventInsteadOfSpinning) {
    line.arrivals = {{100, {1}}, {200, {2}}, {300, {3}}};
    ASSERT_TRUE(fw.WaitForReply(3, milliseconds(500)));
    EXPECT_EQ(line.waits, 3);
}

TEST_F(FrameworkTest, WaitDoesNotClearTheCount) {
    fw.ReceivedCount = 5;
    EXPECT_TRUE(fw.WaitForReply(5, milliseconds(500)));
    EXPECT_EQ(line.nowMs, 0);
}

TEST(ByteSum, SumsModulo256) {
    const std::uint8_t bytes[] = {0x65, 0x01, 0x50, 0x4A, 0xFF, 0x02};
    EXPECT_EQ(WriteFramework::ByteSum(bytes, 4), 0x00);  // identification command is zero-sum
    EXPECT_EQ(WriteFramework::ByteSum(bytes, 6), 0x01);
    EXPECT_EQ(WriteFramework::ByteSum(bytes, 1), 0x65);
    EXPECT_EQ(WriteFramework::ByteSum(bytes, 0), 0x00);
    EXPECT_EQ(WriteFramework::ByteSum(bytes, -3), 0x00);
}

TEST_F(FrameworkTest, EndCommandPausesAfterEachByteAndWaitsForItsEcho) {
    fw.ReceivedCount = 40;
    line.arrivals = {{6, {0x38, 0x01, 0x39}}};
    EXPECT_TRUE(fw.SendEndCommand());
    EXPECT_EQ(line.sent, (std::vector<std::uint8_t>{0x38, 0x01, 0x39}));
    EXPECT_EQ(line.sendTimes, (std::vector<long>{0, 2, 4}));
    EXPECT_EQ(fw.ReceivedCount, 3) << "the count was cleared before sending";
}

TEST_F(FrameworkTest, EndCommandWithoutEchoFailsAfter500Ms) {
    EXPECT_FALSE(fw.SendEndCommand());
    EXPECT_EQ(line.nowMs, 6 + 500);
}

TEST_F(FrameworkTest, ClosingSequenceAfterASuccessfulWrite) {
    line.arrivals = {{6, {0x38, 0x01, 0x39}}};
    host.okAnswers = {true};
    fw.FinishSuccessfulWrite("CHECKSUM");
    EXPECT_FALSE(line.isOpen());
    EXPECT_TRUE(state.StopRequested);
    EXPECT_EQ(host.lastText(), std::string("CHECKSUM") + kCompletionText);
    const std::vector<std::string> expected = {
        "bar1 hide", "bar2 hide",   "lamp 5", "dialog hide", "text " + host.lastText(),
        "ask ok",    "dialog close"};
    EXPECT_EQ(host.log, expected);
}

TEST_F(FrameworkTest, OkBoxClosedWithoutOkLeavesTheRunGoing) {
    host.okAnswers = {false};
    fw.FinishSuccessfulWrite("");
    EXPECT_FALSE(state.StopRequested);
    EXPECT_EQ(host.dialogCloses, 0);
    EXPECT_EQ(host.lastText(), kCompletionText);
}

}  // namespace
}  // namespace qrb
