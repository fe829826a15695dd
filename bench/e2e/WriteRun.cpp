// One end-to-end write: simulator and CLI as child processes.
#include "WriteRun.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <fstream>
#include <iterator>
#include <thread>

#include "ChildProcess.h"

namespace qrb::bench {
namespace {

using namespace std::chrono_literals;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string tailOf(const std::string& path, std::size_t chars = 800) {
    const std::string text = readFile(path);
    if (text.empty()) {
        return "";
    }
    const std::string tail = text.size() > chars ? "..." + text.substr(text.size() - chars) : text;
    return "\n--- " + path + ":\n" + tail;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// The simulator puts its link in place before it starts answering.
bool waitForLink(const std::string& link, const ChildProcess& sim) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (exists(link)) {
            return true;
        }
        if (sim.ended()) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

}  // namespace

double StolenSeconds() {
    // First line of /proc/stat: "cpu user nice system idle iowait irq softirq
    // steal ...", in clock ticks summed over all processors.
    std::ifstream in("/proc/stat");
    std::string label;
    unsigned long long fields[8] = {};
    in >> label;
    for (auto& field : fields) {
        in >> field;
    }
    if (!in || label != "cpu") {
        return 0;
    }
    return static_cast<double>(fields[7]) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

int ReportArraySize(const std::string& report, const std::string& key) {
    const auto at = report.find("\"" + key + "\": [");
    if (at == std::string::npos) {
        return -1;
    }
    const auto open = report.find('[', at);
    const auto close = report.find(']', open);
    if (close == std::string::npos) {
        return -1;
    }
    const std::string inside = report.substr(open + 1, close - open - 1);
    if (inside.find_first_not_of(" \n") == std::string::npos) {
        return 0;
    }
    int entries = 1;
    int depth = 0;
    for (const char c : inside) {
        if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (c == ',' && depth == 0) {
            ++entries;
        }
    }
    return entries;
}

WriteRunResult RunWrite(const Programs& programs, const WriteRunSpec& spec,
                        const std::string& folder) {
    const std::string base = folder + "/" + spec.name;
    const std::string link = base + "-port";
    const std::string reportPath = base + "-sim.json";
    const std::string tracePath = base + ".trace";
    WriteRunResult result;
    const auto outputs = [&] {
        return tailOf(base + "-cli.out") + tailOf(base + "-cli.err") + tailOf(base + "-sim.err");
    };

    try {
        std::vector<std::string> simArgs{programs.sim};
        simArgs.insert(simArgs.end(), spec.simArguments.begin(), spec.simArguments.end());
        simArgs.insert(simArgs.end(), {"--link", link, "--report", reportPath});
        ChildProcess sim(simArgs, base + "-sim.out", base + "-sim.err");
        if (!waitForLink(link, sim)) {
            sim.stop();
            result.problem =
                "the simulator did not put its link in place (" + sim.endText() + ")" + outputs();
            return result;
        }

        const double stolenBefore = StolenSeconds();
        ChildProcess cli({programs.cli, "write", "--port", link, "--yes", "--trace", tracePath,
                          spec.firmwareFile},
                         base + "-cli.out", base + "-cli.err");
        const auto limit = std::chrono::milliseconds(
            static_cast<long long>(spec.expectedSeconds * 3000.0) + 30'000);
        if (!cli.waitFor(limit)) {
            cli.stop();
            sim.stop();
            result.problem = "qrb117-cli did not finish within " +
                             std::to_string(limit.count() / 1000) + " s" + outputs();
            return result;
        }
        // The simulator ends once the CLI has read the end command's echo.
        if (!sim.waitFor(10s)) {
            sim.stop();
        }
        result.stolenSeconds = StolenSeconds() - stolenBefore;
        result.cliWallSeconds = cli.wallSeconds();
        result.cliUserSeconds = cli.userSeconds();
        result.cliSystemSeconds = cli.systemSeconds();
        result.simCpuSeconds = sim.cpuSeconds();
        result.simReport = readFile(reportPath);
        if (!cli.succeeded()) {
            result.problem = "qrb117-cli ended with " + cli.endText() + outputs();
            return result;
        }
        if (result.simReport.empty()) {
            result.problem = "the simulator wrote no report (" + sim.endText() + ")" + outputs();
            return result;
        }
        if (ReportArraySize(result.simReport, "violations") != 0) {
            result.problem = "the simulator recorded protocol violations: see " + reportPath;
            return result;
        }
        result.trace.emplace(tracePath);
    } catch (const std::exception& e) {
        result.problem = e.what() + outputs();
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace qrb::bench
