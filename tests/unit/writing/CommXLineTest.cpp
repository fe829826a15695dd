// The production line on a pseudo-terminal: bytes out, receive events with
// their count, reading them, and the receive time-out timer.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <thread>

#include "PtyPair.h"
#include "RecordingHost.h"
#include "writing/CommXLine.h"
#include "writing/WriteFramework.h"

namespace qrb {
namespace {

using namespace std::chrono_literals;

class RecordingEvents : public LineEvents {
  public:
    virtual ~RecordingEvents() = default;
    void lineReceived(int receiveSize) override { sizes.push_back(receiveSize); }
    void receiveTimerFired() override { ++timerFired; }

    std::vector<int> sizes;
    int timerFired = 0;
};

class CommXLineTest : public ::testing::Test {
  protected:
    test::PtyPair pty;
    RecordingEvents events;
    std::unique_ptr<CommXLine> line;

    void SetUp() override {
        ASSERT_TRUE(pty.valid());
        CommXOptions options;
        options.devicePathFor = [this](int portNo) {
            return portNo == 4 ? pty.slavePath() : std::string("/dev/qrb117-none");
        };
        line = std::make_unique<CommXLine>(options);
        line->setEvents(&events);
        PortSettings settings;
        settings.portNo = 4;
        line->configure(settings);
    }
};

TEST_F(CommXLineTest, ConfiguresTheComponentAsTheWriteDialogDoes) {
    TCommX& comm = line->comm();
    EXPECT_EQ(comm.PortNo(), 4);
    EXPECT_EQ(comm.BitRate(), 38400);
    EXPECT_EQ(comm.StopBit(), TCommStopBits::csb2);
    EXPECT_EQ(comm.FlowCtrl(), TCommFlowCtrls::cfcNone);
    EXPECT_EQ(comm.TimeOutReceive(), 5000);
}

TEST_F(CommXLineTest, BytesGoOutAndComeBackThroughLineReceived) {
    line->open();
    ASSERT_TRUE(line->isOpen());
    for (const std::uint8_t byte : {0x65, 0x01, 0x50, 0x4A}) {
        EXPECT_TRUE(line->sendByte(byte));
    }
    EXPECT_EQ(pty.read(4, 2s), (std::vector<std::uint8_t>{0x65, 0x01, 0x50, 0x4A}));

    pty.write({'P', 'A', 'N', 'E', 'L'});
    std::vector<std::uint8_t> got;
    while (got.size() < 5) {
        line->waitForEvents();  // blocks until the bytes are announced
        for (const int size : events.sizes) {
            std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));
            ASSERT_EQ(line->receive(buffer.data(), size), size);
            got.insert(got.end(), buffer.begin(), buffer.end());
        }
        events.sizes.clear();
    }
    EXPECT_EQ(std::string(got.begin(), got.end()), "PANEL");
    line->close();
    EXPECT_FALSE(line->isOpen());
    EXPECT_FALSE(line->sendByte(0));
}

TEST_F(CommXLineTest, TheReceiveTimerFiresOncePerArming) {
    line->armReceiveTimer(20ms);
    test::PumpFor(120ms);
    EXPECT_EQ(events.timerFired, 1);
    line->armReceiveTimer(20ms);
    line->disableReceiveTimer();
    test::PumpFor(60ms);
    EXPECT_EQ(events.timerFired, 1);
}

// Sleeps until the steady clock stands at `offset` into its current second.
void SleepUntilPointOfSecond(std::chrono::milliseconds offset) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto intoSecond = now - std::chrono::duration_cast<std::chrono::seconds>(now);
    std::this_thread::sleep_for((offset - intoSecond + 1s) % 1s);
}

// How early a coarse timer fires depends on where in the clock's second its
// interval ends, so the wait is started at two points half a second apart.
TEST_F(CommXLineTest, AWaitForAnAnswerThatNeverComesLastsItsWholeTimeOut) {
    line->open();
    test::RecordingHost host;
    SharedState state;
    WriteFramework fw(*line, host, state);
    for (const auto startPoint : {100ms, 600ms}) {
        SleepUntilPointOfSecond(startPoint);
        const auto started = std::chrono::steady_clock::now();
        fw.ReceivedCount = 0;
        fw.SendByte(0x4D);  // the radio on the other side stays silent
        EXPECT_FALSE(fw.WaitForReply(3, 500ms));
        EXPECT_GE(std::chrono::steady_clock::now() - started, 500ms)
            << "started " << startPoint.count() << " ms into a second";
    }
}

TEST_F(CommXLineTest, SettingsGivenWhileOpenWaitForTheNextOpen) {
    line->open();
    PortSettings other;
    other.portNo = 9;
    line->configure(other);
    EXPECT_EQ(line->comm().PortNo(), 4);  // not reopened under the run's feet
    line->close();
    EXPECT_THROW(line->open(), ECommError);  // port 9 has no device here
    EXPECT_EQ(line->comm().PortNo(), 9);
}

}  // namespace
}  // namespace qrb
