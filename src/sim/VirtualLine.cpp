// The virtual-time line: a clock that jumps from event to event, bytes on
// their way to the radio, the radio's output cut into receive events, the
// receive timer and the test's scheduled callbacks.
#include "sim/VirtualLine.h"

#include <algorithm>

namespace qrb::sim {
namespace {

// A legitimate engine waits (or sleeps) long before this many pumps pass
// without the clock moving; an engine that spins would hang the test.
constexpr std::uint64_t kPumpsWithoutProgressLimit = 10'000'000;

std::optional<Micros> earliest(std::optional<Micros> a, std::optional<Micros> b) {
    if (!a) {
        return b;
    }
    if (!b) {
        return a;
    }
    return std::min(*a, *b);
}

}  // namespace

VirtualLine::VirtualLine(RadioModel& model, VirtualLineOptions options)
    : model_(model), options_(options) {}

bool VirtualLine::vanished() const {
    const auto gone = model_.vanishAt();
    return gone && now_ >= *gone;
}

void VirtualLine::open() {
    syncModelTo(now_);
    if (open_) {
        throw qrb::ECommError("ポートは、すでにオープンされています");
    }
    if (options_.failOpen || vanished()) {
        throw qrb::ECommError("Port Open Error");
    }
    open_ = true;
    ++opens_;
    unread_.clear();
    arrivals_.clear();
    heldEcho_.clear();
    rxLineFreeAt_ = now_;
    if (options_.powerOnAtOpen || !model_.poweredOn()) {
        model_.powerOn(now_);
    }
}

void VirtualLine::close() {
    if (!open_) {
        return;
    }
    syncModelTo(now_);
    open_ = false;
    std::uint64_t dropped = unread_.size() + heldEcho_.size();
    for (const auto& arrival : arrivals_) {
        dropped += arrival.bytes.size();
    }
    counters_.bytesDropped += dropped;
    unread_.clear();
    arrivals_.clear();
    heldEcho_.clear();
}

bool VirtualLine::sendByte(std::uint8_t value) {
    syncModelTo(now_);
    // The engine's attempt is traced either way: a test sees what it tried
    // to send after the port was gone.
    const bool refused = !open_ || vanished();
    if (options_.traceEnabled) {
        trace_.push_back(TraceEntry{now_, TraceEntry::Direction::ToRadio, value, refused});
    }
    if (refused) {
        ++counters_.sendsRefused;
        return false;
    }
    const Micros arrival = std::max(now_, txLineFreeAt_) + options_.byteTime;
    txLineFreeAt_ = arrival;
    inFlight_.emplace_back(arrival, value);
    ++counters_.bytesSent;
    syncModelTo(now_);
    return true;
}

int VirtualLine::receive(std::uint8_t* buffer, int count) {
    if (!open_) {
        return -1;
    }
    const auto n =
        static_cast<std::size_t>(std::clamp<long>(count, 0, static_cast<long>(unread_.size())));
    std::copy_n(unread_.begin(), n, buffer);
    unread_.erase(unread_.begin(), unread_.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<int>(n);
}

void VirtualLine::sleep(std::chrono::milliseconds duration) {
    ++counters_.sleeps;
    advance(duration);
}

void VirtualLine::advance(Micros delay) {
    if (delay > Micros{0}) {
        now_ += delay;
    }
    syncModelTo(now_);
}

void VirtualLine::armReceiveTimer(std::chrono::milliseconds interval) {
    timerDue_ = now_ + Micros(interval);
}

void VirtualLine::disableReceiveTimer() {
    timerDue_.reset();
}

void VirtualLine::at(Micros when, std::function<void()> fn) {
    callbacks_.emplace(when, Callback{nextCallbackSequence_++, std::move(fn)});
}

// ---- the radio's side ---------------------------------------------------

void VirtualLine::syncModelTo(Micros t) {
    while (!inFlight_.empty() && inFlight_.front().first <= t) {
        const auto [at, value] = inFlight_.front();
        inFlight_.pop_front();
        // Output due before this byte reaches the radio is on its way first.
        collectModelOutput(at);
        const auto gone = model_.vanishAt();
        if (gone && at >= *gone) {
            continue;  // the line is gone; the byte is lost
        }
        model_.receive(value, at);
    }
    collectModelOutput(t);
}

void VirtualLine::collectModelOutput(Micros upTo) {
    for (Burst& burst : model_.takeDue(upTo)) {
        const auto gone = model_.vanishAt();
        if (!open_ || (gone && burst.due > *gone)) {
            counters_.bytesDropped += burst.bytes.size();
            continue;
        }
        queueBurst(std::move(burst));
    }
    // An echo held for an answer that will not come after all goes alone.
    if (!heldEcho_.empty() && !answerScheduled()) {
        queueArrival(heldEchoDue_, std::move(heldEcho_));
        heldEcho_.clear();
    }
}

bool VirtualLine::answerScheduled() const {
    const auto& scheduled = model_.scheduled();
    return std::any_of(scheduled.begin(), scheduled.end(),
                       [](const Burst& b) { return b.kind == BurstKind::Answer; });
}

void VirtualLine::queueBurst(Burst burst) {
    if (options_.grouping == Grouping::EchoWithAnswer) {
        if (burst.kind == BurstKind::Echo && answerScheduled()) {
            heldEcho_.insert(heldEcho_.end(), burst.bytes.begin(), burst.bytes.end());
            heldEchoDue_ = burst.due;
            return;
        }
        if (burst.kind == BurstKind::Answer && !heldEcho_.empty()) {
            // The held echo is already on the PC's side; only the answer
            // takes line time.
            const Micros arrives = pace(burst.due, burst.bytes.size());
            std::vector<std::uint8_t> bytes = std::move(heldEcho_);
            heldEcho_.clear();
            bytes.insert(bytes.end(), burst.bytes.begin(), burst.bytes.end());
            queueArrival(arrives, std::move(bytes));
            return;
        }
    }
    // The echo comes back while the PC's byte is on the line; the unit's
    // own bytes take line time.
    const bool paced = burst.kind != BurstKind::Echo && options_.byteTime > Micros{0};
    if (options_.grouping == Grouping::PerByte) {
        Micros t = paced ? std::max(burst.due, rxLineFreeAt_) : burst.due;
        for (const std::uint8_t byte : burst.bytes) {
            if (paced) {
                t += options_.byteTime;
            }
            queueArrival(t, {byte});
        }
        if (paced) {
            rxLineFreeAt_ = t;
        }
        return;
    }
    const Micros arrives = paced ? pace(burst.due, burst.bytes.size()) : burst.due;
    queueArrival(arrives, std::move(burst.bytes));
}

Micros VirtualLine::pace(Micros due, std::size_t byteCount) {
    if (options_.byteTime <= Micros{0}) {
        return due;
    }
    const Micros start = std::max(due, rxLineFreeAt_);
    rxLineFreeAt_ = start + options_.byteTime * static_cast<long>(byteCount);
    return rxLineFreeAt_;
}

void VirtualLine::queueArrival(Micros at, std::vector<std::uint8_t> bytes) {
    if (bytes.empty()) {
        return;
    }
    auto pos = arrivals_.end();
    while (pos != arrivals_.begin() && std::prev(pos)->at > at) {
        --pos;
    }
    arrivals_.insert(pos, Arrival{at, std::move(bytes)});
}

// ---- the engine's side --------------------------------------------------

std::optional<Micros> VirtualLine::nextEngineEvent() const {
    std::optional<Micros> next = timerDue_;
    if (!arrivals_.empty()) {
        next = earliest(next, arrivals_.front().at);
    }
    if (!callbacks_.empty()) {
        next = earliest(next, callbacks_.begin()->first);
    }
    return next;
}

std::optional<Micros> VirtualLine::nextInternalEvent() const {
    std::optional<Micros> next;
    if (!inFlight_.empty()) {
        next = inFlight_.front().first;
    }
    // The radio's output matters only while someone can receive it.
    if (open_ && !vanished()) {
        next = earliest(next, model_.nextDue());
    }
    return next;
}

bool VirtualLine::handleOneDueEvent() {
    enum class Kind { None, Bytes, Timer, Scheduled } kind = Kind::None;
    Micros best{0};
    if (!arrivals_.empty() && arrivals_.front().at <= now_) {
        kind = Kind::Bytes;
        best = arrivals_.front().at;
    }
    if (timerDue_ && *timerDue_ <= now_ && (kind == Kind::None || *timerDue_ < best)) {
        kind = Kind::Timer;
        best = *timerDue_;
    }
    if (!callbacks_.empty() && callbacks_.begin()->first <= now_ &&
        (kind == Kind::None || callbacks_.begin()->first < best)) {
        kind = Kind::Scheduled;
    }
    switch (kind) {
        case Kind::None:
            return false;
        case Kind::Bytes: {
            std::vector<std::uint8_t> bytes = std::move(arrivals_.front().bytes);
            arrivals_.pop_front();
            if (options_.grouping == Grouping::AllDue) {
                while (!arrivals_.empty() && arrivals_.front().at <= now_) {
                    bytes.insert(bytes.end(), arrivals_.front().bytes.begin(),
                                 arrivals_.front().bytes.end());
                    arrivals_.pop_front();
                }
            }
            deliver(std::move(bytes));
            return true;
        }
        case Kind::Timer:
            timerDue_.reset();
            ++counters_.timerEvents;
            if (events_ != nullptr) {
                events_->receiveTimerFired();
            }
            return true;
        case Kind::Scheduled: {
            auto node = callbacks_.extract(callbacks_.begin());
            ++counters_.callbacks;
            if (node.mapped().fn) {
                node.mapped().fn();
            }
            return true;
        }
    }
    return false;
}

void VirtualLine::deliver(std::vector<std::uint8_t> bytes) {
    if (!open_) {
        counters_.bytesDropped += bytes.size();
        return;
    }
    if (options_.traceEnabled) {
        for (const std::uint8_t byte : bytes) {
            trace_.push_back(TraceEntry{now_, TraceEntry::Direction::FromRadio, byte});
        }
    }
    counters_.bytesDelivered += bytes.size();
    unread_.insert(unread_.end(), bytes.begin(), bytes.end());
    ++counters_.receiveEvents;
    if (events_ != nullptr) {
        // Like the serial component: the number of bytes waiting.
        events_->lineReceived(static_cast<int>(unread_.size()));
    }
}

void VirtualLine::processPendingEvents() {
    ++counters_.pumps;
    syncModelTo(now_);
    bool handled = false;
    while (handleOneDueEvent()) {
        handled = true;
        syncModelTo(now_);
    }
    if (handled || now_ != lastPumpAt_) {
        pumpsWithoutProgress_ = 0;
        lastPumpAt_ = now_;
        return;
    }
    if (++pumpsWithoutProgress_ > kPumpsWithoutProgressLimit) {
        stuck("the engine keeps pumping events without ever letting the clock move");
    }
}

void VirtualLine::waitForEvents() {
    ++counters_.waits;
    for (;;) {
        syncModelTo(now_);
        const auto engine = nextEngineEvent();
        if (engine && *engine <= now_) {
            processPendingEvents();
            return;
        }
        const auto next = earliest(engine, nextInternalEvent());
        if (!next) {
            stuck(
                "the engine waits, but nothing is scheduled: no byte on its way, "
                "no receive timer, no callback");
        }
        if (*next > options_.timeLimit) {
            stuck("the virtual clock would pass its limit while the engine waits");
        }
        now_ = std::max(now_, *next);
    }
}

void VirtualLine::stuck(const std::string& what) {
    model_.recordViolation(now_, what);
    throw VirtualDeadlock(formatViolation(Violation{now_, what}));
}

}  // namespace qrb::sim
