// The two hand-overs between the owner thread and the serial component's
// workers: transmit blocks going to the transmit thread, and line notices
// coming back to the owner.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "PtyPair.h"
#include "serial/CommNotifier.h"
#include "serial/TransmitQueue.h"

namespace qrb {
namespace {

using namespace std::chrono_literals;

TransmitBlock BlockOf(std::uint8_t value) {
    return TransmitBlock::CopyOf(&value, 1);
}

bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(TransmitQueueTest, AHeldBlockWaitsForTheWakeUpAndKeepsItsOrder) {
    TransmitQueue queue(64);
    std::promise<std::vector<std::uint8_t>> taken;
    std::thread taker([&] {
        std::deque<TransmitBlock> out;
        queue.waitAndTakeAll(out);
        std::vector<std::uint8_t> bytes;
        for (const TransmitBlock& block : out) {
            bytes.push_back(block.bytes[0]);
        }
        taken.set_value(bytes);
    });
    ASSERT_TRUE(Eventually([&] { return queue.takerIsWaiting(); }));
    for (std::uint8_t value = 1; value <= 3; ++value) {
        TransmitBlock block = BlockOf(value);
        ASSERT_TRUE(queue.push(block, false));
    }
    auto result = taken.get_future();
    EXPECT_EQ(result.wait_for(50ms), std::future_status::timeout);  // still asleep
    queue.wakeTaker();
    ASSERT_EQ(result.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(result.get(), (std::vector<std::uint8_t>{1, 2, 3}));
    taker.join();
}

TEST(TransmitQueueTest, APushThatWakesEndsTheWaitAndCloseRefusesMore) {
    TransmitQueue queue(64);
    std::promise<bool> taken;
    std::thread taker([&] {
        std::deque<TransmitBlock> out;
        taken.set_value(queue.waitAndTakeAll(out) && out.size() == 1);
    });
    ASSERT_TRUE(Eventually([&] { return queue.takerIsWaiting(); }));
    TransmitBlock block = BlockOf(7);
    ASSERT_TRUE(queue.push(block));
    EXPECT_TRUE(taken.get_future().get());
    taker.join();
    queue.wakeTaker();  // nobody waits, nothing queued: nothing happens
    queue.close();
    TransmitBlock late = BlockOf(8);
    EXPECT_FALSE(queue.push(late));
    EXPECT_TRUE(late);  // refused blocks stay with the caller
}

class CommNotifierTest : public ::testing::Test {
  protected:
    std::vector<CommNotice> handled;
    CommNotifier notifier{
        [this](CommNotice notice, std::int32_t, std::uint64_t) { handled.push_back(notice); }};
    std::atomic<int> step{0};
};

TEST_F(CommNotifierTest, SendReturnsOnlyOnceTheOwnerHandledTheNotice) {
    std::thread worker([&] {
        notifier.send(1, CommNotice::Break, 0);
        step = 1;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(step.load(), 0);
    EXPECT_TRUE(test::PumpUntil([&] { return step.load() == 1; }, 2s));
    worker.join();
    EXPECT_EQ(handled, std::vector<CommNotice>{CommNotice::Break});
}

TEST_F(CommNotifierTest, ASenderWaitsForItsLastNoticeOnlyBeforeTheNext) {
    std::thread worker([&] {
        CommNotifier::Sender sender(notifier);
        sender.post(1, CommNotice::Receive, 0);
        step = 1;  // back without the owner having looked
        sender.post(1, CommNotice::Error, 2);
        step = 2;
        sender.waitUntilHandled();
        step = 3;
    });
    ASSERT_TRUE(Eventually([&] { return step.load() >= 1; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(step.load(), 1);  // the second notice waits for the first one's handler
    EXPECT_TRUE(handled.empty());
    EXPECT_TRUE(test::PumpUntil([&] { return step.load() == 3; }, 2s));
    worker.join();
    EXPECT_EQ(handled, (std::vector<CommNotice>{CommNotice::Receive, CommNotice::Error}));
}

TEST_F(CommNotifierTest, WhileTheOwnerReleasesTheWaitsNoSenderBlocks) {
    {
        CommNotifier::WaitRelease release(notifier);
        std::thread worker([&] {
            CommNotifier::Sender sender(notifier);
            sender.post(1, CommNotice::Receive, 0);
            sender.post(1, CommNotice::Receive, 0);
            notifier.send(1, CommNotice::Error, 8);
            step = 1;
        });
        worker.join();  // would never return if a wait blocked
    }
    EXPECT_TRUE(handled.empty());
    test::PumpFor(20ms);  // released notices are still handled later
    EXPECT_EQ(handled.size(), 3u);
}

}  // namespace
}  // namespace qrb
