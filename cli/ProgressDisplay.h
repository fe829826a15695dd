// Progress of a write on standard error: a bar with percentage and remaining
// time on a terminal, plain lines otherwise (one per tenth of the way).
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace qrb::cli {

class ProgressDisplay {
  public:
    ProgressDisplay(std::FILE* out, bool terminal);

    // Starts a phase of total units.
    void begin(const std::string& phase, int total);
    void update(int done);
    // Ends the current line on a terminal; idempotent.
    void finish();

  private:
    void drawBar(double fraction);

    std::FILE* out_;
    bool terminal_;
    std::string phase_;
    int total_ = 0;
    int lastTenth_ = -1;
    bool active_ = false;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace qrb::cli
