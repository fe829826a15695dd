#include "writing/WriteHost.h"

namespace qrb {

const char* PhaseName(WorkPhase phase) {
    return phase == WorkPhase::OptionRoutine ? "Loading routine" : "Writing firmware";
}

}  // namespace qrb
