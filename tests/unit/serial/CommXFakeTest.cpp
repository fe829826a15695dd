// The serial component against an in-memory port: the order of Open and
// Close, the settings, how sends are cut and counted, purges, the RTS
// bursts, line events, and the waits that must never block each other.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <numeric>
#include <thread>

#include "FakePortBackend.h"
#include "PtyPair.h"
#include "serial/CommX.h"

namespace qrb {
namespace {

using namespace std::chrono_literals;
using test::FakePort;
using test::PumpFor;
using test::PumpUntil;
using Clock = std::chrono::steady_clock;

class CommXFakeTest : public ::testing::Test {
  protected:
    FakePort port;
    TCommX comm{nullptr, test::FakeOptions(port)};

    void SetUp() override {
        comm.OnReceive = [this](TCustomCommX* sender, int size) {
            EXPECT_EQ(sender, &comm);
            receiveSizes.push_back(size);
            std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));
            EXPECT_EQ(comm.Receive(buffer.data(), size), size);
            received.insert(received.end(), buffer.begin(), buffer.end());
        };
        comm.OnBreak = [this](TCustomCommX*) { ++breaks; };
        comm.OnError = [this](TCustomCommX*, int state) { errors.push_back(state); };
    }

    std::vector<int> receiveSizes;
    std::vector<std::uint8_t> received;
    int breaks = 0;
    std::vector<int> errors;
};

TEST_F(CommXFakeTest, DefaultsAreThoseOfTheComponent) {
    EXPECT_EQ(comm.PortNo(), 1);
    EXPECT_EQ(comm.BitRate(), 9600);
    EXPECT_EQ(comm.CharSize(), 8);
    EXPECT_EQ(comm.ParityBit(), TCommParityBits::cpbNone);
    EXPECT_EQ(comm.StopBit(), TCommStopBits::csb1);
    EXPECT_EQ(comm.FlowCtrl(), TCommFlowCtrls::cfcRtsCts);
    EXPECT_EQ(comm.TimeOutTrans(), 3000);
    EXPECT_EQ(comm.TimeOutReceive(), 3000);
    EXPECT_EQ(comm.XonChar(), 17);
    EXPECT_EQ(comm.XoffChar(), 19);
    EXPECT_EQ(comm.BufLenTrans(), 2048);
    EXPECT_EQ(comm.BufLenReceive(), 2048);
    EXPECT_EQ(comm.Handle(), 0xFFFFFFFFu);
    EXPECT_FALSE(comm.OnReceive == nullptr);  // assigned by the fixture
}

TEST_F(CommXFakeTest, SettersWhileClosedOnlyStore) {
    comm.setBitRate(38400);
    comm.setStopBit(TCommStopBits::csb2);
    comm.setFlowCtrl(TCommFlowCtrls::cfcNone);
    comm.setPortNo(7);
    EXPECT_TRUE(port.calls().empty());
    EXPECT_EQ(comm.BitRate(), 38400);
    EXPECT_EQ(comm.PortNo(), 7);
}

TEST_F(CommXFakeTest, OpenAppliesEverythingInItsOrder) {
    comm.setPortNo(5);
    comm.setBitRate(38400);
    comm.setStopBit(TCommStopBits::csb2);
    comm.setTimeOutReceive(5000);
    comm.setBufLenReceive(1000);
    comm.Open();
    EXPECT_EQ(comm.Handle(), 42u);

    const std::vector<std::string> expected = {
        "open fake5",  "setupQueues 1000 2048",
        "purgeOutput", "purgeInput",
        "getState",    "setState",
        "setState",    "setState",
        "setState",    "setState",
        "setTimeouts", "setState",
        "setState",    "setEventMask 193",
    };
    const auto calls = port.calls();
    ASSERT_GE(calls.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + expected.size()), expected);

    const auto states = port.states();
    ASSERT_EQ(states.size(), 7u);
    EXPECT_EQ(states[0].baudRate, 38400u);
    EXPECT_EQ(states[1].byteSize, 8);
    EXPECT_EQ(states[2].parity, 0);
    EXPECT_EQ(states[3].stopBits, 2);
    EXPECT_EQ(states[4].flags, 0x2017u);  // FlowCtrl cfcRtsCts applied ...
    EXPECT_EQ(states[4].xonLimit, 250);
    EXPECT_EQ(states[4].xoffLimit, 250);
    EXPECT_EQ(states[5].flags, 0x1011u);  // ... then no handshake from XonChar on
    EXPECT_EQ(states[6].flags, 0x1011u);
    EXPECT_EQ(states[6].xonChar, 17);
    EXPECT_EQ(states[6].xoffChar, 19);

    const auto timeouts = port.timeoutRecords();
    ASSERT_EQ(timeouts.size(), 1u);
    EXPECT_EQ(timeouts[0], (CommTimeouts{0xFFFFFFFF, 0, 5000, 0, 3000}));
    EXPECT_EQ(comm.CharDelay(), 1);

    comm.Close();
    EXPECT_EQ(comm.Handle(), 0xFFFFFFFFu);
    EXPECT_EQ(comm.StoredLineSettings().flags, 0x1001u);
    EXPECT_EQ(port.states().back().flags, 0x1001u);
    EXPECT_EQ(port.calls().back(), "close");
}

TEST_F(CommXFakeTest, CloseOnAClosedComponentDoesNothing) {
    comm.Close();
    comm.Close();
    EXPECT_TRUE(port.calls().empty());
    comm.Open();
    comm.Close();
    const auto callsAfterOne = port.calls().size();
    comm.Close();
    EXPECT_EQ(port.calls().size(), callsAfterOne);
}

TEST_F(CommXFakeTest, FlowCtrlWhileOpenSetsItsControlWord) {
    const struct {
        TCommFlowCtrls flow;
        std::uint32_t word;
    } cases[] = {
        {TCommFlowCtrls::cfcRtsCts, 0x2017},  {TCommFlowCtrls::cfcDtrDsr, 0x102B},
        {TCommFlowCtrls::cfcXonXoff, 0x1313}, {TCommFlowCtrls::cfcHalfHigh, 0x0013},
        {TCommFlowCtrls::cfcHalfLow, 0x1013}, {TCommFlowCtrls::cfcNone, 0x1013},
    };
    comm.Open();
    for (const auto& c : cases) {
        comm.setFlowCtrl(c.flow);
        EXPECT_EQ(port.states().back().flags, c.word) << static_cast<int>(c.flow);
        EXPECT_EQ(port.states().back().xonLimit, 512);
    }
    comm.setBufLenReceive(400);  // queue sizes, then the flow limits again
    EXPECT_EQ(port.calls()[port.calls().size() - 2], "setupQueues 400 2048");
    EXPECT_EQ(port.states().back().xoffLimit, 100);
    EXPECT_EQ(port.states().back().flags, 0x1013u);
}

TEST_F(CommXFakeTest, SetterFailuresWhileOpenRaiseTheirTextAndKeepTheValue) {
    struct Case {
        const char* text;
        std::function<void()> assign;
        std::function<bool()> stored;
    };
    const Case cases[] = {
        {CommErrorText::kBitRate, [&] { comm.setBitRate(19200); },
         [&] { return comm.BitRate() == 19200; }},
        {CommErrorText::kCharSize, [&] { comm.setCharSize(7); },
         [&] { return comm.CharSize() == 7; }},
        {CommErrorText::kParity, [&] { comm.setParityBit(TCommParityBits::cpbEven); },
         [&] { return comm.ParityBit() == TCommParityBits::cpbEven; }},
        {CommErrorText::kStopBits, [&] { comm.setStopBit(TCommStopBits::csb1p5); },
         [&] { return comm.StopBit() == TCommStopBits::csb1p5; }},
        {CommErrorText::kFlowCtrl, [&] { comm.setFlowCtrl(TCommFlowCtrls::cfcXonXoff); },
         [&] { return comm.FlowCtrl() == TCommFlowCtrls::cfcXonXoff; }},
        {CommErrorText::kXonChar, [&] { comm.setXonChar(0x11); },
         [&] { return comm.XonChar() == 0x11; }},
        {CommErrorText::kXoffChar, [&] { comm.setXoffChar(0x13); },
         [&] { return comm.XoffChar() == 0x13; }},
        {CommErrorText::kBuffers, [&] { comm.setBufLenTrans(0); },
         [&] { return comm.BufLenTrans() == 0; }},
    };
    comm.Open();
    port.setRefuseSettings(true);
    for (const Case& c : cases) {
        try {
            c.assign();
            ADD_FAILURE() << "no exception for " << c.text;
        } catch (const ECommError& error) {
            EXPECT_STREQ(error.what(), c.text);
        }
        EXPECT_TRUE(c.stored()) << c.text;
        EXPECT_TRUE(comm.IsOpen()) << c.text;
    }
    // A block size below 1 must not hang Send.
    EXPECT_TRUE(comm.Send("abc", 3));
    port.setRefuseSettings(false);
}

TEST_F(CommXFakeTest, FailedOpenClosesThePortAndCanBeRepeated) {
    port.setRefuseSettingsAfter(2);  // BitRate and CharSize pass, ParityBit fails
    try {
        comm.Open();
        FAIL() << "Open should fail";
    } catch (const ECommError& error) {
        EXPECT_STREQ(error.what(), CommErrorText::kParity);
    }
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_EQ(comm.Handle(), 0xFFFFFFFFu);
    EXPECT_EQ(port.calls().back(), "close");

    port.setRefuseSettings(false);
    comm.Open();
    EXPECT_TRUE(comm.IsOpen());
}

TEST_F(CommXFakeTest, OpenFailuresOfTheDeviceAndOfTheThreads) {
    port.setOpenError(std::make_error_code(std::errc::permission_denied));
    try {
        comm.Open();
        FAIL();
    } catch (const ECommError& error) {
        EXPECT_STREQ(error.what(), "Port Open Error");
    }
    EXPECT_EQ(comm.LastOpenError(), std::errc::permission_denied);
    EXPECT_EQ(comm.Handle(), 0xFFFFFFFFu);

    port.setOpenError({});
    comm.setBitRate(9);  // no character time: the transmit thread cannot be set up
    try {
        comm.Open();
        FAIL();
    } catch (const ECommError& error) {
        // The fake accepts any rate, so the thread set-up is what fails.
        EXPECT_STREQ(error.what(), CommErrorText::kTransmitThread);
    }
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(comm.LastOpenError());
}

TEST(CommXCharDelayTest, IsOneCharacterTimePlusOne) {
    const struct {
        int bitRate;
        int delay;
    } cases[] = {{38400, 1}, {9600, 2}, {1200, 9}, {300, 34}, {10, 1001},
                 {19, 1001}, {20, 501}, {9, -1},   {0, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(TCustomCommX::CharDelayFor(c.bitRate), c.delay) << c.bitRate;
    }
}

TEST_F(CommXFakeTest, BitRateWhileOpenRecomputesCharDelay) {
    comm.Open();
    EXPECT_EQ(comm.CharDelay(), 2);
    comm.setBitRate(38400);
    EXPECT_EQ(comm.CharDelay(), 1);
    EXPECT_EQ(port.states().back().baudRate, 38400u);
}

TEST_F(CommXFakeTest, SendCutsIntoBlocksOfBufLenTrans) {
    comm.Open();
    std::vector<std::uint8_t> data(5000);
    std::iota(data.begin(), data.end(), 0);
    EXPECT_TRUE(comm.Send(data.data(), 5000));
    ASSERT_TRUE(port.waitFor([&] { return port.written().size() == 5000; }, 2s));
    EXPECT_EQ(port.writtenBlocks(), (std::vector<std::size_t>{2048, 2048, 904}));
    EXPECT_EQ(port.written(), data);
    ASSERT_TRUE(port.waitFor([&] { return comm.PendingBlocks() == 0; }, 2s));
    EXPECT_EQ(comm.PendingBytes(), 0);
}

TEST_F(CommXFakeTest, SendOfNothingOrOnAClosedPort) {
    EXPECT_TRUE(comm.Send(nullptr, 0));
    EXPECT_FALSE(comm.Send("x", 1));
    EXPECT_FALSE(comm.SendByte(0x55));
    EXPECT_EQ(comm.Receive(received.data(), 1), -1);
    EXPECT_EQ(comm.InQueueCount(), 0);
    comm.Open();
    EXPECT_TRUE(comm.Send("x", 0));
    EXPECT_FALSE(comm.Send(nullptr, 4));  // no source: nothing queued
    EXPECT_EQ(comm.PendingBlocks(), 0);
}

TEST_F(CommXFakeTest, The33rdBlockWaitsWhileEventsRun) {
    comm.Open();
    port.setStallWrites(true);
    for (int i = 0; i < 32; ++i) {
        ASSERT_TRUE(comm.SendByte(static_cast<std::uint8_t>(i)));
    }
    EXPECT_EQ(comm.PendingBlocks(), 32);
    bool timerRan = false;
    QTimer::singleShot(30, [&] {
        timerRan = true;
        EXPECT_EQ(comm.PendingBlocks(), 32);  // the 33rd is not queued yet
        port.setStallWrites(false);
    });
    const auto start = Clock::now();
    EXPECT_TRUE(comm.SendByte(32));
    EXPECT_TRUE(timerRan);
    EXPECT_GE(Clock::now() - start, 25ms);
    ASSERT_TRUE(port.waitFor([&] { return port.written().size() == 33; }, 2s));
    std::vector<std::uint8_t> expected(33);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(port.written(), expected);
}

TEST_F(CommXFakeTest, SendEachQueuesOneBlockPerByteInOrder) {
    comm.Open();
    std::vector<std::uint8_t> frame(133);
    std::iota(frame.begin(), frame.end(), 0);
    for (int run = 0; run < 20; ++run) {  // a thread asleep between runs is woken each time
        ASSERT_TRUE(comm.SendEach(frame.data(), static_cast<int>(frame.size())));
        ASSERT_TRUE(port.waitFor([&] { return comm.PendingBlocks() == 0; }, 2s)) << run;
    }
    const auto written = port.written();
    ASSERT_EQ(written.size(), 20 * frame.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        ASSERT_EQ(written[i], frame[i % frame.size()]) << i;
    }
    const auto blocks = port.writtenBlocks();
    EXPECT_EQ(blocks, std::vector<std::size_t>(blocks.size(), 1));
    EXPECT_EQ(comm.PendingBytes(), 0);
}

TEST_F(CommXFakeTest, SendEachWaitsForRoomAtThe33rdByteWhileEventsRun) {
    comm.Open();
    port.setStallWrites(true);
    bool timerRan = false;
    QTimer::singleShot(30, [&] {
        timerRan = true;
        EXPECT_EQ(comm.PendingBlocks(), 32);
        port.setStallWrites(false);
    });
    std::vector<std::uint8_t> data(40);
    std::iota(data.begin(), data.end(), 0);
    EXPECT_TRUE(comm.SendEach(data.data(), 40));
    EXPECT_TRUE(timerRan);
    ASSERT_TRUE(port.waitFor([&] { return port.written().size() == 40; }, 2s));
    EXPECT_EQ(port.written(), data);
    EXPECT_FALSE(TCommX(nullptr, test::FakeOptions(port)).SendEach(data.data(), 1));  // closed
}

TEST_F(CommXFakeTest, SendWaitingForRoomGivesUpWhenAHandlerCloses) {
    comm.Open();
    port.setStallWrites(true);
    for (int i = 0; i < 32; ++i) {
        comm.SendByte(1);
    }
    QTimer::singleShot(10, [&] { comm.Close(); });
    EXPECT_FALSE(comm.SendByte(2));
    EXPECT_FALSE(comm.IsOpen());
}

TEST_F(CommXFakeTest, AFailedHandOverIsUndone) {
    CommXOptions options = test::FakeOptions(port);
    options.handOverCapacity = 4;
    TCommX small(nullptr, options);
    small.Open();
    port.setStallWrites(true);
    ASSERT_TRUE(small.SendByte('A'));
    ASSERT_TRUE(port.waitFor([&] { return port.writeAttempts() > 0; }, 2s));  // 'A' is taken
    for (const char byte : std::string("BCDEFGHIJ")) {  // four fit into the queue, five do not
        EXPECT_TRUE(small.SendByte(static_cast<std::uint8_t>(byte)));
    }
    EXPECT_EQ(small.PendingBlocks(), 5);
    EXPECT_EQ(small.PendingBytes(), 5);
    port.setStallWrites(false);
    ASSERT_TRUE(port.waitFor([&] { return small.PendingBlocks() == 0; }, 2s));
    EXPECT_EQ(small.PendingBytes(), 0);
    const auto written = port.written();
    EXPECT_EQ(std::string(written.begin(), written.end()), "ABCDE");
    small.PurgeTransmit();  // must not wait for the refused blocks
    small.Close();
}

TEST_F(CommXFakeTest, PurgeTransmitFreesEveryBlockAndZeroesTheCounters) {
    comm.Open();
    port.setStallWrites(true);
    std::vector<std::uint8_t> data(5000, 0xAA);
    comm.Send(data.data(), 5000);
    for (int i = 0; i < 20; ++i) {
        comm.SendByte(0xBB);
    }
    EXPECT_EQ(comm.PendingBlocks(), 23);
    comm.PurgeTransmit();
    EXPECT_EQ(comm.PendingBytes(), 0);
    EXPECT_EQ(comm.PendingBlocks(), 0);
    port.setStallWrites(false);
    comm.SendByte(0xCC);
    ASSERT_TRUE(port.waitFor([&] { return !port.written().empty(); }, 2s));
    EXPECT_EQ(port.written(), std::vector<std::uint8_t>{0xCC});  // nothing purged came out
}

TEST_F(CommXFakeTest, AWriteThatTimesOutDropsTheRestOfItsBlockOnly) {
    comm.setTimeOutTrans(30);
    comm.Open();
    port.setStallWrites(true);
    comm.Send("ab", 2);
    ASSERT_TRUE(port.waitFor([&] { return comm.PendingBlocks() == 0; }, 2s));
    port.setStallWrites(false);
    comm.Send("cd", 2);
    ASSERT_TRUE(port.waitFor([&] { return port.written().size() == 2; }, 2s));
    EXPECT_EQ(port.written(), (std::vector<std::uint8_t>{'c', 'd'}));
}

TEST_F(CommXFakeTest, HalfDuplexRaisesAndDropsRtsAroundEachBurst) {
    comm.setFlowCtrl(TCommFlowCtrls::cfcHalfHigh);
    comm.Open();
    comm.Send("abc", 3);
    ASSERT_TRUE(port.waitFor([&] { return port.rtsChanges().size() == 2; }, 2s));
    EXPECT_EQ(port.rtsChanges(), (std::vector<bool>{true, false}));
    const auto calls = port.calls();
    EXPECT_EQ(calls[calls.size() - 2], "waitUntilSent");  // RTS turns after the bytes left

    comm.setFlowCtrl(TCommFlowCtrls::cfcHalfLow);
    comm.Send("d", 1);
    ASSERT_TRUE(port.waitFor([&] { return port.rtsChanges().size() == 4; }, 2s));
    EXPECT_EQ(port.rtsChanges(), (std::vector<bool>{true, false, false, true}));

    comm.setFlowCtrl(TCommFlowCtrls::cfcNone);
    comm.Send("e", 1);
    ASSERT_TRUE(port.waitFor([&] { return port.written().size() == 5; }, 2s));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(port.rtsChanges().size(), 4u);
}

TEST_F(CommXFakeTest, ABreakCallsOnBreakOncePerEvent) {
    comm.Open();
    port.injectBreak();
    ASSERT_TRUE(PumpUntil([&] { return breaks == 1; }));
    PumpFor(20ms);
    EXPECT_EQ(breaks, 1);
    port.injectBreak();
    ASSERT_TRUE(PumpUntil([&] { return breaks == 2; }));
    EXPECT_TRUE(errors.empty());
}

TEST_F(CommXFakeTest, LineErrorsReachOnErrorWithBits0x0EOnly) {
    const struct {
        std::uint32_t injected;
        int reported;  // 0: no OnError at all
    } cases[] = {{0x08, 8}, {0x04, 4}, {0x02, 2}, {0x1F, 0x0E}, {0x10, 0}, {0x01, 0}};
    comm.Open();
    for (const auto& c : cases) {
        errors.clear();
        const int eventsBefore = port.eventWaitsEnded();
        port.injectErrors(c.injected);
        ASSERT_TRUE(port.waitFor([&] { return port.eventWaitsEnded() > eventsBefore; }, 2s));
        PumpFor(30ms);
        if (c.reported == 0) {
            EXPECT_TRUE(errors.empty()) << c.injected;
        } else {
            EXPECT_EQ(errors, std::vector<int>{c.reported}) << c.injected;
        }
    }
}

TEST_F(CommXFakeTest, ReceivedBytesReachOnReceiveWithTheirCount) {
    comm.Open();
    port.injectBytes({1, 2, 3, 4});
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 4; }));
    EXPECT_EQ(receiveSizes, std::vector<int>{4});
    EXPECT_EQ(received, (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

TEST_F(CommXFakeTest, NoOnReceiveWhenTheBytesWereAlreadyRead) {
    comm.Open();
    port.injectBytes({9, 8, 7});
    // The receive thread has taken the event and waits for us to handle it.
    ASSERT_TRUE(port.waitFor([&] { return port.eventWaitsEnded() == 1; }, 2s));
    std::array<std::uint8_t, 3> early{};
    EXPECT_EQ(comm.Receive(early.data(), 3), 3);
    PumpFor(30ms);
    EXPECT_TRUE(receiveSizes.empty());
}

TEST_F(CommXFakeTest, NoticesWhileClosedAreDropped) {
    comm.Open();
    port.injectBytes({1});
    ASSERT_TRUE(port.waitFor([&] { return port.eventWaitsEnded() == 1; }, 2s));
    comm.Close();  // the worker is waiting for us: Close must still return
    PumpFor(20ms);
    EXPECT_TRUE(receiveSizes.empty());

    // A notice of the earlier open does not reach the next one either.
    comm.Open();
    PumpFor(20ms);
    EXPECT_TRUE(receiveSizes.empty());
}

TEST_F(CommXFakeTest, PurgeTransmitDoesNotDeadlockWithAnErrorBeingDelivered) {
    comm.Open();
    port.setFailWrites(CommErrors::kOverrun);
    comm.Send("a", 1);  // the write fails; the thread reports and waits for us ...
    comm.Send("b", 1);  // ... with these two still to do
    comm.Send("c", 1);
    ASSERT_TRUE(port.waitFor([&] { return port.writeAttempts() >= 1; }, 2s));
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(comm.PendingBytes(), 2);
    const auto start = Clock::now();
    comm.PurgeTransmit();  // handles no events
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(comm.PendingBytes(), 0);
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));  // the report is not lost
    EXPECT_EQ(errors.front(), 2);
}

TEST_F(CommXFakeTest, CloseFromInsideOnReceive) {
    comm.OnReceive = [&](TCustomCommX*, int size) {
        receiveSizes.push_back(size);
        comm.Close();
    };
    comm.Open();
    port.injectBytes({5});
    ASSERT_TRUE(PumpUntil([&] { return !comm.IsOpen(); }));
    EXPECT_EQ(receiveSizes, std::vector<int>{1});
}

TEST_F(CommXFakeTest, AVanishedDeviceIsReportedOnceAndCanBeClosed) {
    comm.Open();
    port.vanish();
    ASSERT_TRUE(PumpUntil([&] { return !errors.empty(); }));
    EXPECT_TRUE(comm.SendByte(1));  // still open: the byte is dropped
    std::array<std::uint8_t, 1> buffer{};
    EXPECT_EQ(comm.Receive(buffer.data(), 1), -1);
    PumpFor(30ms);
    EXPECT_EQ(errors, std::vector<int>{8});
    EXPECT_EQ(comm.PendingBlocks(), 0);
    comm.Close();
    EXPECT_FALSE(comm.IsOpen());
}

TEST_F(CommXFakeTest, NoWorkerUsesThePortAfterCloseReleasedIt) {
    comm.setTimeOutTrans(0);  // writes wait for room without end
    for (int round = 0; round < 200; ++round) {
        comm.Open();
        port.setStallWrites(round % 2 == 0);  // half the rounds close with a write stuck
        comm.Send("abcdef", 6);
        port.injectBytes({1, 2});
        port.injectErrors(CommErrors::kFrame);
        if (round % 3 == 0) {
            PumpFor(1ms);
        }
        comm.Close();
    }
    port.setStallWrites(false);
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(port.usesAfterClose(), 0);
}

TEST_F(CommXFakeTest, PortNoWhileOpenReopensOnTheNewPort) {
    comm.Open();
    comm.setPortNo(9);
    EXPECT_TRUE(comm.IsOpen());
    const auto calls = port.calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "close"), calls.end());
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "open fake9"), 1);
}

}  // namespace
}  // namespace qrb
