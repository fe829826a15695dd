#include <sys/prctl.h>

#include "writing/SleepPrecision.h"

namespace qrb {

FineSleepPrecision::FineSleepPrecision() {
    // 1 ns: the smallest slack; a failure only leaves the default.
    held_ = ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
}

// The slack is the thread's own; the write's thread keeps it.
FineSleepPrecision::~FineSleepPrecision() = default;

}  // namespace qrb
