// A port backend in memory, for tests of the serial component.
#include "FakePortBackend.h"

#include <algorithm>
#include <atomic>

namespace qrb::test {

class FakePortBackend final : public PortBackend {
  public:
    explicit FakePortBackend(FakePort& port) : port_(port) {}

    std::error_code open(const std::string& devicePath) override {
        std::lock_guard lock(port_.mutex_);
        port_.record("open " + devicePath);
        if (port_.openError_) {
            return port_.openError_;
        }
        open_.store(true);
        return {};
    }
    void close() override {
        std::lock_guard lock(port_.mutex_);
        port_.record("close");
        open_.store(false);
    }
    std::uint32_t handle() const override { return open_.load() ? 42 : 0xFFFFFFFF; }

    bool setupQueues(int inputSize, int outputSize) override {
        std::lock_guard lock(port_.mutex_);
        port_.record("setupQueues " + std::to_string(inputSize) + " " + std::to_string(outputSize));
        return inputSize >= 1 && outputSize >= 1;
    }
    bool getState(CommState& state) override {
        std::lock_guard lock(port_.mutex_);
        port_.record("getState");
        state = CommState{};
        return true;
    }
    bool setState(const CommState& state) override {
        std::lock_guard lock(port_.mutex_);
        port_.record("setState");
        if (port_.settingsLeft_ == 0) {
            return false;
        }
        if (port_.settingsLeft_ > 0) {
            --port_.settingsLeft_;
        }
        port_.states_.push_back(state);
        return true;
    }
    bool setTimeouts(const CommTimeouts& timeouts) override {
        std::lock_guard lock(port_.mutex_);
        port_.record("setTimeouts");
        port_.timeouts_.push_back(timeouts);
        port_.currentTimeouts_ = timeouts;
        return true;
    }
    CommTimeouts timeouts() const override {
        std::lock_guard lock(port_.mutex_);
        return port_.currentTimeouts_;
    }
    bool setEventMask(std::uint32_t mask) override {
        checkOpen();
        std::lock_guard lock(port_.mutex_);
        port_.record("setEventMask " + std::to_string(mask));
        port_.eventMask_ = mask;
        return true;
    }
    void setRts(bool on) override {
        checkOpen();
        std::lock_guard lock(port_.mutex_);
        port_.record(on ? "setRts 1" : "setRts 0");
        port_.rtsChanges_.push_back(on);
    }
    void purgeOutput() override {
        checkOpen();
        std::lock_guard lock(port_.mutex_);
        port_.record("purgeOutput");
        port_.writeInterrupted_ = true;
        port_.changed_.notify_all();
    }
    void purgeInput() override {
        std::lock_guard lock(port_.mutex_);
        port_.record("purgeInput");
        port_.input_.clear();
    }
    CommStatus clearCommError() override {
        checkOpen();
        std::lock_guard lock(port_.mutex_);
        return {std::exchange(port_.errorBits_, 0), static_cast<int>(port_.input_.size())};
    }
    int read(std::uint8_t* buffer, int count) override {
        checkOpen();
        std::lock_guard lock(port_.mutex_);
        if (port_.input_.empty() && port_.lost_) {
            return -1;
        }
        const auto taken = std::min(port_.input_.size(), static_cast<std::size_t>(count));
        std::copy_n(port_.input_.begin(), taken, buffer);
        port_.input_.erase(port_.input_.begin(), port_.input_.begin() + static_cast<long>(taken));
        return static_cast<int>(taken);
    }
    std::uint32_t waitCommEvent() override {
        checkOpen();
        std::unique_lock lock(port_.mutex_);
        port_.changed_.wait(lock, [&] {
            return (port_.pendingEvents_ & port_.eventMask_) != 0 || port_.waitInterrupted_;
        });
        const std::uint32_t events = std::exchange(port_.pendingEvents_, 0) & port_.eventMask_;
        if (events == 0) {
            port_.waitInterrupted_ = false;
            return 0;
        }
        ++port_.eventWaitsEnded_;
        port_.changed_.notify_all();
        return events;
    }
    void interruptWait() override {
        std::lock_guard lock(port_.mutex_);
        port_.waitInterrupted_ = true;
        port_.changed_.notify_all();
    }
    WriteResult write(std::span<const std::span<const std::uint8_t>> pieces) override {
        checkOpen();
        std::lock_guard lock(port_.mutex_);
        ++port_.writeAttempts_;
        port_.changed_.notify_all();
        if (port_.lost_) {
            return {WriteStatus::Failed, 0};
        }
        if (port_.failWriteBits_ != 0) {
            port_.errorBits_ |= port_.failWriteBits_;
            return {WriteStatus::Failed, 0};
        }
        if (port_.stallWrites_) {
            return {WriteStatus::Written, 0};
        }
        std::size_t total = 0;
        for (const auto& piece : pieces) {
            port_.written_.insert(port_.written_.end(), piece.begin(), piece.end());
            port_.writtenBlocks_.push_back(piece.size());
            total += piece.size();
        }
        return {WriteStatus::Written, total};
    }
    WaitStatus waitWritable(SteadyDeadline deadline) override {
        checkOpen();
        std::unique_lock lock(port_.mutex_);
        const auto ready = [&] {
            return !port_.stallWrites_ || port_.writeInterrupted_ || port_.lost_;
        };
        if (deadline) {
            port_.changed_.wait_until(lock, *deadline, ready);
        } else {
            port_.changed_.wait(lock, ready);
        }
        if (std::exchange(port_.writeInterrupted_, false)) {
            return WaitStatus::Interrupted;
        }
        if (port_.lost_) {
            return WaitStatus::Failed;
        }
        return port_.stallWrites_ ? WaitStatus::TimedOut : WaitStatus::Ready;
    }
    WaitStatus waitUntilSent(SteadyDeadline) override {
        checkOpen();
        std::lock_guard lock(port_.mutex_);
        port_.record("waitUntilSent");
        return WaitStatus::Ready;
    }
    void interruptWrite() override {
        std::lock_guard lock(port_.mutex_);
        port_.writeInterrupted_ = true;
        port_.changed_.notify_all();
    }
    bool deviceLost() const override {
        std::lock_guard lock(port_.mutex_);
        return port_.lost_;
    }

  private:
    FakePort& port_;
    // Counts a use of the device after close(), which must never happen.
    void checkOpen() {
        if (!open_.load()) {
            std::lock_guard lock(port_.mutex_);
            ++port_.usesAfterClose_;
        }
    }

    std::atomic<bool> open_{false};
};

void FakePort::record(std::string call) {
    calls_.push_back(std::move(call));
    changed_.notify_all();
}

void FakePort::setOpenError(std::error_code error) {
    std::lock_guard lock(mutex_);
    openError_ = error;
}

void FakePort::setStallWrites(bool stall) {
    std::lock_guard lock(mutex_);
    stallWrites_ = stall;
    changed_.notify_all();
}

void FakePort::setFailWrites(std::uint32_t errorBits) {
    std::lock_guard lock(mutex_);
    failWriteBits_ = errorBits;
}

void FakePort::setRefuseSettings(bool refuse) {
    setRefuseSettingsAfter(refuse ? 0 : -1);
}

void FakePort::setRefuseSettingsAfter(int acceptedCalls) {
    std::lock_guard lock(mutex_);
    settingsLeft_ = acceptedCalls;
}

void FakePort::injectBytes(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
    pendingEvents_ |= CommEvents::kRxChar;
    changed_.notify_all();
}

void FakePort::injectBreak() {
    std::lock_guard lock(mutex_);
    pendingEvents_ |= CommEvents::kBreak;
    changed_.notify_all();
}

void FakePort::injectErrors(std::uint32_t errorBits) {
    std::lock_guard lock(mutex_);
    errorBits_ |= errorBits;
    pendingEvents_ |= CommEvents::kError;
    changed_.notify_all();
}

void FakePort::vanish() {
    std::lock_guard lock(mutex_);
    lost_ = true;
    pendingEvents_ |= CommEvents::kError;
    changed_.notify_all();
}

std::vector<std::string> FakePort::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::vector<CommState> FakePort::states() const {
    std::lock_guard lock(mutex_);
    return states_;
}

std::vector<CommTimeouts> FakePort::timeoutRecords() const {
    std::lock_guard lock(mutex_);
    return timeouts_;
}

std::vector<std::uint8_t> FakePort::written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

std::vector<std::size_t> FakePort::writtenBlocks() const {
    std::lock_guard lock(mutex_);
    return writtenBlocks_;
}

int FakePort::writeAttempts() const {
    std::lock_guard lock(mutex_);
    return writeAttempts_;
}

int FakePort::usesAfterClose() const {
    std::lock_guard lock(mutex_);
    return usesAfterClose_;
}

int FakePort::eventWaitsEnded() const {
    std::lock_guard lock(mutex_);
    return eventWaitsEnded_;
}

std::vector<bool> FakePort::rtsChanges() const {
    std::lock_guard lock(mutex_);
    return rtsChanges_;
}

bool FakePort::waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(5));
    }
    return true;
}

PortBackendFactory FakePort::factory() {
    return [this] { return std::make_unique<FakePortBackend>(*this); };
}

CommXOptions FakeOptions(FakePort& port) {
    CommXOptions options;
    options.makeBackend = port.factory();
    options.devicePathFor = [](int portNo) { return "fake" + std::to_string(portNo); };
    options.waits.afterOpen = std::chrono::milliseconds(0);
    options.waits.closeAfterPurge = std::chrono::milliseconds(0);
    options.waits.closeAfterRelease = std::chrono::milliseconds(0);
    options.waits.threadEnd = std::chrono::milliseconds(0);
    options.waits.burstLead = std::chrono::milliseconds(1);
    return options;
}

}  // namespace qrb::test
