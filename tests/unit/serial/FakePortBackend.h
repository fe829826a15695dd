// A port backend in memory, for tests of the serial component.
//
// The test keeps a FakePort (shared with every backend the component makes)
// and through it feeds received bytes, breaks and line errors, holds writes
// back, refuses settings, makes the device vanish, and reads back what the
// component did: the calls in order, the settings records, the bytes written
// and how they were cut into blocks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "serial/CommX.h"
#include "serial/PortBackend.h"

namespace qrb::test {

class FakePort {
  public:
    // What a backend made from this port does.
    void setOpenError(std::error_code error);
    void setStallWrites(bool stall);                 // writes take nothing until released
    void setFailWrites(std::uint32_t errorBits);     // writes fail, with these error bits
    void setRefuseSettings(bool refuse);             // setState() fails
    void setRefuseSettingsAfter(int acceptedCalls);  // fail from the (n+1)-th setState()

    // Line side.
    void injectBytes(const std::vector<std::uint8_t>& bytes);
    void injectBreak();
    void injectErrors(std::uint32_t errorBits);
    void vanish();

    // Observations.
    std::vector<std::string> calls() const;
    std::vector<CommState> states() const;
    std::vector<CommTimeouts> timeoutRecords() const;
    std::vector<std::uint8_t> written() const;
    std::vector<std::size_t> writtenBlocks() const;  // sizes of the pieces passed to write
    int writeAttempts() const;
    int eventWaitsEnded() const;  // times waitCommEvent() returned with events
    int usesAfterClose() const;   // device calls made after the component closed it
    std::vector<bool> rtsChanges() const;
    // Blocks until pred(*this) holds or timeout passes (events are not pumped).
    bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const;

    // A factory for CommXOptions.
    PortBackendFactory factory();

  private:
    friend class FakePortBackend;
    void record(std::string call);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;

    std::error_code openError_;
    bool stallWrites_ = false;
    std::uint32_t failWriteBits_ = 0;
    int settingsLeft_ = -1;  // setState() calls still accepted; -1 = all

    std::vector<std::string> calls_;
    std::vector<CommState> states_;
    std::vector<CommTimeouts> timeouts_;
    CommTimeouts currentTimeouts_;
    std::vector<std::uint8_t> written_;
    std::vector<std::size_t> writtenBlocks_;
    std::vector<bool> rtsChanges_;
    int writeAttempts_ = 0;
    int eventWaitsEnded_ = 0;
    int usesAfterClose_ = 0;

    std::deque<std::uint8_t> input_;
    std::uint32_t pendingEvents_ = 0;
    std::uint32_t eventMask_ = 0;
    std::uint32_t errorBits_ = 0;
    bool lost_ = false;
    bool waitInterrupted_ = false;
    bool writeInterrupted_ = false;
};

// Options for a component on the fake port with short fixed waits.
CommXOptions FakeOptions(FakePort& port);

}  // namespace qrb::test
