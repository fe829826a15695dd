// The virtual-time line: the receive timer, bytes arriving during sleeps,
// grouping of receive events, scheduled callbacks, deadlocks, open
// failures, a vanished port and line pacing.
#include <gtest/gtest.h>

#include <string>

#include "UnitBench.h"
#include "sim/MasterCpuModel.h"
#include "sim/OptionUnitModel.h"
#include "sim/SlaveCpuModel.h"
#include "sim/VirtualLine.h"

namespace qrb::sim::test {
namespace {

using namespace std::chrono_literals;

// Records what the line reports, reading the bytes as the engine does.
class Recorder : public qrb::LineEvents {
  public:
    explicit Recorder(VirtualLine& line) : line_(line) { line_.setEvents(this); }
    virtual ~Recorder() = default;

    struct Event {
        Micros at;
        Bytes bytes;  // empty for the timer
        bool timer = false;
    };
    std::vector<Event> events;

    void lineReceived(int receiveSize) override {
        Bytes bytes(static_cast<std::size_t>(receiveSize));
        const int n = line_.receive(bytes.data(), receiveSize);
        bytes.resize(static_cast<std::size_t>(std::max(n, 0)));
        events.push_back({line_.now(), bytes, false});
    }
    void receiveTimerFired() override { events.push_back({line_.now(), {}, true}); }

    Bytes allBytes() const {
        Bytes all;
        for (const auto& e : events) {
            all.insert(all.end(), e.bytes.begin(), e.bytes.end());
        }
        return all;
    }

  private:
    VirtualLine& line_;
};

void send(VirtualLine& line, const Bytes& bytes) {
    for (auto b : bytes) {
        ASSERT_TRUE(line.sendByte(b));
    }
}

// Opens the line, meets the ready byte and answers A0.
void connect(VirtualLine& line, Recorder& rec) {
    line.open();
    while (rec.events.empty()) {
        line.waitForEvents();
    }
    ASSERT_EQ(rec.events.back().bytes, Bytes{0x50});
    send(line, {0xA0});
    while (rec.events.size() < 2) {
        line.waitForEvents();
    }
    rec.events.clear();
}

TEST(VirtualLine, ReadyByteArrivesAtItsTime) {
    MasterCpuModel radio;
    VirtualLine line(radio);
    Recorder rec(line);
    line.open();
    line.waitForEvents();
    ASSERT_EQ(rec.events.size(), 1u);
    EXPECT_EQ(rec.events[0].at, 300ms);
    EXPECT_EQ(rec.events[0].bytes, Bytes{0x50});
}

TEST(VirtualLine, TimerFiresExactlyWhenDue) {
    MasterCpuModel radio;
    VirtualLine line(radio);
    Recorder rec(line);
    connect(line, rec);
    const Micros armedAt = line.now();
    line.armReceiveTimer(500ms);
    line.advance(500ms - 1us);
    line.processPendingEvents();
    EXPECT_TRUE(rec.events.empty());
    line.waitForEvents();
    ASSERT_EQ(rec.events.size(), 1u);
    EXPECT_TRUE(rec.events[0].timer);
    EXPECT_EQ(rec.events[0].at, armedAt + 500ms);
    EXPECT_FALSE(line.timerArmed());  // it fires once
}

TEST(VirtualLine, DisabledTimerDoesNotFire) {
    MasterCpuModel radio;
    VirtualLine line(radio);
    Recorder rec(line);
    connect(line, rec);
    line.armReceiveTimer(100ms);
    line.disableReceiveTimer();
    line.sleep(1s);
    line.processPendingEvents();
    EXPECT_TRUE(rec.events.empty());
}

TEST(VirtualLine, BytesDueDuringASleepWaitForTheNextPump) {
    MasterCpuModel radio;
    VirtualLine line(radio);
    Recorder rec(line);
    connect(line, rec);
    send(line, {0x65, 0x01, 0x50, 0x4A});
    line.sleep(50ms);
    EXPECT_TRUE(rec.events.empty());  // nothing is handled during a sleep
    const Micros pumpAt = line.now();
    line.processPendingEvents();
    ASSERT_EQ(rec.events.size(), 2u);  // echo and answer, two bursts
    EXPECT_EQ(rec.events[0].at, pumpAt);
    EXPECT_EQ(rec.events[1].at, pumpAt);
    EXPECT_EQ(rec.events[0].bytes, (Bytes{0x65, 0x01, 0x50, 0x4A}));
    EXPECT_EQ(rec.events[1].bytes.size(), 8u);
}

TEST(VirtualLine, ProcessPendingEventsLeavesFutureBytesAlone) {
    MasterCpuModel radio;
    VirtualLine line(radio);
    Recorder rec(line);
    connect(line, rec);
    send(line, {0x65, 0x01, 0x50, 0x4A});
    line.processPendingEvents();
    EXPECT_TRUE(rec.events.empty());
    line.waitForEvents();
    ASSERT_EQ(rec.events.size(), 1u);
    EXPECT_EQ(rec.events[0].bytes.size(), 4u);  // only the echo, at its own time
}

struct GroupingCase {
    Grouping grouping;
    std::vector<std::size_t> eventSizes;  // for the identification exchange
};

class Groupings : public ::testing::TestWithParam<GroupingCase> {};

TEST_P(Groupings, IdentificationExchangeCutAsAsked) {
    MasterCpuModel radio;
    VirtualLineOptions options;
    options.grouping = GetParam().grouping;
    VirtualLine line(radio, options);
    Recorder rec(line);
    connect(line, rec);
    send(line, {0x65, 0x01, 0x50, 0x4A});
    while (rec.allBytes().size() < 12) {
        line.waitForEvents();
    }
    std::vector<std::size_t> sizes;
    for (const auto& e : rec.events) {
        sizes.push_back(e.bytes.size());
    }
    EXPECT_EQ(sizes, GetParam().eventSizes);
    EXPECT_EQ(rec.allBytes(),
              (Bytes{0x65, 0x01, 0x50, 0x4A, 0xE5, 0x05, 'P', 'A', 'N', 'E', 'L', 0xA6}));
}

INSTANTIATE_TEST_SUITE_P(VirtualLine, Groupings,
                         ::testing::Values(GroupingCase{Grouping::PerBurst, {4, 8}},
                                           GroupingCase{Grouping::PerByte,
                                                        {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
                                           GroupingCase{Grouping::EchoWithAnswer, {12}},
                                           GroupingCase{Grouping::AllDue, {4, 8}}));

TEST(VirtualLine, AllDueMergesWhatASleepCollected) {
    MasterCpuModel radio;
    VirtualLineOptions options;
    options.grouping = Grouping::AllDue;
    VirtualLine line(radio, options);
    Recorder rec(line);
    connect(line, rec);
    send(line, {0x65, 0x01, 0x50, 0x4A});
    line.sleep(10ms);
    line.processPendingEvents();
    ASSERT_EQ(rec.events.size(), 1u);
    EXPECT_EQ(rec.events[0].bytes.size(), 12u);
}

TEST(VirtualLine, EchoWithoutAnswerStillArrivesWhenMerging) {
    SlaveCpuModel radio;
    VirtualLineOptions options;
    options.grouping = Grouping::EchoWithAnswer;
    VirtualLine line(radio, options);
    Recorder rec(line);
    connect(line, rec);
    send(line, {0x38, 0x01, 0x39});
    line.waitForEvents();
    ASSERT_EQ(rec.events.size(), 1u);
    EXPECT_EQ(rec.events[0].bytes, (Bytes{0x38, 0x01, 0x39}));
    EXPECT_EQ(rec.events[0].at, line.now());
    EXPECT_LT(line.now(), 1s);
}

TEST(VirtualLine, ArrivalsComeBeforeTheTimerAtTheSameInstant) {
    RadioConfig config;
    config.answerDelay = 5ms;
    config.echoDelay = 5ms;
    MasterCpuModel radio(config);
    VirtualLine line(radio);
    Recorder rec(line);
    connect(line, rec);
    send(line, {0x65, 0x01, 0x50, 0x4A});
    line.armReceiveTimer(5ms);
    line.waitForEvents();
    ASSERT_EQ(rec.events.size(), 3u);
    EXPECT_FALSE(rec.events[0].timer);
    EXPECT_FALSE(rec.events[1].timer);
    EXPECT_TRUE(rec.events[2].timer);
}

TEST(VirtualLine, CallbacksRunInTimeOrderInsideThePump) {
    MasterCpuModel radio;
    VirtualLine line(radio);
    Recorder rec(line);
    connect(line, rec);
    std::vector<std::string> order;
    const Micros start = line.now();
    line.after(20ms, [&] { order.push_back("second"); });
    line.after(10ms, [&] { order.push_back("first"); });
    line.after(20ms, [&] { order.push_back("third"); });
    line.sleep(15ms);
    EXPECT_TRUE(order.empty());
    line.processPendingEvents();
    EXPECT_EQ(order, std::vector<std::string>{"first"});
    line.waitForEvents();
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(line.now(), start + 20ms);
}

TEST(VirtualLine, WaitWithNothingScheduledThrowsInsteadOfHanging) {
    MasterCpuModel radio;
    VirtualLine line(radio);
    Recorder rec(line);
    connect(line, rec);
    EXPECT_THROW(line.waitForEvents(), VirtualDeadlock);
    ASSERT_FALSE(radio.violations().empty());
    EXPECT_NE(radio.violations().back().what.find("nothing is scheduled"), std::string::npos);
}

TEST(VirtualLine, ClosedPortDropsReadyBytesAndStillDetectsDeadlock) {
    MasterCpuModel radio;
    VirtualLine line(radio);
    line.open();
    line.close();
    line.sleep(2s);
    EXPECT_THROW(line.waitForEvents(), VirtualDeadlock);
    EXPECT_EQ(line.counters().bytesDelivered, 0u);
}

TEST(VirtualLine, OpenFailsOnRequest) {
    MasterCpuModel radio;
    VirtualLineOptions options;
    options.failOpen = true;
    VirtualLine line(radio, options);
    try {
        line.open();
        FAIL() << "open() should have thrown";
    } catch (const qrb::ECommError& e) {
        EXPECT_STREQ(e.what(), "Port Open Error");
    }
    EXPECT_FALSE(line.isOpen());
    EXPECT_FALSE(line.sendByte(0xA0));
    line.options().failOpen = false;
    line.open();
    EXPECT_TRUE(line.isOpen());
}

TEST(VirtualLine, ReopeningSwitchesTheRadioOnAgain) {
    MasterCpuModel radio;
    VirtualLine line(radio);
    Recorder rec(line);
    connect(line, rec);
    line.close();
    line.open();
    EXPECT_FALSE(radio.connected());
    line.waitForEvents();
    EXPECT_EQ(rec.events.back().bytes, Bytes{0x50});
}

TEST(VirtualLine, VanishedPortTakesNoBytesAndCannotReopen) {
    MasterFaults faults;
    faults.vanishAfterFrame = 0;
    MasterCpuModel radio({}, faults);
    VirtualLine line(radio);
    Recorder rec(line);
    connect(line, rec);
    Bytes frame{0xE0, 0x83, 0x00, 0xA0};
    frame.resize(132, 0x11);
    frame.push_back(static_cast<std::uint8_t>(byteSum(frame)));
    send(line, frame);
    line.armReceiveTimer(5000ms);
    while (rec.allBytes().size() < 139) {
        line.waitForEvents();
    }
    EXPECT_EQ(rec.allBytes()[133], 0x06);  // the answer to frame 0 still came
    // Gone the moment that answer arrived: the next frame does not go out.
    EXPECT_TRUE(line.vanished());
    EXPECT_FALSE(line.sendByte(0xE0));
    EXPECT_TRUE(line.trace().back().refused);
    EXPECT_EQ(line.counters().sendsRefused, 1u);
    line.close();
    EXPECT_THROW(line.open(), qrb::ECommError);
}

TEST(VirtualLine, PacedLineTakesByteTimes) {
    MasterCpuModel radio;
    VirtualLineOptions options;
    options.byteTime = kByteTime38400;
    VirtualLine line(radio, options);
    Recorder rec(line);
    connect(line, rec);
    const Micros start = line.now();
    send(line, {0x65, 0x01, 0x50, 0x4A});
    while (rec.allBytes().size() < 12) {
        line.waitForEvents();
    }
    // The last command byte reaches the radio after 4 byte times; its 8-byte
    // answer starts after the answer delay and takes 8 byte times.
    const Micros expected =
        start + 4 * kByteTime38400 + radio.config().answerDelay + 8 * kByteTime38400;
    EXPECT_EQ(rec.events.back().at, expected);
}

TEST(VirtualLine, TraceAndCountersFollowTheTraffic) {
    MasterCpuModel radio;
    VirtualLine line(radio);
    Recorder rec(line);
    connect(line, rec);
    send(line, {0x65, 0x01, 0x50, 0x4A});
    line.sleep(10ms);
    line.processPendingEvents();
    EXPECT_EQ(line.counters().bytesSent, 5u);        // A0 and the command
    EXPECT_EQ(line.counters().bytesDelivered, 14u);  // 50, A0, echo 4, answer 8
    std::size_t fromRadio = 0;
    for (const auto& t : line.trace()) {
        fromRadio += t.direction == TraceEntry::Direction::FromRadio ? 1 : 0;
    }
    EXPECT_EQ(fromRadio, 14u);
}

}  // namespace
}  // namespace qrb::sim::test
