// The write engine's line in virtual time: a simulated clock and one radio
// model in the same process. Sleeps and waits move the clock; the model's
// bytes arrive at their simulated times and reach the engine as receive
// events in processPendingEvents()/waitForEvents(), grouped as the test
// chooses. Nothing depends on the wall clock, so a run is deterministic and
// minutes of protocol pauses pass in milliseconds.
//
//   MasterCpuModel radio;
//   VirtualLine line(radio);
//   line.after(Micros{2'000'000}, [&] { state.StopRequested = true; });
//   ... run the engine on `line` ...
//   radio.frames(), radio.memory(), radio.violations(), line.now()
//
// Order of events due at the same instant: arrivals, then the receive
// timer, then scheduled callbacks (in the order they were scheduled).
// A wait with nothing left to happen throws VirtualDeadlock (and records a
// violation in the model) instead of hanging.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "serial/CommTypes.h"
#include "sim/RadioModel.h"
#include "writing/Line.h"

namespace qrb::sim {

// Thrown by waitForEvents() when nothing at all will ever happen, or when
// the virtual clock passes its limit.
class VirtualDeadlock : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// How the model's output is cut into receive events.
enum class Grouping : std::uint8_t {
    PerBurst,        // each burst the model sends is one event
    PerByte,         // every byte is an event of its own
    EchoWithAnswer,  // an echo is held back and arrives with the answer that follows it
    AllDue,          // everything due at one pump is one event
};

struct VirtualLineOptions {
    Grouping grouping = Grouping::PerBurst;
    // Line time of one byte in each direction (kByteTime38400 paces like the
    // real line); 0 delivers every byte at once.
    Micros byteTime{0};
    bool failOpen = false;                     // open() throws ECommError "Port Open Error"
    bool powerOnAtOpen = true;                 // every open() switches the radio on again
    Micros timeLimit{std::chrono::hours(12)};  // waits beyond this throw VirtualDeadlock
    bool traceEnabled = true;
};

struct LineCounters {
    std::uint64_t pumps = 0;          // processPendingEvents() calls
    std::uint64_t waits = 0;          // waitForEvents() calls
    std::uint64_t sleeps = 0;         // sleep() calls
    std::uint64_t receiveEvents = 0;  // lineReceived() calls
    std::uint64_t timerEvents = 0;    // receiveTimerFired() calls
    std::uint64_t callbacks = 0;      // scheduled callbacks run
    std::uint64_t bytesSent = 0;      // sendByte() calls that put a byte on the line
    std::uint64_t sendsRefused = 0;   // sendByte() calls on a closed or vanished port
    std::uint64_t bytesDelivered = 0;
    std::uint64_t bytesDropped = 0;  // arrived while the port was closed or gone
};

struct TraceEntry {
    enum class Direction : std::uint8_t { ToRadio, FromRadio };
    Micros at{0};  // sent by the engine / delivered to the engine
    Direction direction = Direction::ToRadio;
    std::uint8_t byte = 0;
    bool refused = false;  // ToRadio: sendByte() returned false (port closed or gone)
};

class VirtualLine : public qrb::Line {
  public:
    explicit VirtualLine(RadioModel& model, VirtualLineOptions options = {});
    ~VirtualLine() override = default;
    VirtualLine(const VirtualLine&) = delete;
    VirtualLine& operator=(const VirtualLine&) = delete;

    // qrb::Line
    void setEvents(qrb::LineEvents* events) override { events_ = events; }
    void configure(const qrb::PortSettings& settings) override { settings_ = settings; }
    void open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool sendByte(std::uint8_t value) override;
    int receive(std::uint8_t* buffer, int count) override;
    void sleep(std::chrono::milliseconds duration) override;
    void processPendingEvents() override;
    void waitForEvents() override;
    void armReceiveTimer(std::chrono::milliseconds interval) override;
    void disableReceiveTimer() override;

    Micros now() const { return now_; }
    RadioModel& model() { return model_; }
    VirtualLineOptions& options() { return options_; }
    const qrb::PortSettings& settings() const { return settings_; }
    const LineCounters& counters() const { return counters_; }
    const std::vector<TraceEntry>& trace() const { return trace_; }
    bool vanished() const;
    bool timerArmed() const { return timerDue_.has_value(); }
    std::optional<Micros> timerDue() const { return timerDue_; }
    int opens() const { return opens_; }

    // Runs fn on the engine's thread inside the pump that reaches `when`
    // (e.g. a test pressing Cancel).
    void at(Micros when, std::function<void()> fn);
    void after(Micros delay, std::function<void()> fn) { at(now_ + delay, std::move(fn)); }

    // Moves the clock on without handling events (like sleep()).
    void advance(Micros delay);

  private:
    struct Arrival {
        Micros at{0};
        std::vector<std::uint8_t> bytes;
    };
    struct Callback {
        std::uint64_t sequence = 0;
        std::function<void()> fn;
    };

    void syncModelTo(Micros t);
    void collectModelOutput(Micros upTo);
    bool answerScheduled() const;
    void queueBurst(Burst burst);
    Micros pace(Micros due, std::size_t byteCount);
    void queueArrival(Micros at, std::vector<std::uint8_t> bytes);
    std::optional<Micros> nextEngineEvent() const;
    std::optional<Micros> nextInternalEvent() const;
    bool handleOneDueEvent();
    void deliver(std::vector<std::uint8_t> bytes);
    [[noreturn]] void stuck(const std::string& what);

    RadioModel& model_;
    VirtualLineOptions options_;
    qrb::LineEvents* events_ = nullptr;
    qrb::PortSettings settings_;
    bool open_ = false;
    int opens_ = 0;
    Micros now_{0};
    Micros txLineFreeAt_{0};
    Micros rxLineFreeAt_{0};
    std::deque<std::pair<Micros, std::uint8_t>> inFlight_;  // bytes on their way to the radio
    std::deque<Arrival> arrivals_;                          // due order
    std::vector<std::uint8_t> heldEcho_;  // EchoWithAnswer: waiting for its answer
    Micros heldEchoDue_{0};
    std::vector<std::uint8_t> unread_;
    std::optional<Micros> timerDue_;
    std::multimap<Micros, Callback> callbacks_;
    std::uint64_t nextCallbackSequence_ = 0;
    Micros lastPumpAt_{-1};
    std::uint64_t pumpsWithoutProgress_ = 0;
    LineCounters counters_;
    std::vector<TraceEntry> trace_;
};

}  // namespace qrb::sim
