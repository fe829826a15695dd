// The simulator's report: what a unit received and how it ended, as JSON.
//
//   {"unit": "master", "version": "0100", "connected": true,
//    "identifications": 1, "version_answers": 1, "end_command": true,
//    "frames": [160, 161, ...],            accepted frames in order: block
//                                          numbers, or addresses (option unit)
//    "refused_frames": [...],              refused frames in order
//    "memory_size": 262144, "memory_sum": "03FC0000", "memory_file": "...",
//    "lines": [":10000000...", ...],       Slave CPU only
//    "end_frame": true,                    Slave CPU and option unit
//    "routines": [911, 1255, 1353], "erased_blocks": [2, ...],  option unit
//    "violations": ["12.345678 s: ...", ...],
//    "vanished": false, "exit_reason": "end-command"}
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/RadioModel.h"

namespace qrb::sim {

struct ReportExtras {
    std::string memoryFile;  // where the memory image was written, if anywhere
    std::string exitReason;  // "end-command", "signal", "idle", "vanished"
    bool vanished = false;
};

std::string reportJson(const RadioModel& model, const ReportExtras& extras);

// The unit's memory (Master CPU, option unit); empty for the Slave CPU.
const std::vector<std::uint8_t>* unitMemory(const RadioModel& model);

}  // namespace qrb::sim
