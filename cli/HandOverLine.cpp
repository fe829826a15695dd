#include "cli/HandOverLine.h"

#include <algorithm>
#include <cstring>

namespace qrb::cli {

HandOverLine::HandOverLine(std::unique_ptr<CommXLine> port,
                           std::vector<std::vector<std::uint8_t>> arrivals)
    : ForwardingLine(*port), port_(std::move(port)) {
    for (auto& arrival : arrivals) {
        held_.push_back(std::move(arrival));
    }
    port_->setEvents(this);
}

HandOverLine::~HandOverLine() {
    port_->setEvents(nullptr);
    port_->close();
}

// The run opens its port at the settings the listener used; the port is
// already open at them, and reopening would lose what the radio sent.
void HandOverLine::open() {
    if (!openedByRun_ && port_->isOpen()) {
        openedByRun_ = true;
        return;
    }
    openedByRun_ = true;
    held_.clear();  // a new attempt: only what comes from now on counts
    port_->open();
}

bool HandOverLine::deliverHeldArrival() {
    if (!openedByRun_ || held_.empty() || readPos_ < delivering_.size() || events_ == nullptr) {
        return false;
    }
    delivering_ = std::move(held_.front());
    held_.pop_front();
    readPos_ = 0;
    events_->lineReceived(static_cast<int>(delivering_.size()));
    return true;
}

int HandOverLine::receive(std::uint8_t* buffer, int count) {
    if (readPos_ < delivering_.size()) {
        const int n = std::min(count, static_cast<int>(delivering_.size() - readPos_));
        std::memcpy(buffer, delivering_.data() + readPos_, static_cast<std::size_t>(n));
        readPos_ += static_cast<std::size_t>(n);
        return n;
    }
    return port_->receive(buffer, count);
}

void HandOverLine::processPendingEvents() {
    if (!deliverHeldArrival()) {
        port_->processPendingEvents();
    }
}

void HandOverLine::waitForEvents() {
    if (!deliverHeldArrival()) {
        port_->waitForEvents();
    }
}

void HandOverLine::lineReceived(int receiveSize) {
    // Whatever the radio sent earlier reaches the run first.
    while (deliverHeldArrival()) {
    }
    if (events_ != nullptr) {
        events_->lineReceived(receiveSize);
    }
}

void HandOverLine::receiveTimerFired() {
    if (events_ != nullptr) {
        events_->receiveTimerFired();
    }
}

}  // namespace qrb::cli
