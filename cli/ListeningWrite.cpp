#include "cli/ListeningWrite.h"

#include <unistd.h>

#include <QEventLoop>
#include <QJsonDocument>
#include <QTimer>
#include <chrono>
#include <optional>

#include "cli/CancelSignals.h"
#include "cli/HandOverLine.h"
#include "cli/PortListener.h"
#include "cli/StationLog.h"
#include "cli/TracingLine.h"
#include "cli/Usage.h"
#include "cli/WriteRunParts.h"
#include "writing/RadioQRB.h"
#include "writing/WriteTexts.h"

namespace qrb::cli {

namespace {

// Passes everything to the terminal host and keeps what the station's
// record needs: the unit's version, the last text shown, the attempts made.
class RecordingHost : public WriteHost {
  public:
    explicit RecordingHost(WriteHost& inner) : inner_(inner) {}

    const std::string& version() const { return version_; }
    const std::string& lastText() const { return lastText_; }
    int attempts() const { return attempts_; }

    void setInstructionText(const std::string& text) override {
        lastText_ = text;
        inner_.setInstructionText(text);
    }
    void showStatusLamp(StatusLamp lamp) override { inner_.showStatusLamp(lamp); }
    void setVersionLabel(WriteTarget target, const std::string& text) override {
        version_ = text;
        inner_.setVersionLabel(target, text);
    }
    void workStarted(WorkPhase phase, int total) override { inner_.workStarted(phase, total); }
    void workProgressed(const WorkProgress& progress) override { inner_.workProgressed(progress); }
    void workEnded() override { inner_.workEnded(); }
    void showingOutcome() override { inner_.showingOutcome(); }
    void retrying() override { inner_.retrying(); }
    void runEnding() override { inner_.runEnding(); }
    bool askProblemOnComPort() override {
        const bool again = inner_.askProblemOnComPort();
        if (again) {
            ++attempts_;
        }
        return again;
    }
    bool askOkConfirmation() override { return inner_.askOkConfirmation(); }
    void showError(const std::string& message) override {
        lastText_ = message;
        inner_.showError(message);
    }

  private:
    WriteHost& inner_;
    std::string version_;
    std::string lastText_;
    int attempts_ = 1;
};

struct RadioOutcome {
    RunOutcome outcome = RunOutcome::Ended;
    std::string result;  // for the record
    std::string version;
    int attempts = 1;
};

// How often the station looks for a port again while none can be opened.
constexpr std::chrono::milliseconds kPortPollInterval{500};

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const auto& name : names) {
        joined += (joined.empty() ? "" : ", ") + name;
    }
    return joined.empty() ? "no port" : joined;
}

// Where Ctrl+C goes: the listening or the write run of the moment.
struct CancelTarget {
    PortListener* listener = nullptr;
    WriteRun* run = nullptr;
    QEventLoop* pause = nullptr;
    bool requested = false;

    void cancel() {
        requested = true;
        if (run != nullptr) {
            run->btnWCancelClick();
        } else if (listener != nullptr) {
            listener->stop();
        } else if (pause != nullptr) {
            pause->quit();
        }
    }
};

class ListeningWrite {
  public:
    explicit ListeningWrite(const ListeningWriteSetup& setup)
        : setup_(setup), cancelSignals_([this] { cancel_.cancel(); }) {}

    int run();

  private:
    std::vector<ListenedPort> portsToListenTo() const;
    // Listens until a radio speaks; empty on Ctrl+C, when the limit passes or
    // no port is left to listen to (with the reason shown unless quiet).
    std::optional<HeardRadio> waitForRadio(std::optional<std::chrono::milliseconds> limit,
                                           bool quiet = false);
    // Handles events (Ctrl+C among them) for a while, sending nothing.
    void pauseFor(std::chrono::milliseconds duration);
    RadioOutcome writeRadio(HeardRadio heard);
    int runStation();
    void showTally() const;

    const ListeningWriteSetup& setup_;
    CancelTarget cancel_;
    CancelSignals cancelSignals_;
    int completed_ = 0;
    int failed_ = 0;
    int cancelled_ = 0;
};

std::vector<ListenedPort> ListeningWrite::portsToListenTo() const {
    if (setup_.port == kAutoPort) {
        return ListedPorts();
    }
    return {ListenedPort{setup_.portNumber, setup_.port, "", setup_.devicePath}};
}

std::optional<HeardRadio> ListeningWrite::waitForRadio(
    std::optional<std::chrono::milliseconds> limit, bool quiet) {
    PortListener listener(portsToListenTo(), [](const ListenedPort& port) {
        std::fprintf(stderr, "qrb117-cli: %s vanished while listened to; left out from now on\n",
                     DisplayName(port).c_str());
    });
    listener.openAll();
    for (const auto& finding : listener.findings()) {
        if (finding.verdict == PortVerdict::CannotOpen && !quiet) {
            std::fprintf(stderr, "qrb117-cli: %s\n", FindingText(finding).c_str());
        }
    }
    const std::vector<std::string> names = listener.listenedNames();
    if (names.empty()) {
        if (!quiet) {
            std::fprintf(stderr, "qrb117-cli: no port to listen to for a radio\n");
        }
        return std::nullopt;
    }
    std::fprintf(stderr, "Waiting for a radio on %s...\n", JoinNames(names).c_str());
    cancel_.listener = &listener;
    listener.listen(limit, true);
    cancel_.listener = nullptr;
    std::optional<HeardRadio> heard = listener.takeFirstRadio();
    if (!heard && !cancel_.requested && setup_.port == kAutoPort) {
        // The run's failure, and where it looked.
        std::printf("%s\n", TerminalText(kFailureText).c_str());
        std::printf("No radio announced itself on %s.\n", JoinNames(names).c_str());
        std::fflush(stdout);
    }
    return heard;
}

RadioOutcome ListeningWrite::writeRadio(HeardRadio heard) {
    SharedState state = StateForWrite(setup_.facts, setup_.file, heard.port.portNo);

    std::unique_ptr<TerminalHost> terminal = setup_.makeHost();
    RecordingHost host(*terminal);
    const std::string portName = DisplayName(heard.port);
    HandOverLine portLine(std::move(heard.line), std::move(heard.arrivals));
    TracingLine line(portLine, setup_.trace);
    WriteRun run(line, host, state);

    RunWatchdog watchdog(setup_.watchdogSeconds, *terminal, run);

    std::printf("Writing %s to the %s on %s\n", setup_.file.c_str(),
                TargetName(setup_.facts.target).c_str(), portName.c_str());
    std::fflush(stdout);
    cancel_.run = &run;
    const bool cancelledBefore = cancel_.requested;
    RadioOutcome out;
    out.outcome = run.RunWrite();
    cancel_.run = nullptr;
    watchdog.stop();
    line.close();

    out.version = host.version();
    out.attempts = host.attempts();
    if (out.outcome == RunOutcome::Completed) {
        out.result = "completed";
    } else if (cancel_.requested && !cancelledBefore) {
        out.result = "cancelled";
    } else if (watchdog.fired()) {
        out.result = "failed: no exchange with the radio for " +
                     std::to_string(setup_.watchdogSeconds) + " s";
    } else {
        out.result = "failed: " + FirstLine(host.lastText());
    }
    return out;
}

void ListeningWrite::pauseFor(std::chrono::milliseconds duration) {
    QEventLoop pause;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &pause, &QEventLoop::quit);
    timer.start(duration);
    cancel_.pause = &pause;
    pause.exec();
    cancel_.pause = nullptr;
}

void ListeningWrite::showTally() const {
    std::string tally =
        std::to_string(completed_) + " completed, " + std::to_string(failed_) + " failed";
    if (cancelled_ > 0) {
        tally += ", " + std::to_string(cancelled_) + " cancelled";
    }
    std::fprintf(stderr, "%s\n", tally.c_str());
}

int ListeningWrite::runStation() {
    StationLog log(setup_.logFile);
    if (!log.check()) {
        std::fprintf(stderr, "qrb117-cli: %s\n", log.error().c_str());
        return kExitUsage;
    }
    const bool onTerminal = ::isatty(STDERR_FILENO) != 0;
    bool waitingForPort = false;
    while (!cancel_.requested) {
        std::optional<HeardRadio> heard = waitForRadio(std::nullopt, waitingForPort);
        if (cancel_.requested) {
            break;
        }
        if (!heard) {
            // No port to listen to: a radio's USB interface leaves with the
            // radio, so the station waits for the next one's port to appear.
            if (!waitingForPort) {
                std::fprintf(stderr, "Waiting for a port to appear (Ctrl+C ends the station)...\n");
                waitingForPort = true;
            }
            pauseFor(kPortPollInterval);
            continue;
        }
        waitingForPort = false;
        // No radio is written that could not be recorded: its port is
        // closed with nothing sent.
        if (!log.check()) {
            std::fprintf(stderr, "qrb117-cli: %s; the station stops\n", log.error().c_str());
            return kExitFailed;
        }
        RadioRecord record;
        record.start = NowIso8601();
        record.port = heard->port.name;
        record.target = TargetName(setup_.facts.target);
        record.file = setup_.file;
        record.checksum = TerminalText(setup_.facts.checksumText);
        const auto started = std::chrono::steady_clock::now();
        const RadioOutcome outcome = writeRadio(std::move(*heard));
        record.end = NowIso8601();
        record.durationSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        record.unitVersion = outcome.version;
        record.result = outcome.result;
        record.attempts = outcome.attempts;
        if (outcome.outcome == RunOutcome::Completed) {
            ++completed_;
        } else if (outcome.result == "cancelled") {
            ++cancelled_;
        } else {
            ++failed_;
        }
        if (!log.append(record)) {
            // The record is not lost: it goes to the terminal instead.
            std::fprintf(stderr, "qrb117-cli: %s; the station stops\n%s\n", log.error().c_str(),
                         QJsonDocument(RecordJson(record))
                             .toJson(QJsonDocument::Compact)
                             .toStdString()
                             .c_str());
            return kExitFailed;
        }
        if (outcome.outcome == RunOutcome::FileError) {
            return kExitUsage;
        }
        if (onTerminal) {
            showTally();
        }
    }
    std::fprintf(stderr, "Station stopped: ");
    showTally();
    return kExitFailed;
}

int ListeningWrite::run() {
    if (setup_.repeat) {
        return runStation();
    }
    std::optional<std::chrono::milliseconds> limit;
    if (setup_.watchdogSeconds > 0) {
        limit = std::chrono::seconds(setup_.watchdogSeconds);
    }
    std::optional<HeardRadio> heard = waitForRadio(limit);
    if (!heard) {
        return kExitFailed;
    }
    return ExitStatusFor(writeRadio(std::move(*heard)).outcome);
}

}  // namespace

int RunListeningWrite(const ListeningWriteSetup& setup) {
    ListeningWrite write(setup);
    return write.run();
}

}  // namespace qrb::cli
