// A port that can vanish and be plugged in again, between the write engine
// and the virtual-time line. The radio model can only lose its port after a
// transfer frame, and for good; the fault matrix needs a port that goes away
// at any step of the write and comes back when the person replugs the cable
// before the next attempt.
//
// While the port is gone, bytes the engine sends do not reach the radio and
// the radio's bytes do not reach the engine (they are read and dropped, as a
// driver would lose them), opening it fails with "Port Open Error", and the
// receive timer still runs, so the engine meets the time-outs it would meet
// on a real line. Every byte the engine sends is recorded with its time,
// whether it went out or not, and so is where each opening began.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "serial/CommTypes.h"
#include "sim/VirtualLine.h"
#include "writing/Line.h"

namespace qrb::test {

class VanishingPortLine : public Line, private LineEvents {
  public:
    // When the port goes, counted in bytes the engine has sent since the
    // line was made.
    enum class VanishPoint {
        AfterByte,   // right after that byte went out: its answer is lost
        AtNextSend,  // when the engine sends the byte after it: that byte is lost
    };

    explicit VanishingPortLine(sim::VirtualLine& inner) : inner_(inner) { inner_.setEvents(this); }
    ~VanishingPortLine() override { inner_.setEvents(nullptr); }
    VanishingPortLine(const VanishingPortLine&) = delete;
    VanishingPortLine& operator=(const VanishingPortLine&) = delete;

    // The port vanishes once `sentCount` bytes have been sent (0 with
    // AfterByte: as soon as it is opened).
    void planVanish(std::size_t sentCount, VanishPoint point) { plan_ = Plan{sentCount, point}; }
    // The cable is back: the port works again and no vanish is planned.
    void replug() {
        plan_.reset();
        vanished_ = false;
    }
    bool vanished() const { return vanished_; }
    // Bytes lost because the port was gone: sends refused and arrivals dropped.
    std::uint64_t bytesLost() const { return bytesLost_; }

    const std::vector<std::uint8_t>& sent() const { return sent_; }
    sim::Micros sentAt(std::size_t index) const { return sentAt_.at(index); }
    // Where each successful open() began: bytes sent before it, and its time.
    const std::vector<std::size_t>& openedAfterByte() const { return openedAfterByte_; }
    const std::vector<sim::Micros>& openedAt() const { return openedAt_; }

    // Called after every byte the engine sends, with the number sent so far.
    std::function<void(std::size_t)> onSent;

    // Line
    void setEvents(LineEvents* events) override { events_ = events; }
    void configure(const PortSettings& settings) override { inner_.configure(settings); }
    void open() override {
        if (vanished_) {
            throw ECommError(CommErrorText::kPortOpen);
        }
        inner_.open();
        openedAfterByte_.push_back(sent_.size());
        openedAt_.push_back(inner_.now());
        vanishIfDue(VanishPoint::AfterByte);
    }
    void close() override { inner_.close(); }
    bool isOpen() const override { return inner_.isOpen(); }
    bool sendByte(std::uint8_t value) override {
        vanishIfDue(VanishPoint::AtNextSend);
        sent_.push_back(value);
        sentAt_.push_back(inner_.now());
        bool queued = false;
        if (vanished_) {
            ++bytesLost_;
        } else {
            queued = inner_.sendByte(value);
        }
        vanishIfDue(VanishPoint::AfterByte);
        if (onSent) {
            onSent(sent_.size());
        }
        return queued;
    }
    int receive(std::uint8_t* buffer, int count) override {
        return vanished_ ? -1 : inner_.receive(buffer, count);
    }
    void sleep(std::chrono::milliseconds duration) override { inner_.sleep(duration); }
    void processPendingEvents() override { inner_.processPendingEvents(); }
    void waitForEvents() override { inner_.waitForEvents(); }
    void armReceiveTimer(std::chrono::milliseconds interval) override {
        inner_.armReceiveTimer(interval);
    }
    void disableReceiveTimer() override { inner_.disableReceiveTimer(); }

  private:
    struct Plan {
        std::size_t sentCount;
        VanishPoint point;
    };

    void vanishIfDue(VanishPoint point) {
        if (plan_ && !vanished_ && plan_->point == point && sent_.size() >= plan_->sentCount) {
            vanished_ = true;
        }
    }

    // LineEvents of the virtual line
    void lineReceived(int receiveSize) override {
        if (vanished_) {
            std::uint8_t dropped[256];
            int got = 0;
            while ((got = inner_.receive(dropped, static_cast<int>(sizeof dropped))) > 0) {
                bytesLost_ += static_cast<std::uint64_t>(got);
            }
            return;
        }
        if (events_ != nullptr) {
            events_->lineReceived(receiveSize);
        }
    }
    void receiveTimerFired() override {
        if (events_ != nullptr) {
            events_->receiveTimerFired();
        }
    }

    sim::VirtualLine& inner_;
    LineEvents* events_ = nullptr;
    std::optional<Plan> plan_;
    bool vanished_ = false;
    std::uint64_t bytesLost_ = 0;
    std::vector<std::uint8_t> sent_;
    std::vector<sim::Micros> sentAt_;
    std::vector<std::size_t> openedAfterByte_;
    std::vector<sim::Micros> openedAt_;
};

}  // namespace qrb::test
