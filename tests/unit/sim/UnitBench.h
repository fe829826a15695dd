// Test helper: talks to one unit model directly, without a line. The unit is
// switched on and connected (A0) at construction; send() hands bytes over at
// the bench's clock and returns what the unit sends within a window.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/RadioModel.h"

namespace qrb::sim::test {

using Bytes = std::vector<std::uint8_t>;

class UnitBench {
  public:
    explicit UnitBench(RadioModel& model) : model_(model) {
        model_.powerOn(Micros{0});
        model_.receive(0xA0, now_);
        model_.takeDue(now_ + Micros{10'000});
        now_ += Micros{10'000};
    }

    // All bytes reach the unit at the current time; the clock then moves on
    // by `window` and everything the unit sent meanwhile is returned.
    std::vector<Burst> send(const Bytes& bytes, Micros window = Micros{100'000}) {
        for (const std::uint8_t b : bytes) {
            model_.receive(b, now_);
        }
        auto out = model_.takeDue(now_ + window);
        now_ += window;
        return out;
    }
    // The answer bytes (echo and ready bytes left out) of send().
    Bytes ask(const Bytes& bytes, Micros window = Micros{100'000}) {
        return only(send(bytes, window), BurstKind::Answer);
    }

    static Bytes only(const std::vector<Burst>& bursts, BurstKind kind) {
        Bytes bytes;
        for (const auto& b : bursts) {
            if (b.kind == kind) {
                bytes.insert(bytes.end(), b.bytes.begin(), b.bytes.end());
            }
        }
        return bytes;
    }

    Micros now() const { return now_; }
    void wait(Micros d) { now_ += d; }

  private:
    RadioModel& model_;
    Micros now_{1'000};
};

inline unsigned byteSum(const Bytes& bytes) {
    unsigned sum = 0;
    for (auto b : bytes) {
        sum += b;
    }
    return sum & 0xFF;
}

}  // namespace qrb::sim::test
