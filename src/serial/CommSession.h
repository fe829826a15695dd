// What the serial component and its two worker threads share while the port
// is open: the backend, the transmit counters and their locks, the flags the
// transmit thread reads, and the way back to the owner thread.
//
// One session lives from a successful device open until Close has stopped
// both threads, so a thread never outlives the objects it uses.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "serial/CommNotifier.h"
#include "serial/CommTypes.h"
#include "serial/PortBackend.h"

namespace qrb {

// The fixed pauses of the component. Production keeps the defaults; tests
// that open and close a port a thousand times may shorten them.
struct CommFixedWaits {
    std::chrono::milliseconds afterOpen{100};          // end of Open
    std::chrono::milliseconds closeAfterPurge{100};    // Close, after the purges
    std::chrono::milliseconds closeAfterRelease{200};  // Close, after releasing the port
    std::chrono::milliseconds threadEnd{100};          // each worker, before it ends
    std::chrono::milliseconds burstLead{50};           // half duplex: before raising RTS
};

class CommSession {
  public:
    CommSession(std::unique_ptr<PortBackend> port, CommNotifier& notifier, std::uint64_t id,
                const CommFixedWaits& waits)
        : port_(std::move(port)), notifier_(notifier), id_(id), waits_(waits) {}

    PortBackend& port() { return *port_; }
    const CommFixedWaits& waits() const { return waits_; }
    std::uint64_t id() const { return id_; }

    // Worker threads: report to the owner thread and wait until handled.
    void notify(CommNotice notice, std::int32_t parameter) {
        notifier_.send(id_, notice, parameter);
    }
    CommNotifier& notifier() { return notifier_; }

    // The line errors gathered since the last look (bits 0x0E only).
    std::int32_t takeLineErrors() {
        return static_cast<std::int32_t>(port_->clearCommError().errors &
                                         CommErrors::kLineErrorMask);
    }
    // The same right after waitCommEvent(), which has just looked.
    std::int32_t takeGatheredLineErrors() {
        return static_cast<std::int32_t>(port_->takeGatheredErrors() & CommErrors::kLineErrorMask);
    }
    // True exactly once after the device went away: that is reported once.
    bool takeDeviceLostReport() {
        return port_->deviceLost() && !deviceLostReported_.exchange(true);
    }

    // The counters of blocks handed to the transmit thread (CountLock).
    void addPending(std::size_t bytes) {
        std::lock_guard lock(countLock_);
        pendingBytes_ += static_cast<int>(bytes);
        ++pendingBlocks_;
    }
    // Takes back the counts of a block that never reached the thread.
    void undoPending(std::size_t bytes) {
        std::lock_guard lock(countLock_);
        pendingBytes_ -= static_cast<int>(bytes);
        --pendingBlocks_;
    }
    // The transmit thread finished (wrote or dropped) blocks.
    void finishPending(std::size_t bytes, int blocks) {
        if (blocks == 0) {
            return;
        }
        {
            std::lock_guard lock(countLock_);
            const int left = pendingBytes_ - static_cast<int>(bytes);
            pendingBytes_ = left > 0 ? left : 0;
            pendingBlocks_ = pendingBlocks_ > blocks ? pendingBlocks_ - blocks : 0;
        }
        countsChanged_.notify_all();
    }
    int pendingBytes() {
        std::lock_guard lock(countLock_);
        return pendingBytes_;
    }
    int pendingBlocks() {
        std::lock_guard lock(countLock_);
        return pendingBlocks_;
    }
    // Waits at most timeout for fewer than limit blocks to be outstanding.
    void waitForBlocksBelow(int limit, std::chrono::milliseconds timeout) {
        std::unique_lock lock(countLock_);
        countsChanged_.wait_for(lock, timeout, [&] { return pendingBlocks_ < limit; });
    }
    // Waits at most timeout for the pending bytes to reach 0.
    void waitForNoPendingBytes(std::chrono::milliseconds timeout) {
        std::unique_lock lock(countLock_);
        countsChanged_.wait_for(lock, timeout, [&] { return pendingBytes_ == 0; });
    }

    // Held around every write of the transmit thread and every output purge.
    std::mutex& writeLock() { return writeLock_; }

    // Set by PurgeTransmit: the transmit thread drops blocks instead of writing.
    std::atomic<bool> discarding{false};
    // The owner's FlowCtrl, read by the transmit thread around each burst.
    std::atomic<TCommFlowCtrls> flowCtrl{TCommFlowCtrls::cfcRtsCts};

  private:
    std::unique_ptr<PortBackend> port_;
    CommNotifier& notifier_;
    const std::uint64_t id_;
    const CommFixedWaits waits_;
    std::atomic<bool> deviceLostReported_{false};

    std::mutex countLock_;
    std::condition_variable countsChanged_;
    int pendingBytes_ = 0;
    int pendingBlocks_ = 0;

    std::mutex writeLock_;
};

}  // namespace qrb
