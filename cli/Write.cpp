// qrb117-cli write: the write run of the window program on a terminal.
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "cli/CancelSignals.h"
#include "cli/Commands.h"
#include "cli/FileChecks.h"
#include "cli/TerminalHost.h"
#include "cli/TracingLine.h"
#include "cli/Usage.h"
#include "serial/ComPortNames.h"
#include "writing/CommXLine.h"
#include "writing/RadioQRB.h"

namespace qrb::cli {

namespace {

// A device path given with --port becomes this COM number through
// QRB117_COMPORTS, the same way a simulator's pseudo-terminal is named.
constexpr int kPortNumberForDevicePath = 250;

struct WriteOptions {
    std::string port;
    bool yes = false;
    std::optional<int> attempts;
    std::optional<WriteTarget> target;
    int watchdogSeconds = 60;
    std::string traceFile;
    std::string file;
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

WriteOptions ParseWriteOptions(const Arguments& args) {
    WriteOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) {
                throw UsageError(a + " needs a value");
            }
            return args[++i];
        };
        if (a == "--port") {
            options.port = value();
        } else if (a == "--yes") {
            options.yes = true;
        } else if (a == "--attempts") {
            options.attempts = ParseNumber(a, value(), 1);
        } else if (a == "--target") {
            options.target = ParseTarget(value());
        } else if (a == "--watchdog") {
            options.watchdogSeconds = ParseNumber(a, value(), 0);
        } else if (a == "--trace") {
            options.traceFile = value();
        } else if (!a.empty() && a[0] == '-') {
            throw UsageError("unknown option " + a);
        } else if (options.file.empty()) {
            options.file = a;
        } else {
            throw UsageError("write takes one FILE");
        }
    }
    if (options.port.empty()) {
        throw UsageError("write needs --port PORT");
    }
    if (options.file.empty()) {
        throw UsageError("write needs a FILE");
    }
    return options;
}

// COM<n> gives n; a device path is added to QRB117_COMPORTS.
int PortNumberFor(const std::string& port) {
    if (port.size() > 3 && (port.compare(0, 3, "COM") == 0 || port.compare(0, 3, "com") == 0)) {
        return ParseNumber("--port", port.substr(3), 1);
    }
    if (port.empty() || port[0] != '/') {
        throw UsageError("--port must be COM<n> or a device path, not '" + port + "'");
    }
    std::string entries;
    if (const char* existing = std::getenv("QRB117_COMPORTS")) {
        entries = existing;
        entries += ';';
    }
    entries += "COM" + std::to_string(kPortNumberForDevicePath) + "=" + port;
    qputenv("QRB117_COMPORTS", QByteArray::fromStdString(entries));
    return kPortNumberForDevicePath;
}

TransferSpan SpanFor(const FileFacts& facts) {
    switch (facts.target) {
        case kMasterCpu:
            return {0, 2048};
        case kSlaveCpu:
            return {0, std::max(0, facts.slaveLineCount - 1)};
        default:
            return facts.header.WriteAllAreas ? TransferSpan{0, 1023} : TransferSpan{15, 767};
    }
}

}  // namespace

int RunWrite(const Arguments& args) {
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(kWriteHelp, stdout);
            return kExitOk;
        }
    }
    const WriteOptions options = ParseWriteOptions(args);
    const int portNumber = PortNumberFor(options.port);

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

    SharedState state;
    state.SelectedTarget = facts.target;
    state.SelectedFileName = options.file;
    state.WriteAllAreas = facts.header.WriteAllAreas;
    state.ComPortNumber = portNumber;

    HostAnswers answers;
    answers.confirmWithoutAsking = options.yes;
    answers.attempts = options.attempts.value_or(1);
    answers.attemptsGiven = options.attempts.has_value();
    answers.interactive = ::isatty(STDIN_FILENO) != 0;
    TerminalHost host(answers, SpanFor(facts), ::isatty(STDERR_FILENO) != 0);

    CommXLine portLine;
    TracingLine line(portLine, trace.get());
    WriteRun run(line, host, state);

    CancelSignals cancelOnSignal([&run] { run.btnWCancelClick(); });

    QTimer watchdog;
    watchdog.setSingleShot(true);
    if (options.watchdogSeconds > 0) {
        watchdog.setInterval(options.watchdogSeconds * 1000);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            std::fprintf(
                stderr, "\nqrb117-cli: no exchange with the radio for %d s; cancelling the write\n",
                options.watchdogSeconds);
            run.btnWCancelClick();
        });
        host.setOnActivity([&watchdog] { watchdog.start(); });
        watchdog.start();
    }

    std::printf("Writing %s to the %s on %s\n", options.file.c_str(),
                TargetName(facts.target).c_str(), options.port.c_str());
    std::fflush(stdout);
    const RunOutcome outcome = run.RunWrite();
    watchdog.stop();
    line.close();

    switch (outcome) {
        case RunOutcome::Completed:
            return kExitOk;
        case RunOutcome::FileError:
            return kExitUsage;
        case RunOutcome::Ended:
            break;
    }
    return kExitFailed;
}

}  // namespace qrb::cli
