// End-to-end write benchmark: qrb117-cli against rq7300-sim, measured by
// the monotonic clock, the CLI's trace time stamps and wait4().
//
//   1. Master CPU write of a full image (1953 frames), line paced: wall time
//      from the first byte received to the end command's echo, against the
//      protocol limit (target ratio <= 1.03).
//   2. The same write unpaced: software time per frame beyond the fixed 2 ms
//      pause, over the transfer phase (target <= 0.5 ms); the median of
//      five runs.
//   3. Processor time (user + system) of qrb117-cli during the paced write,
//      with the simulator handing over 1 ms packets as a USB serial adapter
//      does, against its wall time (target <= 5 %); the median of three
//      runs. Run 1 prints the share with each byte handed over on its own
//      beside it.
//   4. Option-unit write of 752 blocks, line paced: wall time against the
//      protocol's pauses plus line time (target ratio <= 1.03); about seven
//      minutes, skipped with --quick.
//
// Prints one line per figure:
//   "name | measured | limit or target | ratio (target) | PASS or MISS"
// with indented detail lines under it. Exit status 1 when a run could not
// be made (the figure then reads ERROR), 2 for a wrong command line.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ProtocolLimit.h"
#include "WriteRun.h"

namespace {

using namespace qrb::bench;
namespace fs = std::filesystem;

constexpr int kMasterFrames = 1953;
constexpr int kMasterHandshakeSent = 1 + 4 + 3;            // A0, identification, version
constexpr int kMasterHandshakeReceived = 1 + 1 + 12 + 15;  // ready, echo, answers
constexpr int kMasterFrameReplyBytes = 133 + 6;            // echo and answer
constexpr int kOptionBlocks = 752;
// Bytes the CLI sends before the first block frame: A0, identification, 66,
// ACK, the parameter commands, 40, three routines, status and blank checks,
// 48, eight erase commands, 43.
constexpr long long kOptionSentBeforeBlocks = 3603;
// ... then the blocks, the EndFrame, 4F, 4B and the end command.
constexpr long long kOptionSentBytes = kOptionSentBeforeBlocks + 134LL * kOptionBlocks + 6 + 2 + 3;
constexpr double kFramePauseMs = 2.0;

struct Options {
    bool quick = false;
    bool keep = false;
    Programs programs{QRB_BENCH_CLI, QRB_BENCH_SIM};
    std::string samples = QRB_BENCH_SAMPLES;
};

void usage(std::FILE* to) {
    std::fputs(
        "usage: bench_write [--quick] [--keep] [--cli PATH] [--sim PATH] [--samples DIR]\n"
        "  --quick    skip the option-unit write (about seven minutes)\n"
        "  --keep     keep the temporary folder with the traces and reports\n",
        to);
}

bool anyErrors = false;

void printFigure(const std::string& name, const std::string& measured, const std::string& limit,
                 double ratio, const std::string& ratioText, double bound,
                 const std::string& boundText) {
    std::printf("%s | %s | %s | %s (target %s) | %s\n", name.c_str(), measured.c_str(),
                limit.c_str(), ratioText.c_str(), boundText.c_str(),
                ratio <= bound ? "PASS" : "MISS");
}

void printError(const std::string& name, const std::string& problem) {
    anyErrors = true;
    std::printf("%s | n/a | n/a | n/a | ERROR\n", name.c_str());
    std::fprintf(stderr, "bench_write: %s: %s\n", name.c_str(), problem.c_str());
}

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

struct Spread {
    double mean = 0;
    double median = 0;
    double p99 = 0;
};

Spread spreadOf(std::vector<double> values) {
    Spread s;
    if (values.empty()) {
        return s;
    }
    std::sort(values.begin(), values.end());
    for (const double v : values) {
        s.mean += v / static_cast<double>(values.size());
    }
    s.median = values[values.size() / 2];
    s.p99 = values[static_cast<std::size_t>(0.99 * static_cast<double>(values.size() - 1))];
    return s;
}

void printLimitParts(const WriteLimit& limit) {
    std::printf("  limit = %.3f s fixed pauses + %.3f s line time + %.3f s unit reaction\n",
                limit.pausesMs / 1000, limit.lineMs / 1000, limit.reactionMs / 1000);
}

// The end command 38 01 39 must be the last bytes each way, or the run did
// not end as a completed write.
bool endsWithEndCommand(const CliTrace& trace) {
    const std::vector<std::uint8_t> end{0x38, 0x01, 0x39};
    return trace.lastSent(3) == end && trace.lastReceived(3) == end;
}

// From the ready byte received to the end command's echo received.
double writeWindowMs(const CliTrace& trace) {
    return static_cast<double>(trace.receivedByteMs(trace.receivedCount() - 1) -
                               trace.receivedByteMs(0));
}

void printProcessDetails(const WriteRunResult& run) {
    const CliTrace& trace = *run.trace;
    long long openedMs = -1;
    long long closedMs = -1;
    for (const TraceRecord& r : trace.records()) {
        if (r.note == "port opened" && openedMs < 0) {
            openedMs = r.ms;
        } else if (r.note == "port closed") {
            closedMs = r.ms;
        }
    }
    std::printf(
        "  qrb117-cli: %.3f s from start to exit; trace: port opened %.3f s, first byte %.3f s, "
        "end echo %.3f s, port closed %.3f s; processor time the host took away meanwhile "
        "(steal, both cores) %.2f s\n",
        run.cliWallSeconds, static_cast<double>(openedMs) / 1000,
        static_cast<double>(trace.receivedByteMs(0)) / 1000,
        static_cast<double>(trace.receivedByteMs(trace.receivedCount() - 1)) / 1000,
        static_cast<double>(closedMs) / 1000, run.stolenSeconds);
}

// Run 1: the paced Master CPU write with each byte handed over the moment
// it is in (a UART without FIFO); it gives the wall-time figure: nothing but
// the software adds to the line time.
void pacedMasterWrite(const Options& options, const std::string& folder) {
    const char* name = "master write, paced: wall time";
    // The limit assumes a unit that answers the moment a frame's last byte
    // is in, so the simulator answers without delay (see RESULTS.md).
    const UnitTiming unit{};
    const WriteRunSpec spec{
        "master-paced",
        options.samples + "/TN508001_M_V0101.SFL",
        {"--unit", "master", "--line-rate", "--echo-delay", "0", "--answer-delay", "0"},
        80};
    const WriteRunResult run = RunWrite(options.programs, spec, folder);
    if (!run.ok || !endsWithEndCommand(*run.trace)) {
        printError(name, run.ok ? "the trace does not end with the end command" : run.problem);
        return;
    }
    const CliTrace& trace = *run.trace;
    const WriteLimit limit = MasterWriteLimit(unit);
    const double measuredMs = writeWindowMs(trace);
    const double ratio = measuredMs / limit.totalMs;
    printFigure(name, format("%.3f s", measuredMs / 1000),
                format("limit %.3f s", limit.totalMs / 1000), ratio, format("ratio %.4f", ratio),
                1.03, "<= 1.03");
    printLimitParts(limit);
    printProcessDetails(run);
    const int frames = ReportArraySize(run.simReport, "frames");
    const long long expectedSent = kMasterHandshakeSent + 133LL * kMasterFrames + 3;
    const bool resent = trace.sentCount() != expectedSent;
    std::printf("  frames received by the simulator: %d; bytes sent by the CLI: %lld (%s)\n",
                frames, trace.sentCount(), resent ? "resends happened" : "no resends");
    if (!resent) {
        // Where the time goes, frame by frame (the trace's millisecond stamps).
        std::vector<double> onLine;
        std::vector<double> turnaround;
        for (int i = 0; i < kMasterFrames; ++i) {
            const long long first = trace.sentByteMs(kMasterHandshakeSent + 133LL * i);
            const long long answered = trace.receivedByteMs(kMasterHandshakeReceived +
                                                            kMasterFrameReplyBytes * (i + 1LL) - 1);
            onLine.push_back(static_cast<double>(answered - first));
            if (i + 1 < kMasterFrames) {
                turnaround.push_back(static_cast<double>(
                    trace.sentByteMs(kMasterHandshakeSent + 133LL * (i + 1)) - answered));
            }
        }
        const Spread frame = spreadOf(onLine);
        const Spread next = spreadOf(turnaround);
        std::printf(
            "  a frame from being queued to its answer: mean %.2f ms, median %.0f, p99 "
            "%.0f (line time %.2f ms); answer to the next frame: mean %.2f ms\n",
            frame.mean, frame.median, frame.p99, kMasterFrameReplyBytes * kByteMs, next.mean);
    }
    const double cpu = run.cliUserSeconds + run.cliSystemSeconds;
    std::printf(
        "  CPU of qrb117-cli with each byte its own arrival: %.3f s of %.3f s wall, %.2f %% "
        "(user %.3f s, system %.3f s); the figure is taken with adapter packets below\n",
        cpu, run.cliWallSeconds, 100 * cpu / run.cliWallSeconds, run.cliUserSeconds,
        run.cliSystemSeconds);
}

// Run 3: the paced Master CPU write with the bytes handed over in 1 ms
// packets, as a full-speed USB serial adapter does (a UART's FIFO wakes the
// PC less often still); it gives the CPU figure, since the processor time
// goes with the number of wake-ups. Three runs, the median reported: the
// share moves with the processor time the host takes away meanwhile.
void packetCpuWrite(const Options& options, const std::string& folder) {
    const char* name = "master write, paced, 1 ms adapter packets: CPU of qrb117-cli";
    constexpr int kRuns = 3;
    std::vector<WriteRunResult> runs;
    for (int i = 0; i < kRuns; ++i) {
        const WriteRunSpec spec{"master-paced-packets-" + std::to_string(i + 1),
                                options.samples + "/TN508001_M_V0101.SFL",
                                {"--unit", "master", "--line-rate", "--echo-delay", "0",
                                 "--answer-delay", "0", "--adapter-packets", "1000"},
                                80};
        WriteRunResult run = RunWrite(options.programs, spec, folder);
        if (!run.ok || !endsWithEndCommand(*run.trace)) {
            printError(name, run.ok ? "the trace does not end with the end command" : run.problem);
            return;
        }
        runs.push_back(std::move(run));
    }
    const auto shareOf = [](const WriteRunResult& run) {
        return (run.cliUserSeconds + run.cliSystemSeconds) / run.cliWallSeconds;
    };
    std::vector<const WriteRunResult*> sorted;
    for (const WriteRunResult& run : runs) {
        sorted.push_back(&run);
    }
    std::sort(sorted.begin(), sorted.end(), [&](const WriteRunResult* a, const WriteRunResult* b) {
        return shareOf(*a) < shareOf(*b);
    });
    const WriteRunResult& median = *sorted[kRuns / 2];
    const double cpu = median.cliUserSeconds + median.cliSystemSeconds;
    printFigure(name, format("%.3f s", cpu), format("of %.3f s wall", median.cliWallSeconds),
                shareOf(median), format("%.2f %%", shareOf(median) * 100), 0.05, "<= 5 %");
    std::printf("  median of %d runs; the runs in order:", kRuns);
    for (const WriteRunResult& run : runs) {
        std::printf(" %.2f %% (steal %.2f s)", shareOf(run) * 100, run.stolenSeconds);
    }
    std::printf("\n");
    printProcessDetails(median);
    const WriteLimit limit = MasterWriteLimit(UnitTiming{});
    const double measuredMs = writeWindowMs(*median.trace);
    std::printf(
        "  user %.3f s, system %.3f s (whole process, start-up included); simulator %.3f s; "
        "wall time %.3f s against the limit %.3f s, ratio %.4f (the packets hold each answer "
        "back by up to 1 ms)\n",
        median.cliUserSeconds, median.cliSystemSeconds, median.simCpuSeconds, measuredMs / 1000,
        limit.totalMs / 1000, measuredMs / limit.totalMs);
}

// One unpaced Master CPU write, taken apart frame by frame.
struct UnpacedRun {
    // The trace stamps a frame once, when its 133 bytes have been queued.
    double perFrameMs = 0;  // first frame queued to the last frame's answer, per frame
    double answerMs = 0;    // a frame queued to its last answer byte
    double nextMs = 0;      // that answer to the next frame queued
    double cliCpuSeconds = 0;
    double stolenSeconds = 0;
};

std::optional<UnpacedRun> unpacedRun(const Options& options, const std::string& folder, int number,
                                     std::string& problem) {
    WriteRunSpec spec{"master-unpaced-" + std::to_string(number),
                      options.samples + "/TN508001_M_V0101.SFL",
                      {"--unit", "master", "--echo-delay", "0", "--answer-delay", "0"},
                      10};
    const WriteRunResult run = RunWrite(options.programs, spec, folder);
    if (!run.ok || !endsWithEndCommand(*run.trace)) {
        problem = run.ok ? "the trace does not end with the end command" : run.problem;
        return std::nullopt;
    }
    const CliTrace& trace = *run.trace;
    const long long expectedReceived =
        kMasterHandshakeReceived + static_cast<long long>(kMasterFrameReplyBytes) * kMasterFrames +
        3;
    if (trace.receivedCount() != expectedReceived) {
        problem = "the trace holds " + std::to_string(trace.receivedCount()) +
                  " received bytes instead of " + std::to_string(expectedReceived) + " (resends?)";
        return std::nullopt;
    }
    const auto sentMs = [&](long long frame) {
        return static_cast<double>(trace.sentByteMs(kMasterHandshakeSent + 133 * frame));
    };
    const auto answeredMs = [&](long long frame) {
        return static_cast<double>(trace.receivedByteMs(kMasterHandshakeReceived +
                                                        kMasterFrameReplyBytes * (frame + 1) - 1));
    };
    UnpacedRun r;
    r.perFrameMs = (answeredMs(kMasterFrames - 1) - sentMs(0)) / kMasterFrames;
    for (int i = 0; i < kMasterFrames; ++i) {
        r.answerMs += (answeredMs(i) - sentMs(i)) / kMasterFrames;
        if (i + 1 < kMasterFrames) {
            r.nextMs += (sentMs(i + 1) - answeredMs(i)) / (kMasterFrames - 1);
        }
    }
    r.cliCpuSeconds = run.cliUserSeconds + run.cliSystemSeconds;
    r.stolenSeconds = run.stolenSeconds;
    return r;
}

// Run 2: the unpaced Master CPU write, five times (a few seconds each);
// the median run is reported, as one stray process on the two cores moves
// a single run by a tenth of a millisecond a frame.
void unpacedMasterWrite(const Options& options, const std::string& folder) {
    const char* name = "master write, unpaced: software time per frame";
    constexpr int kRuns = 5;
    std::vector<UnpacedRun> runs;
    for (int i = 0; i < kRuns; ++i) {
        std::string problem;
        const auto run = unpacedRun(options, folder, i + 1, problem);
        if (!run) {
            printError(name, problem);
            return;
        }
        runs.push_back(*run);
    }
    std::sort(runs.begin(), runs.end(),
              [](const UnpacedRun& a, const UnpacedRun& b) { return a.perFrameMs < b.perFrameMs; });
    const UnpacedRun& median = runs[kRuns / 2];
    const double softwareMs = median.perFrameMs - kFramePauseMs;
    printFigure(name, format("%.3f ms", softwareMs), "limit 0.5 ms", softwareMs / 0.5,
                format("ratio %.3f", softwareMs / 0.5), 1.0, "<= 1");
    std::printf("  %.3f ms a frame, %.1f ms of it the fixed pause (median of %d runs:",
                median.perFrameMs, kFramePauseMs, kRuns);
    for (const UnpacedRun& r : runs) {
        std::printf(" %.3f", r.perFrameMs - kFramePauseMs);
    }
    std::printf(" ms; host steal");
    for (const UnpacedRun& r : runs) {
        std::printf(" %.2f", r.stolenSeconds);
    }
    std::printf(" s)\n");
    std::printf(
        "  a frame: queued to its answer %.3f ms (the 2 ms pause in it), answer to the next "
        "frame queued %.3f ms (its 133 single-byte sends in it); CLI CPU %.3f s\n",
        median.answerMs, median.nextMs, median.cliCpuSeconds);
}

// Run 4: the paced option-unit write.
void pacedOptionUnitWrite(const Options& options, const std::string& folder) {
    const char* name = "option unit write, paced: wall time";
    // The simulator's defaults, named so that the limit uses the same numbers.
    const UnitTiming unit{0.3, 2.0, 1200, 300};
    WriteRunSpec spec{"olu6-paced",
                      options.samples + "/TQX37_V0105.SFL",
                      {"--unit", "olu6", "--line-rate", "--echo-delay", "300", "--answer-delay",
                       "2000", "--enter-delay", "1200", "--erase-time", "300"},
                      440};
    const WriteRunResult run = RunWrite(options.programs, spec, folder);
    if (!run.ok || !endsWithEndCommand(*run.trace)) {
        printError(name, run.ok ? "the trace does not end with the end command" : run.problem);
        return;
    }
    const int frames = ReportArraySize(run.simReport, "frames");
    if (frames != kOptionBlocks) {
        printError(name, "the simulator received " + std::to_string(frames) +
                             " block frames, not " + std::to_string(kOptionBlocks));
        return;
    }
    // The limit follows the erase path: the default unit is not blank.
    const int erased = ReportArraySize(run.simReport, "erased_blocks");
    if (erased != 7) {
        printError(name, "the simulator erased " + std::to_string(erased) +
                             " blocks, not the 7 of the path the limit follows");
        return;
    }
    const CliTrace& trace = *run.trace;
    const WriteLimit limit = OptionUnitWriteLimit(unit);
    const double measuredMs = writeWindowMs(trace);
    const double ratio = measuredMs / limit.totalMs;
    printFigure(name, format("%.3f s", measuredMs / 1000),
                format("limit %.3f s", limit.totalMs / 1000), ratio, format("ratio %.4f", ratio),
                1.03, "<= 1.03");
    printLimitParts(limit);
    if (trace.sentCount() == kOptionSentBytes) {
        // A block: 133 bytes with 4 ms after each and 2 ms, its echo, the
        // check byte, the ACK.
        std::vector<double> paced;
        std::vector<double> whole;
        for (int i = 0; i < kOptionBlocks; ++i) {
            const long long first = trace.sentByteMs(kOptionSentBeforeBlocks + 134LL * i);
            const long long check = trace.sentByteMs(kOptionSentBeforeBlocks + 134LL * i + 133);
            const long long following = trace.sentByteMs(kOptionSentBeforeBlocks + 134LL * (i + 1));
            paced.push_back(static_cast<double>(check - first));
            whole.push_back(static_cast<double>(following - first));
        }
        std::printf(
            "  a block: first byte to check byte mean %.2f ms (pauses 534 ms), first byte to the "
            "next block's mean %.2f ms\n",
            spreadOf(paced).mean, spreadOf(whole).mean);
    } else {
        std::printf("  the CLI sent %lld bytes, not %lld: resends?\n", trace.sentCount(),
                    kOptionSentBytes);
    }
    printProcessDetails(run);
    std::printf("  qrb117-cli CPU: user %.3f s, system %.3f s (%.2f %% of its wall time)\n",
                run.cliUserSeconds, run.cliSystemSeconds,
                100 * (run.cliUserSeconds + run.cliSystemSeconds) / run.cliWallSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usage(stderr);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--quick") {
            options.quick = true;
        } else if (a == "--keep") {
            options.keep = true;
        } else if (a == "--cli") {
            options.programs.cli = value();
        } else if (a == "--sim") {
            options.programs.sim = value();
        } else if (a == "--samples") {
            options.samples = value();
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else {
            usage(stderr);
            return 2;
        }
    }

    std::string folder = (fs::temp_directory_path() / "qrb-bench-write-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("bench_write: mkdtemp");
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    pacedMasterWrite(options, folder);
    unpacedMasterWrite(options, folder);
    packetCpuWrite(options, folder);
    if (options.quick) {
        std::printf("option unit write, paced: skipped (--quick)\n");
    } else {
        pacedOptionUnitWrite(options, folder);
    }

    if (options.keep || anyErrors) {
        std::fprintf(stderr, "bench_write: traces and reports kept in %s\n", folder.c_str());
    } else {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    return anyErrors ? 1 : 0;
}
