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
    bool noUnit = false;             // --unit none: a port without a radio
    Micros noiseInterval{0};         // --noise: other bytes this often (no unit only)
    int radios = 1;                  // a fleet: one after another on the same terminal
    int faultyRadio = 0;             // 0: the faults apply to every radio of the fleet
    Micros giveUpAfter{10'000'000};  // a fleet's radio the PC stopped talking to
};

// Throws std::invalid_argument with a message for the user on bad usage.
SimOptions parseSimOptions(int argc, const char* const* argv);
std::unique_ptr<RadioModel> makeModel(const SimOptions& options);
// Radio `index` (from 1) of a fleet: its own version (the base version plus
// index - 1), and the faults only when it is the faulty one (or all are).
std::unique_ptr<RadioModel> makeFleetModel(const SimOptions& options, int index);
// FILE for a single radio, FILE.N for radio N of a fleet.
std::string fleetFileName(const std::string& file, const SimOptions& options, int index);
const char* simUsage();

}  // namespace qrb::sim
