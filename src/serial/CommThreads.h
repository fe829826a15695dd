// The serial component's two worker threads.
//
// TCommTransThread writes the blocks that Send hands over, in order, and
// raises or drops RTS around each burst in the half-duplex modes.
// TCommReceiveThread waits for line events and reports them to the owner
// thread. Both are created stopped and started explicitly. After a stop
// request each one first lets go of the port (waitUntilPortReleased()
// returns), then makes its fixed pause and ends; Close joins them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>

#include "serial/CommSession.h"
#include "serial/TransmitQueue.h"

namespace qrb {

class CommWorker {
  public:
    CommWorker(const CommWorker&) = delete;
    CommWorker& operator=(const CommWorker&) = delete;

    // Starts the thread; throws std::system_error when it cannot.
    void start();
    // Blocks until the thread no longer touches the port; at once when the
    // thread was never started.
    void waitUntilPortReleased();
    void join();

  protected:
    explicit CommWorker(CommSession& session) : session_(session) {}
    ~CommWorker();

    virtual void execute() = 0;
    bool stopRequested() const { return stopRequested_.load(); }
    void markStopRequested() { stopRequested_.store(true); }

    CommSession& session_;

  private:
    void run();

    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    // Not std::latch: libstdc++ 12 builds its wait on a waiter pool where no
    // futex exists (MinGW), and there a count_down can be missed for good.
    std::mutex releaseMutex_;
    std::condition_variable releasedChanged_;
    bool portReleased_ = false;
};

class TCommTransThread final : public CommWorker {
  public:
    TCommTransThread(CommSession& session, std::size_t handOverCapacity)
        : CommWorker(session), queue_(handOverCapacity) {}
    ~TCommTransThread() { join(); }

    // Hands a block to the thread; false when it was not taken. Without
    // wakeThread the block waits for the next wake() (or the next post that
    // wakes) if the thread is asleep.
    bool post(TransmitBlock& block, bool wakeThread = true) {
        return queue_.push(block, wakeThread);
    }
    void wake() { queue_.wakeTaker(); }
    void requestStop();

    // Milliseconds of one character plus one, for the RTS bursts.
    void setCharDelay(int milliseconds) { charDelayMs_.store(milliseconds); }
    int charDelay() const { return charDelayMs_.load(); }

  private:
    void execute() override;
    void writeBatch(std::deque<TransmitBlock>& batch);
    void reportWriteFailure();
    bool halfDuplex() const;
    void burstStart();
    void burstEnd();
    SteadyDeadline deadlineFor(std::size_t length);

    TransmitQueue queue_;
    std::atomic<int> charDelayMs_{0};
    bool burstStarted_ = false;
};

class TCommReceiveThread final : public CommWorker {
  public:
    explicit TCommReceiveThread(CommSession& session)
        : CommWorker(session), notices_(session.notifier()) {}
    ~TCommReceiveThread() { join(); }

    void requestStop();

  private:
    void execute() override;
    void report(CommNotice notice, std::int32_t parameter);

    // The thread watches the line again while the owner handles its last
    // notice; it waits for that handler only before it reports the next.
    CommNotifier::Sender notices_;
};

}  // namespace qrb
