// Command line of rq7300-sim: which unit, its timing, its faults, and where
// the pseudo-terminal's link, the report and the memory image go.
#pragma once

#include <memory>
#include <string>

#include "sim/MasterCpuModel.h"
#include "sim/OptionUnitModel.h"
#include "sim/SlaveCpuModel.h"

namespace qrb::sim {

struct SimOptions {
    Unit unit = Unit::MasterCpu;
    OptionUnitConfig config;  // its RadioConfig part serves every unit
    CommonFaults common;
    MasterFaults master;
    SlaveFaults slave;
    OptionUnitFaults option;
    bool lineRate = false;
    Micros adapterPacketInterval{0};  // 0: each byte when due
    std::string link;
    std::string reportFile;
    std::string memoryFile;
    Micros idleExit{0};  // 0: never
    bool help = false;
};

// Throws std::invalid_argument with a message for the user on bad usage.
SimOptions parseSimOptions(int argc, const char* const* argv);
std::unique_ptr<RadioModel> makeModel(const SimOptions& options);
const char* simUsage();

}  // namespace qrb::sim
