// rq7300-sim: one unit of the RQ-7300 on a pseudo-terminal, for end-to-end
// tests, benchmarks and the demo. See --help.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include "PtyHost.h"
#include "SimOptions.h"
#include "SimReport.h"

namespace {

bool writeFile(const std::string& path, const char* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data, static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace qrb::sim;
    SimOptions options;
    try {
        options = parseSimOptions(argc, argv);
    } catch (const std::invalid_argument& e) {
        std::cerr << "rq7300-sim: " << e.what() << " (see --help)\n";
        return 2;
    }
    if (options.help) {
        std::cout << simUsage();
        return 0;
    }
    auto model = makeModel(options);
    try {
        PtyHostOptions hostOptions;
        hostOptions.lineRate = options.lineRate;
        hostOptions.adapterPacketInterval = options.adapterPacketInterval;
        hostOptions.link = options.link;
        hostOptions.idleExit = options.idleExit;
        PtyHost host(*model, hostOptions);
        std::cout << host.slavePath() << std::endl;

        ReportExtras extras;
        extras.exitReason = host.run();
        extras.vanished = host.vanished();

        int status = 0;
        if (!options.memoryFile.empty()) {
            if (const auto* memory = unitMemory(*model)) {
                if (writeFile(options.memoryFile, reinterpret_cast<const char*>(memory->data()),
                              memory->size())) {
                    extras.memoryFile = options.memoryFile;
                } else {
                    std::cerr << "rq7300-sim: cannot write " << options.memoryFile << "\n";
                    status = 1;
                }
            }
        }
        if (!options.reportFile.empty()) {
            const std::string report = reportJson(*model, extras);
            if (!writeFile(options.reportFile, report.data(), report.size())) {
                std::cerr << "rq7300-sim: cannot write " << options.reportFile << "\n";
                status = 1;
            }
        }
        return status;
    } catch (const std::system_error& e) {
        std::cerr << "rq7300-sim: " << e.what() << "\n";
        return 1;
    }
}
