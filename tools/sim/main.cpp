// rq7300-sim: one unit of the RQ-7300 on a pseudo-terminal, for end-to-end
// tests, benchmarks and the demo. See --help.
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
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

// The memory image and the report of radio `index`; 0, or 1 when one of
// them could not be written.
int writeResults(const qrb::sim::RadioModel& model, const qrb::sim::SimOptions& options, int index,
                 qrb::sim::ReportExtras& extras) {
    using namespace qrb::sim;
    int status = 0;
    const std::string memoryFile = fleetFileName(options.memoryFile, options, index);
    if (!memoryFile.empty()) {
        if (const auto* memory = unitMemory(model)) {
            if (writeFile(memoryFile, reinterpret_cast<const char*>(memory->data()),
                          memory->size())) {
                extras.memoryFile = memoryFile;
            } else {
                std::cerr << "rq7300-sim: cannot write " << memoryFile << "\n";
                status = 1;
            }
        }
    }
    const std::string reportFile = fleetFileName(options.reportFile, options, index);
    if (!reportFile.empty()) {
        const std::string report = reportJson(model, extras);
        if (!writeFile(reportFile, report.data(), report.size())) {
            std::cerr << "rq7300-sim: cannot write " << reportFile << "\n";
            status = 1;
        }
    }
    return status;
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
    try {
        PtyHostOptions hostOptions;
        hostOptions.lineRate = options.lineRate;
        hostOptions.adapterPacketInterval = options.adapterPacketInterval;
        hostOptions.link = options.link;
        hostOptions.idleExit = options.idleExit;
        if (options.radios > 1) {
            hostOptions.abandonAfter = options.giveUpAfter;
        }
        PtyHost host(nullptr, hostOptions);
        std::cout << host.slavePath() << std::endl;
        if (options.noUnit) {
            const std::string reason = host.runWithoutUnit(options.noiseInterval);
            if (!options.reportFile.empty()) {
                const QJsonObject json{{"unit", "none"},
                                       {"bytes_received", static_cast<qint64>(host.bytesFromPc())},
                                       {"exit_reason", QString::fromStdString(reason)}};
                const std::string report = QJsonDocument(json).toJson().toStdString();
                if (!writeFile(options.reportFile, report.data(), report.size())) {
                    std::cerr << "rq7300-sim: cannot write " << options.reportFile << "\n";
                    return 1;
                }
            }
            return 0;
        }

        int status = 0;
        for (int index = 1; index <= options.radios; ++index) {
            auto model = makeFleetModel(options, index);
            host.replaceModel(*model);
            ReportExtras extras;
            extras.exitReason = host.run();
            extras.vanished = host.vanished();
            status = std::max(status, writeResults(*model, options, index, extras));
            if (extras.exitReason != "end-command" && extras.exitReason != "abandoned") {
                break;  // a signal, the idle limit or a vanished terminal ends the fleet
            }
        }
        return status;
    } catch (const std::system_error& e) {
        std::cerr << "rq7300-sim: " << e.what() << "\n";
        return 1;
    }
}
