// The production line of the write engine: the serial component, a Qt
// timer for the receive time-out and the owner thread's Qt event loop.
//
// The component is configured as the write dialog's instance (2 stop bits,
// no flow control, 5000 ms read time-out); its OnReceive and the timer
// report to the LineEvents sink. Everything runs on the thread that created
// the line.
#pragma once

#include <QAbstractEventDispatcher>
#include <QTimer>

#include "serial/CommX.h"
#include "writing/Line.h"
#include "writing/SleepPrecision.h"

namespace qrb {

class CommXLine : public Line {
  public:
    explicit CommXLine(CommXOptions options = {});
    ~CommXLine() override;
    CommXLine(const CommXLine&) = delete;
    CommXLine& operator=(const CommXLine&) = delete;

    // The component, for front ends that need more of it.
    TCommX& comm() { return comm_; }

    void setEvents(LineEvents* events) override { events_ = events; }
    void configure(const PortSettings& settings) override;
    void open() override;
    void close() override { comm_.Close(); }
    bool isOpen() const override { return comm_.IsOpen(); }

    bool sendByte(std::uint8_t value) override { return comm_.SendByte(value); }
    bool sendBytes(const std::uint8_t* bytes, int count) override {
        return comm_.SendEach(bytes, count);
    }
    int receive(std::uint8_t* buffer, int count) override { return comm_.Receive(buffer, count); }

    void sleep(std::chrono::milliseconds duration) override;
    void processPendingEvents() override;
    void waitForEvents() override;

    void armReceiveTimer(std::chrono::milliseconds interval) override;
    void disableReceiveTimer() override { receiveTimer_.stop(); }

  private:
    void applySettings();
    void wakeDispatcherIfItWouldBlock();

    // Made on the thread that runs the write, for as long as the write runs.
    FineSleepPrecision sleepPrecision_;
    TCommX comm_;
    QTimer receiveTimer_;
    PortSettings settings_;
    LineEvents* events_ = nullptr;
    const QAbstractEventDispatcher* knownDispatcher_ = nullptr;
    bool dispatcherReturnsAfterDelivery_ = false;
};

}  // namespace qrb
