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
};

class PtyHost {
  public:
    // Opens the pseudo-terminal; throws std::system_error.
    PtyHost(RadioModel& model, PtyHostOptions options);
    ~PtyHost();
    PtyHost(const PtyHost&) = delete;
    PtyHost& operator=(const PtyHost&) = delete;

    const std::string& slavePath() const { return slavePath_; }

    // Runs until the end command came and the PC has read its echo, a
    // SIGTERM or SIGINT, the idle limit, or the port vanishing on request.
    // Returns "end-command", "signal", "idle" or "vanished".
    std::string run();
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

    RadioModel& model_;
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
