// A line that passes every call to another line: the base of decorators
// (tracing, test hooks), which override only what they add to.
#pragma once

#include "writing/Line.h"

namespace qrb {

class ForwardingLine : public Line {
  public:
    explicit ForwardingLine(Line& inner) : inner_(inner) {}
    ForwardingLine(const ForwardingLine&) = delete;
    ForwardingLine& operator=(const ForwardingLine&) = delete;

    void setEvents(LineEvents* events) override { inner_.setEvents(events); }
    void configure(const PortSettings& settings) override { inner_.configure(settings); }
    void open() override { inner_.open(); }
    void close() override { inner_.close(); }
    bool isOpen() const override { return inner_.isOpen(); }
    bool sendByte(std::uint8_t value) override { return inner_.sendByte(value); }
    // sendBytes() is deliberately not forwarded: the base sends byte by byte
    // through sendByte(), so a decorator that overrides only sendByte() still
    // sees every byte. Decorators that can pass a run on override it.
    int receive(std::uint8_t* buffer, int count) override { return inner_.receive(buffer, count); }
    void sleep(std::chrono::milliseconds duration) override { inner_.sleep(duration); }
    void processPendingEvents() override { inner_.processPendingEvents(); }
    void waitForEvents() override { inner_.waitForEvents(); }
    void armReceiveTimer(std::chrono::milliseconds interval) override {
        inner_.armReceiveTimer(interval);
    }
    void disableReceiveTimer() override { inner_.disableReceiveTimer(); }

  protected:
    Line& inner_;
};

}  // namespace qrb
