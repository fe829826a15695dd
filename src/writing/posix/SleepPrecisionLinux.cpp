#include <sys/prctl.h>

#include "writing/SleepPrecision.h"

namespace qrb {

void UseFineSleepPrecision() {
    // 1 ns: the smallest slack; a failure only leaves the default.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

}  // namespace qrb
