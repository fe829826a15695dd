// The ordered hand-over of transmit blocks from the owner thread to the
// transmit thread.
//
// Blocks come out in the order they went in. The transmit thread takes
// everything queued in one go, and the sender wakes it only when it is
// actually asleep; a sender that queues a run of single-byte blocks may hold
// the wake-up back until the run is queued, so that the run costs one
// wake-up rather than one per byte.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace qrb {

// A copy of at most BufLenTrans bytes that a send hands over.
struct TransmitBlock {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t length = 0;

    // A block holding a copy of the bytes; an empty block when memory is short.
    static TransmitBlock CopyOf(const std::uint8_t* source, std::size_t length);
    explicit operator bool() const { return bytes != nullptr; }
};

class TransmitQueue {
  public:
    // capacity: blocks that may wait in the queue before push() refuses.
    explicit TransmitQueue(std::size_t capacity) : capacity_(capacity) {}

    // False when the block was not taken (queue full or closed); the block
    // then still belongs to the caller. Without wakeTaker a waiting taker
    // sleeps on until wakeTaker() or a push that wakes.
    bool push(TransmitBlock& block, bool wakeTaker = true);
    // Wakes a waiting taker if blocks are queued.
    void wakeTaker();
    // Waits until blocks are queued or the queue is closed, then moves every
    // queued block to the end of out. False once the queue is closed.
    bool waitAndTakeAll(std::deque<TransmitBlock>& out);
    // Moves every queued block to the end of out without waiting.
    void takeAll(std::deque<TransmitBlock>& out);
    // Ends waitAndTakeAll() and refuses further blocks.
    void close();
    // True while the taker sleeps in waitAndTakeAll().
    bool takerIsWaiting();

  private:
    const std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<TransmitBlock> blocks_;
    bool closed_ = false;
    bool takerWaiting_ = false;
};

}  // namespace qrb
