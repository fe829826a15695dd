// The radio model in real time on a pseudo-terminal: the PC opens the
// terminal's slave side like a serial port; the host hands the PC's bytes to
// the model and writes the model's bytes at their times, optionally paced
// like a 38400 bit/s line. Single-threaded: one poll()-style loop.
#pragma once

#include <deque>
#include <string>

#include "sim/RadioModel.h"

namespace qrb::sim {

struct PtyHostOptions {
    bool lineRate = false;  // 11 bits a byte at 38400 bit/s in both directions
    // A USB serial adapter hands received bytes to the PC in packets, once
    // per interval; 0 hands each byte over the moment it is due.
    Micros adapterPacketInterval{0};
    std::string link;              // symbolic link to the slave side, if wanted
    Micros idleExit{0};            // exit after this long without a byte from the PC; 0: never
    Micros drainLimit{2'000'000};  // how long to wait for the PC to read the last answer
    // A connected unit that the PC has stopped talking to this long before
    // its end command makes way (run() returns "abandoned"); 0: never.
    Micros abandonAfter{0};
};

class PtyHost {
  public:
    // Opens the pseudo-terminal; throws std::system_error. Without a model
    // the terminal has no unit behind it (see runWithoutUnit()).
    PtyHost(RadioModel* model, PtyHostOptions options);
    ~PtyHost();
    PtyHost(const PtyHost&) = delete;
    PtyHost& operator=(const PtyHost&) = delete;

    const std::string& slavePath() const { return slavePath_; }

    // Runs until the end command came and the PC has read its echo, a
    // SIGTERM or SIGINT, the idle limit, the port vanishing on request or the
    // PC giving up on the unit. Returns "end-command", "signal", "idle",
    // "vanished" or "abandoned".
    std::string run();
    // Puts a fresh unit behind the same terminal, for the next run(): its
    // clock starts now, and whatever the PC sent to the previous one and did
    // not reach it is dropped.
    void replaceModel(RadioModel& model);
    // A port without a unit: reads and counts what the PC sends, and with a
    // noise interval sends a line of other bytes (never starting with the
    // ready byte) each interval. Until a signal or the idle limit.
    std::string runWithoutUnit(Micros noiseInterval);
    std::uint64_t bytesFromPc() const { return bytesFromPc_; }
    bool vanished() const { return vanished_; }

  private:
    struct Outgoing {
        Micros at{0};
        std::uint8_t byte = 0;
        bool ready = false;  // a ready byte: stale ones unread by the PC are dropped
    };

    Micros elapsed() const;
    Micros handOverAt(Micros due) const;
    void readInput(Micros now);
    void collectOutput(Micros now);
    void writeDue(Micros now);
    bool pcHasReadEverything() const;
    void waitUntil(Micros next, Micros now);
    void closeTerminal();

    RadioModel* model_;
    std::uint64_t bytesFromPc_ = 0;
    PtyHostOptions options_;
    int master_ = -1;
    int slave_ = -1;  // kept open so reads never fail while no PC is there
    std::string slavePath_;
    std::deque<Outgoing> outgoing_;
    Micros inputLineFreeAt_{0};
    Micros outputLineFreeAt_{0};
    Micros lastTraffic_{0};
    Micros lastWriteAt_{0};
    long long startNs_ = 0;
    bool vanished_ = false;
};

}  // namespace qrb::sim
