// The stored routines with the pause each needs before its first byte.
#include "writing/StoredRoutines.h"

#include <numeric>

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

std::uint32_t RoutineLengthField(std::span<const std::uint8_t> block) {
    if (block.size() < 4)
        return 0;
    return std::uint32_t{block[0]} << 24 | std::uint32_t{block[1]} << 16 |
           std::uint32_t{block[2]} << 8 | std::uint32_t{block[3]};
}

bool HasRoutineForm(std::span<const std::uint8_t> block) {
    if (block.size() < 5 || RoutineLengthField(block) != block.size() - 5)
        return false;
    unsigned sum = std::accumulate(block.begin(), block.end(), 0u);
    return sum % 256 == 0;
}

}  // namespace qrb
