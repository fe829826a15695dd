// qrb117-cli write: the write run of the window program on a terminal.
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "cli/CancelSignals.h"
#include "cli/Commands.h"
#include "cli/FileChecks.h"
#include "cli/ListeningWrite.h"
#include "cli/TerminalHost.h"
#include "cli/TracingLine.h"
#include "cli/Usage.h"
#include "cli/WriteRunParts.h"
#include "serial/CommX.h"
#include "writing/CommXLine.h"
#include "writing/RadioQRB.h"

namespace qrb::cli {

namespace {

// A device path given with --port is opened under this port number, beyond
// the COM list's; the component's path hook gives the path for it.
constexpr int kPortNumberForDevicePath = 250;

struct WriteOptions {
    std::string port;
    bool yes = false;
    std::optional<int> attempts;
    std::optional<WriteTarget> target;
    int watchdogSeconds = 60;
    std::string traceFile;
    std::string file;
    bool repeat = false;  // station mode
    std::string logFile;
};

int ParseNumber(const std::string& option, const std::string& text, int minimum) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < minimum || value > 1000000) {
        throw UsageError(option + " needs a number of at least " + std::to_string(minimum) +
                         ", not '" + text + "'");
    }
    return static_cast<int>(value);
}

WriteTarget ParseTarget(const std::string& text) {
    if (text == "master") {
        return kMasterCpu;
    }
    if (text == "slave") {
        return kSlaveCpu;
    }
    if (text == "olu6") {
        return kOptionUnit;
    }
    throw UsageError("--target must be master, slave or olu6, not '" + text + "'");
}

// The options of write, as its help text lists them.
QList<QCommandLineOption> WriteOptionTable() {
    return {
        {"port", QString(), "PORT"}, {"yes", QString()},           {"attempts", QString(), "N"},
        {"target", QString(), "T"},  {"watchdog", QString(), "S"}, {"trace", QString(), "FILE"},
        {"repeat", QString()},       {"log", QString(), "FILE"},
    };
}

WriteOptions ParseWriteOptions(const CommandLine& commandLine) {
    WriteOptions options;
    options.port = commandLine.value("port").value_or("");
    options.yes = commandLine.isSet("yes");
    if (const auto attempts = commandLine.value("attempts")) {
        options.attempts = ParseNumber("--attempts", *attempts, 1);
    }
    if (const auto target = commandLine.value("target")) {
        options.target = ParseTarget(*target);
    }
    if (const auto watchdog = commandLine.value("watchdog")) {
        options.watchdogSeconds = ParseNumber("--watchdog", *watchdog, 0);
    }
    options.traceFile = commandLine.value("trace").value_or("");
    options.repeat = commandLine.isSet("repeat");
    options.logFile = commandLine.value("log").value_or("");
    if (options.repeat != !options.logFile.empty()) {
        throw UsageError("--repeat and --log FILE go together");
    }
    const Arguments files = commandLine.operands();
    if (files.size() > 1) {
        throw UsageError("write takes one FILE");
    }
    if (options.port.empty()) {
        throw UsageError("write needs --port PORT");
    }
    if (files.empty()) {
        throw UsageError("write needs a FILE");
    }
    options.file = files.front();
    return options;
}

// Where --port leads: COM<n> is port n of the COM list (QRB117_COMPORTS
// included); a device path is opened as it is.
struct PortChoice {
    int number = 0;
    std::string devicePath;  // empty for COM<n>
};

PortChoice ChoosePort(const std::string& port) {
    if (port.size() > 3 && (port.compare(0, 3, "COM") == 0 || port.compare(0, 3, "com") == 0)) {
        return {ParseNumber("--port", port.substr(3), 1), {}};
    }
    if (port.empty() || port[0] != '/') {
        throw UsageError("--port must be COM<n> or a device path, not '" + port + "'");
    }
    return {kPortNumberForDevicePath, port};
}

// The serial component reaches a device path through its own path hook.
CommXOptions PortReach(const PortChoice& port) {
    CommXOptions reach;
    if (!port.devicePath.empty()) {
        reach.devicePathFor = [path = port.devicePath](int) { return path; };
    }
    return reach;
}

}  // namespace

int RunWrite(const Arguments& args) {
    const CommandLine commandLine(args, WriteOptionTable());
    if (commandLine.wantsHelp()) {
        return ShowHelp(kWriteHelp);
    }
    const WriteOptions options = ParseWriteOptions(commandLine);
    const PortChoice port = options.port == kAutoPort ? PortChoice{} : ChoosePort(options.port);

    FileFacts facts;
    try {
        facts = CheckFirmwareFile(options.file, options.target);
    } catch (const FileProblem& e) {
        std::fprintf(stderr, "qrb117-cli: %s\n", e.what());
        return kExitUsage;
    }

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> trace(nullptr, &std::fclose);
    if (!options.traceFile.empty()) {
        trace.reset(std::fopen(options.traceFile.c_str(), "w"));
        if (!trace) {
            std::fprintf(stderr, "qrb117-cli: cannot write the trace file %s\n",
                         options.traceFile.c_str());
            return kExitUsage;
        }
    }

    HostAnswers answers;
    answers.confirmWithoutAsking = options.yes;
    answers.attempts = options.attempts.value_or(1);
    answers.attemptsGiven = options.attempts.has_value();
    answers.interactive = ::isatty(STDIN_FILENO) != 0;
    if (options.port == kAutoPort || options.repeat) {
        return RunListeningWrite(
            {options.port, port.number, port.devicePath, options.repeat, options.logFile,
             options.watchdogSeconds, trace.get(), options.file, facts, [&] {
                 return std::make_unique<TerminalHost>(answers, ::isatty(STDERR_FILENO) != 0);
             }});
    }

    SharedState state = StateForWrite(facts, options.file, port.number);

    TerminalHost host(answers, ::isatty(STDERR_FILENO) != 0);

    CommXLine portLine(PortReach(port));
    TracingLine line(portLine, trace.get());
    WriteRun run(line, host, state);

    CancelSignals cancelOnSignal([&run] { run.btnWCancelClick(); });

    RunWatchdog watchdog(options.watchdogSeconds, host, run);

    std::printf("Writing %s to the %s on %s\n", options.file.c_str(),
                TargetName(facts.target).c_str(), options.port.c_str());
    std::fflush(stdout);
    const RunOutcome outcome = run.RunWrite();
    watchdog.stop();
    line.close();

    return ExitStatusFor(outcome);
}

}  // namespace qrb::cli
