// The line of a write run that starts on a port where a listener already
// heard the radio: the port is still open at the run's settings, and what the
// radio sent (its ready byte first) is handed to the run as the arrivals it
// would have seen on a port it opened itself. The run's first open() takes
// the port as it is; from then on everything goes to the port's own line, so
// the run sends exactly the bytes it sends on a port named with --port.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "writing/CommXLine.h"
#include "writing/ForwardingLine.h"

namespace qrb::cli {

class HandOverLine : public ForwardingLine, private LineEvents {
  public:
    HandOverLine(std::unique_ptr<CommXLine> port, std::vector<std::vector<std::uint8_t>> arrivals);
    ~HandOverLine() override;

    void setEvents(LineEvents* events) override { events_ = events; }
    void open() override;
    bool sendBytes(const std::uint8_t* bytes, int count) override {
        return inner_.sendBytes(bytes, count);
    }
    int receive(std::uint8_t* buffer, int count) override;
    void processPendingEvents() override;
    void waitForEvents() override;

  private:
    // LineEvents of the port: held arrivals go first.
    void lineReceived(int receiveSize) override;
    void receiveTimerFired() override;
    // Passes one held arrival on; false when none is due.
    bool deliverHeldArrival();

    std::unique_ptr<CommXLine> port_;
    LineEvents* events_ = nullptr;
    std::deque<std::vector<std::uint8_t>> held_;
    std::vector<std::uint8_t> delivering_;  // the arrival being read
    std::size_t readPos_ = 0;
    bool openedByRun_ = false;
};

}  // namespace qrb::cli
