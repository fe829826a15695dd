// The write protocols pause thousands of times for 2 to 4 ms (4 ms after
// every byte of an option-unit block). A sleep may run late by the system's
// timer granularity: 50 us of timer slack by default on Linux, a whole tick
// of about 15.6 ms by default on Windows, which would stretch every pause and
// a whole write several times over. The line of a write holds the finest
// precision the platform offers for as long as it lives.
#pragma once

namespace qrb {

class FineSleepPrecision {
  public:
    // Linux: the calling thread's timer slack becomes 1 ns (and stays so).
    // Windows: the system timer period becomes 1 ms until destruction.
    FineSleepPrecision();
    // Out of line: only the Windows build has work to do here.
    ~FineSleepPrecision();  // NOLINT(performance-trivially-destructible)
    FineSleepPrecision(const FineSleepPrecision&) = delete;
    FineSleepPrecision& operator=(const FineSleepPrecision&) = delete;

  private:
    bool held_ = false;
};

}  // namespace qrb
