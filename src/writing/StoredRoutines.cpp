// The stored routines with the pause each needs before its first byte.
#include "writing/StoredRoutines.h"

namespace qrb {

using std::chrono::milliseconds;

StoredRoutine BaseRoutine() {
    return {"BaseRoutine", embedded::BaseRoutine, milliseconds(10)};
}
StoredRoutine EraseRoutine() {
    return {"EraseRoutine", embedded::EraseRoutine, milliseconds(100)};
}
StoredRoutine ProgramRoutine() {
    return {"ProgramRoutine", embedded::ProgramRoutine, milliseconds(100)};
}

}  // namespace qrb
