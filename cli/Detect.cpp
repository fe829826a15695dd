// qrb117-cli detect: which COM ports have a radio waiting for a PC, found by
// listening alone.
#include <cstdio>
#include <cstdlib>

#include "cli/CancelSignals.h"
#include "cli/Commands.h"
#include "cli/PortListener.h"
#include "cli/Usage.h"

namespace qrb::cli {

namespace {

constexpr int kDefaultSeconds = 10;
constexpr long kMaxSeconds = 86400;

int ParseSeconds(const CommandLine& commandLine) {
    const auto text = commandLine.value("seconds");
    if (!text) {
        return kDefaultSeconds;
    }
    char* end = nullptr;
    const long value = std::strtol(text->c_str(), &end, 10);
    if (text->empty() || *end != '\0' || value < 1 || value > kMaxSeconds) {
        throw UsageError("--seconds needs a number from 1 to " + std::to_string(kMaxSeconds) +
                         ", not '" + *text + "'");
    }
    return static_cast<int>(value);
}

}  // namespace

int RunDetect(const Arguments& args) {
    const CommandLine commandLine(args, {{"seconds", QString(), "N"}});
    if (commandLine.wantsHelp()) {
        return ShowHelp(kDetectHelp);
    }
    if (!commandLine.operands().empty()) {
        throw UsageError("detect takes no operands");
    }
    return DetectRadios(ParseSeconds(commandLine));
}

int DetectRadios(int seconds) {
    const std::vector<ListenedPort> ports = ListedPorts();
    if (ports.empty()) {
        std::printf("No COM ports found.\n");
        return kExitFailed;
    }
    PortListener listener(ports);
    CancelSignals cancelOnSignal([&listener] { listener.stop(); }, "stopping the search...");
    listener.openAll();
    std::fprintf(stderr, "Listening on %zu port(s) for %d s...\n", ports.size(), seconds);
    listener.listen(std::chrono::seconds(seconds), false);
    bool found = false;
    for (const PortFinding& finding : listener.findings()) {
        std::printf("%s\n", FindingText(finding).c_str());
        found = found || finding.verdict == PortVerdict::RadioWaiting;
    }
    std::fflush(stdout);
    if (listener.stopped()) {
        return kExitFailed;  // Ctrl+C: what was heard so far is shown
    }
    return found ? kExitOk : kExitFailed;
}

}  // namespace qrb::cli
