#include <windows.h>
// after windows.h, which it needs
#include <timeapi.h>

#include "writing/SleepPrecision.h"

namespace qrb {

FineSleepPrecision::FineSleepPrecision() {
    held_ = ::timeBeginPeriod(1) == TIMERR_NOERROR;
}

FineSleepPrecision::~FineSleepPrecision() {
    if (held_) {
        ::timeEndPeriod(1);  // every timeBeginPeriod needs its timeEndPeriod
    }
}

}  // namespace qrb
