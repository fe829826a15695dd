// The ordered hand-over of transmit blocks to the transmit thread.
#include "serial/TransmitQueue.h"

#include <algorithm>
#include <iterator>
#include <new>

namespace qrb {

TransmitBlock TransmitBlock::CopyOf(const std::uint8_t* source, std::size_t length) {
    TransmitBlock block;
    block.bytes.reset(new (std::nothrow) std::uint8_t[length]);
    if (block.bytes) {
        std::copy_n(source, length, block.bytes.get());
        block.length = length;
    }
    return block;
}

bool TransmitQueue::push(TransmitBlock& block, bool wakeTaker) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || blocks_.size() >= capacity_) {
            return false;
        }
        try {
            blocks_.push_back(std::move(block));
        } catch (const std::bad_alloc&) {
            return false;  // push_back leaves the block untouched when it throws
        }
        wake = wakeTaker && takerWaiting_;
    }
    if (wake) {
        queued_.notify_one();
    }
    return true;
}

void TransmitQueue::wakeTaker() {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        wake = takerWaiting_ && !blocks_.empty();
    }
    if (wake) {
        queued_.notify_one();
    }
}

bool TransmitQueue::waitAndTakeAll(std::deque<TransmitBlock>& out) {
    std::unique_lock lock(mutex_);
    takerWaiting_ = true;
    queued_.wait(lock, [&] { return closed_ || !blocks_.empty(); });
    takerWaiting_ = false;
    if (closed_) {
        return false;
    }
    std::move(blocks_.begin(), blocks_.end(), std::back_inserter(out));
    blocks_.clear();
    return true;
}

void TransmitQueue::takeAll(std::deque<TransmitBlock>& out) {
    std::lock_guard lock(mutex_);
    std::move(blocks_.begin(), blocks_.end(), std::back_inserter(out));
    blocks_.clear();
}

bool TransmitQueue::takerIsWaiting() {
    std::lock_guard lock(mutex_);
    return takerWaiting_;
}

void TransmitQueue::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    queued_.notify_all();
}

}  // namespace qrb
