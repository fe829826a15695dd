#include "writing/SleepPrecision.h"

namespace qrb {

// Platforms without a per-thread timer slack keep their default precision.
void UseFineSleepPrecision() {}

}  // namespace qrb
