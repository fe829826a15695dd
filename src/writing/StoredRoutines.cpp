// The stored routines with the pause each needs before its first byte.
#include "writing/StoredRoutines.h"

namespace qrb {

StoredRoutine BaseRoutine() {
    return {"BaseRoutine", embedded::BaseRoutine, 10};
}
StoredRoutine EraseRoutine() {
    return {"EraseRoutine", embedded::EraseRoutine, 100};
}
StoredRoutine ProgramRoutine() {
    return {"ProgramRoutine", embedded::ProgramRoutine, 100};
}

}  // namespace qrb
