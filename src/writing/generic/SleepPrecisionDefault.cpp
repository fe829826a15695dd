#include "writing/SleepPrecision.h"

namespace qrb {

// Platforms without a finer timer keep their default precision.
FineSleepPrecision::FineSleepPrecision() = default;
FineSleepPrecision::~FineSleepPrecision() = default;

}  // namespace qrb
