// The write engine's view of the serial line and of the thread's event loop.
//
// The target procedures are straight-line code: send bytes, wait, look at
// the receive buffer. Everything they need from the outside world for that
// goes through this interface, so the same procedures run on a real port
// (serial component, Qt timer and event loop) and in virtual time against
// the radio model (simulated clock, scheduled arrivals).
#pragma once

#include <chrono>
#include <cstdint>

#include "serial/CommTypes.h"

namespace qrb {

// What the line reports back to the engine, always on the engine's thread and
// only from inside processPendingEvents(), waitForEvents() or sendByte().
class LineEvents {
  public:
    // Bytes are waiting; the engine fetches them with Line::receive().
    virtual void lineReceived(int receiveSize) = 0;
    // The receive time-out timer ran out (it fires once per arming).
    virtual void receiveTimerFired() = 0;

  protected:
    ~LineEvents() = default;
};

struct PortSettings {
    int portNo = 1;
    int bitRate = 38400;
    int charSize = 8;
    TCommParityBits parity = TCommParityBits::cpbNone;
    TCommStopBits stopBits = TCommStopBits::csb2;
    TCommFlowCtrls flowCtrl = TCommFlowCtrls::cfcNone;
};

class Line {
  public:
    virtual ~Line() = default;

    virtual void setEvents(LineEvents* events) = 0;

    // Stores the settings; they take effect at the next open().
    virtual void configure(const PortSettings& settings) = 0;
    // Opens the port; throws ECommError with the component's message.
    virtual void open() = 0;
    // Closes the port; does nothing when it is closed.
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Queues one byte for sending; false when the port is closed. May handle
    // pending events while the transmit queue is full.
    virtual bool sendByte(std::uint8_t value) = 0;
    // Sends count bytes one after another, each as sendByte would, the rest
    // too after one failed; false when any failed. A line may hand the run
    // over more cheaply.
    virtual bool sendBytes(const std::uint8_t* bytes, int count) {
        bool allQueued = true;
        for (int i = 0; i < count; ++i) {
            allQueued = sendByte(bytes[i]) && allQueued;
        }
        return allQueued;
    }
    // Reads up to count waiting bytes; the number read, or -1.
    virtual int receive(std::uint8_t* buffer, int count) = 0;

    // Blocks the engine's thread; no event is handled meanwhile.
    virtual void sleep(std::chrono::milliseconds duration) = 0;
    // Handles the events that are pending now and returns.
    virtual void processPendingEvents() = 0;
    // Handles pending events; when none is pending, blocks until at least one
    // has been handled. Never spins a core.
    virtual void waitForEvents() = 0;

    // Disables the receive time-out timer, sets its interval and enables it.
    virtual void armReceiveTimer(std::chrono::milliseconds interval) = 0;
    virtual void disableReceiveTimer() = 0;
};

}  // namespace qrb
