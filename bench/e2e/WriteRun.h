// One end-to-end write for the benchmark: rq7300-sim on a pseudo-terminal
// (its --link in a temporary folder) and qrb117-cli writing a firmware file
// into it with --trace, both as child processes. Collects the CLI's wall and
// processor time, its trace and the simulator's JSON report.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CliTrace.h"

namespace qrb::bench {

struct Programs {
    std::string cli;  // qrb117-cli
    std::string sim;  // rq7300-sim
};

struct WriteRunSpec {
    std::string name;  // names the run's files: <name>.trace, <name>-sim.json, ...
    std::string firmwareFile;
    std::vector<std::string> simArguments;  // besides --link and --report
    double expectedSeconds = 0;             // a run taking 3 times this is stopped
};

struct WriteRunResult {
    bool ok = false;
    std::string problem;  // why it is not ok, with the tails of the outputs
    double cliWallSeconds = 0;
    double cliUserSeconds = 0;
    double cliSystemSeconds = 0;
    double simCpuSeconds = 0;
    double stolenSeconds = 0;  // processor time the host gave to others meanwhile
    std::optional<CliTrace> trace;
    std::string simReport;  // the simulator's JSON report
};

// Runs one write in `folder`; never throws for a failed write (ok = false).
WriteRunResult RunWrite(const Programs& programs, const WriteRunSpec& spec,
                        const std::string& folder);

// Processor time the virtual machine's host took away so far (steal time,
// all processors together); 0 where the system does not say.
double StolenSeconds();

// Number of entries in the report's array `key` ("frames": [1, 2]); -1 if absent.
int ReportArraySize(const std::string& report, const std::string& key);

}  // namespace qrb::bench
