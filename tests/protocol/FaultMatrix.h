// The fault matrix of the write run: for each exchange step of a target's
// write and each kind of fault, one whole write in virtual time against the
// radio model with that fault, and the outcome the protocol prescribes.
//
//   Script    the steps a clean write sends, in order, with their bytes,
//             written from the protocol tables (not from the engine)
//   Row       one exchange step: where it stands in the script and how long
//             the protocol lets it take to fail (its time-outs summed)
//   Cell      one fault at that step and the expected outcome
//   RunCell   plays a cell: the first attempt with the fault, then, after
//             "Problem on COM port" is answered with OK, a retry on a radio
//             switched off and on without the fault (and the cable back)
//   PrintMatrix  the outcomes as a table, steps by faults
//
// A Target (see FaultMatrixTest.cpp) supplies the model, the file, the
// script and the check of the radio's memory or lines after the write.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iomanip>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "FaultMatrixLine.h"
#include "RecordingHost.h"
#include "sim/VirtualLine.h"
#include "writing/RadioQRB.h"
#include "writing/WriteTexts.h"

namespace qrb::test {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

// ---- the script of a clean write -----------------------------------------

struct ScriptStep {
    std::string name;
    Bytes bytes;  // what the PC sends for it (empty for the ready byte)
};
using Script = std::vector<ScriptStep>;

// The occurrence-th step of that name (counted from 0).
struct StepRef {
    std::string name;
    int occurrence = 0;
};

struct StepSpan {
    std::size_t index = 0;  // in the script
    std::size_t start = 0;  // offset of its first byte in the bytes sent
    std::size_t size = 0;
};

inline std::optional<StepSpan> Locate(const Script& script, const StepRef& ref) {
    std::size_t offset = 0;
    int seen = 0;
    for (std::size_t i = 0; i < script.size(); ++i) {
        if (script[i].name == ref.name && seen++ == ref.occurrence) {
            return StepSpan{i, offset, script[i].bytes.size()};
        }
        offset += script[i].bytes.size();
    }
    return std::nullopt;
}

inline void AppendSteps(Bytes& to, const Script& script, std::size_t from, std::size_t end) {
    for (std::size_t i = from; i < end && i < script.size(); ++i) {
        to.insert(to.end(), script[i].bytes.begin(), script[i].bytes.end());
    }
}

inline Bytes Flatten(const Script& script) {
    Bytes bytes;
    AppendSteps(bytes, script, 0, script.size());
    return bytes;
}

// What goes out when the write stops at the step after sending it `sends`
// times (resends included).
inline Bytes SentUpToStep(const Script& script, const StepSpan& step, int sends) {
    Bytes bytes;
    AppendSteps(bytes, script, 0, step.index);
    for (int i = 0; i < sends; ++i) {
        AppendSteps(bytes, script, step.index, step.index + 1);
    }
    return bytes;
}

// What goes out when the step is sent `sends` times and the write goes on.
inline Bytes SentWithStepRepeated(const Script& script, const StepSpan& step, int sends) {
    Bytes bytes = SentUpToStep(script, step, sends);
    AppendSteps(bytes, script, step.index + 1, script.size());
    return bytes;
}

// "" when equal, else where they first differ.
inline std::string Difference(const Bytes& got, const Bytes& expected) {
    const auto mismatch = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
    if (mismatch.first == got.end() && mismatch.second == expected.end()) {
        return "";
    }
    const auto at = static_cast<std::size_t>(mismatch.first - got.begin());
    std::ostringstream text;
    text << got.size() << " bytes instead of " << expected.size() << ", first difference at byte "
         << at << std::hex << std::uppercase << std::setfill('0');
    if (mismatch.first != got.end()) {
        text << ": " << std::setw(2) << int{*mismatch.first};
    } else {
        text << ": (none)";
    }
    if (mismatch.second != expected.end()) {
        text << " where " << std::setw(2) << int{*mismatch.second} << " was due";
    }
    return text.str();
}

// ---- the matrix -----------------------------------------------------------

enum class FaultKind { Silence, Refusal, Garbage, BadCheck, Vanish };
inline constexpr std::array<FaultKind, 5> kFaultKinds = {FaultKind::Silence, FaultKind::Refusal,
                                                         FaultKind::Garbage, FaultKind::BadCheck,
                                                         FaultKind::Vanish};

inline const char* FaultName(FaultKind kind) {
    switch (kind) {
        case FaultKind::Silence:
            return "silence";
        case FaultKind::Refusal:
            return "refusal/error code";
        case FaultKind::Garbage:
            return "garbage byte";
        case FaultKind::BadCheck:
            return "wrong check byte";
        case FaultKind::Vanish:
            return "vanished port";
    }
    return "?";
}

enum class Expect {
    FailsThenRetryCompletes,  // failure text, "Problem on COM port", OK, a clean retry
    Completes,                // the write goes on and completes (after resends if sends > 1)
    ResendsUntilCancel,       // the step asks again without end; Cancel ends the run
};

// Where a vanished port goes, relative to the row's step.
enum class VanishWhen {
    AfterStep,  // once the step's bytes went out: their answer is lost
    AtStep,     // when the engine sends the step's first byte
};

template <class Faults>
struct Cell {
    FaultKind kind;
    Expect expect;
    // How often the step's bytes go out in the first attempt; for
    // ResendsUntilCancel, the send after which Cancel is pressed.
    int sends = 1;
    std::function<void(Faults&)> inject;  // the fault (not for a vanished port)
    VanishWhen vanish = VanishWhen::AfterStep;
    // Where the failing attempt ends when the protocol goes on past the
    // faulted step (sent once there); unset: at the row's step.
    std::optional<StepRef> endsAt = std::nullopt;
};

template <class Faults>
struct Row {
    std::string name;
    StepRef step;
    // The longest the step may take, by the protocol's time-outs, from its
    // first byte (the port's opening for the ready byte) to the failure.
    milliseconds allowance;
    std::vector<Cell<Faults>> cells;
    // Text of the cells not run: "n/a" where the step has no such fault;
    // rows that only add a variant leave them empty.
    std::string notRun = "n/a";
};

struct CellReport {
    std::string row;
    FaultKind kind = FaultKind::Silence;
    std::string expected;
    std::string observed;
    std::vector<std::string> problems;
    // Virtual time from the step's first byte to the failure box (or to the
    // end of a cancelled run).
    std::optional<milliseconds> took;

    bool passed() const { return observed == expected && problems.empty(); }
    // "fail+retry ok 15.0 s", "!" in front when the outcome is not the expected one.
    std::string text() const {
        std::string shown = passed() ? observed : "!" + observed;
        if (took) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, " %.1f s",
                          static_cast<double>(took->count()) / 1000.0);
            shown += seconds;
        }
        return shown;
    }
};

inline std::string ExpectedText(Expect expect, int sends) {
    switch (expect) {
        case Expect::FailsThenRetryCompletes:
            return "fail+retry ok";
        case Expect::Completes:
            return sends > 1 ? "completes after resend" : "completes";
        case Expect::ResendsUntilCancel:
            return "resends until Cancel";
    }
    return "?";
}

// ---- playing one cell -----------------------------------------------------

// Thrown into the engine's wait when a cell's run outlives its deadline.
class StillRunning : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline long MillisOf(sim::Micros t) {
    return static_cast<long>(std::chrono::duration_cast<milliseconds>(t).count());
}

// Times the step was sent in a row at its place in `sent` (after the script
// before it); -1 when what was sent before it differs from the script.
inline int SendsAtStep(const Bytes& sent, const Script& script, const StepSpan& step) {
    Bytes prefix;
    AppendSteps(prefix, script, 0, step.index);
    if (sent.size() < prefix.size() || !std::equal(prefix.begin(), prefix.end(), sent.begin())) {
        return -1;
    }
    if (step.size == 0) {
        return 1;
    }
    const Bytes& bytes = script[step.index].bytes;
    int sends = 0;
    for (std::size_t at = prefix.size(); at + bytes.size() <= sent.size(); at += bytes.size()) {
        if (!std::equal(bytes.begin(), bytes.end(), sent.begin() + static_cast<long>(at))) {
            break;
        }
        ++sends;
    }
    return sends;
}

template <class Target>
class CellRun {
  public:
    using Model = typename Target::Model;
    using Faults = typename Target::Faults;

    CellRun(const Target& target, const Row<Faults>& row, const Cell<Faults>& cell)
        : target_(target),
          row_(row),
          cell_(cell),
          radio_(target.makeModel()),
          virtualLine_(*radio_, LineOptions(target)),
          line_(virtualLine_),
          state_(target.state()),
          retryScript_(target.script) {
        report_.row = row.name;
        report_.kind = cell.kind;
        report_.expected = ExpectedText(cell.expect, cell.sends);
        run_.emplace(line_, host_, state_);
    }

    CellReport play() {
        const std::optional<StepSpan> located = Locate(target_.script, row_.step);
        if (!located) {
            return failed("setup", "no step \"" + row_.step.name + "\" #" +
                                       std::to_string(row_.step.occurrence) + " in the script");
        }
        step_ = *located;
        arm();

        RunOutcome outcome{};
        if (!runGuarded(outcome)) {
            return report_;
        }
        classify(outcome);
        return report_;
    }

  private:
    struct Box {
        sim::Micros at;
        std::string text;
        int lamp;
        std::size_t violations;
    };

    static sim::VirtualLineOptions LineOptions(const Target& target) {
        sim::VirtualLineOptions options;
        options.traceEnabled = false;  // the port records what the engine sends
        options.timeLimit = target.deadline + std::chrono::minutes(1);
        return options;
    }

    void arm() {
        if (cell_.kind == FaultKind::Vanish) {
            if (cell_.vanish == VanishWhen::AtStep) {
                line_.planVanish(step_.start, VanishingPortLine::VanishPoint::AtNextSend);
            } else {
                line_.planVanish(step_.start + step_.size,
                                 VanishingPortLine::VanishPoint::AfterByte);
            }
        } else if (cell_.inject) {
            cell_.inject(radio_->faults());
        }

        // The first "Problem on COM port" is answered with OK after the
        // person switched the radio off and on (the fault is gone with it)
        // and put the cable back; any later one with Cancel.
        host_.problemAnswers = {true};
        host_.onProblemBox = [this] {
            if (box_) {
                return;
            }
            box_ = Box{virtualLine_.now(), host_.lastText(), host_.lastLamp(),
                       radio_->violations().size()};
            clearFaults();
        };

        if (cell_.expect == Expect::ResendsUntilCancel) {
            const std::size_t cancelAfter =
                step_.start + step_.size * static_cast<std::size_t>(cell_.sends);
            line_.onSent = [this, cancelAfter](std::size_t count) {
                if (count == cancelAfter && !cancelled_) {
                    cancelled_ = true;
                    virtualLine_.after(sim::Micros{0}, [this] { run_->btnWCancelClick(); });
                }
            };
        }

        // A run that loops or waits for ever must not stall the test binary.
        virtualLine_.at(target_.deadline,
                        [] { throw StillRunning("the run was still going at the deadline"); });
    }

    void clearFaults() {
        radio_->faults() = Faults{};
        line_.replug();
        retryScript_ = target_.scriptFor(*radio_);
    }

    bool runGuarded(RunOutcome& outcome) {
        try {
            outcome = run_->RunWrite();
            return true;
        } catch (const sim::VirtualDeadlock& deadlock) {
            failed("hang", std::string("the engine waits for nothing: ") + deadlock.what());
        } catch (const StillRunning& deadline) {
            failed("hang", deadline.what());
        } catch (const std::exception& error) {
            failed("exception", error.what());
        }
        return false;
    }

    CellReport& failed(const std::string& observed, const std::string& problem) {
        report_.observed = observed;
        report_.problems.push_back(problem);
        return report_;
    }
    void problem(const std::string& what) { report_.problems.push_back(what); }

    Bytes attemptBytes(std::size_t attempt) const {
        const auto& starts = line_.openedAfterByte();
        const Bytes& sent = line_.sent();
        if (attempt >= starts.size()) {
            return {};
        }
        const std::size_t end = attempt + 1 < starts.size() ? starts[attempt + 1] : sent.size();
        return Bytes(sent.begin() + static_cast<long>(starts[attempt]),
                     sent.begin() + static_cast<long>(end));
    }

    sim::Micros stepStartedAt() const {
        if (step_.size == 0 || line_.sent().size() <= step_.start) {
            return line_.openedAt().empty() ? sim::Micros{0} : line_.openedAt().front();
        }
        return line_.sentAt(step_.start);
    }

    void checkTimeBound(sim::Micros endedAt) {
        const sim::Micros took = endedAt - stepStartedAt();
        report_.took = std::chrono::duration_cast<milliseconds>(took);
        if (took < sim::Micros{0} || took > row_.allowance) {
            problem("the step took " + std::to_string(MillisOf(took)) +
                    " ms of virtual time to end; its time-outs allow " +
                    std::to_string(row_.allowance.count()) + " ms");
        }
    }

    void checkFirstAttempt(const Bytes& attempt) {
        StepSpan end = step_;
        int sends = cell_.sends;
        if (cell_.endsAt) {
            const std::optional<StepSpan> located = Locate(target_.script, *cell_.endsAt);
            if (!located) {
                problem("no step \"" + cell_.endsAt->name + "\" in the script");
                return;
            }
            end = *located;
            sends = 1;
        }
        const int sent = SendsAtStep(attempt, target_.script, end);
        if (sent < 0) {
            problem("first attempt: the bytes before the step differ from a clean write");
        } else if (sent != sends && end.size > 0) {
            problem("first attempt: the step went out " + std::to_string(sent) +
                    " times, the protocol sends it " + std::to_string(sends) + " times");
        }
        const std::string diff = Difference(attempt, SentUpToStep(target_.script, end, sends));
        if (!diff.empty()) {
            problem("first attempt does not end at the step: " + diff);
        }
    }

    // The write that completed sent `expected` and left the file in the radio.
    void checkWrittenUnit(const Bytes& sent, const Bytes& expected, std::size_t violationsBefore) {
        const std::string diff = Difference(sent, expected);
        if (!diff.empty()) {
            problem("the completing write is not byte-exact: " + diff);
        }
        const std::string memory = target_.memoryProblem(*radio_);
        if (!memory.empty()) {
            problem(memory);
        }
        const auto& violations = radio_->violations();
        if (violations.size() > violationsBefore) {
            problem("the radio saw off-protocol bytes: " +
                    sim::formatViolation(violations[violationsBefore]));
        }
        if (cell_.kind == FaultKind::Vanish && line_.bytesLost() == 0) {
            problem("the port vanished but no byte was lost: the cell tested nothing");
        }
    }

    void classify(RunOutcome outcome) {
        const sim::Micros endedAt = virtualLine_.now();
        const std::size_t opens = line_.openedAfterByte().size();
        if (box_) {
            classifyFailure(outcome);
        } else if (cancelled_) {
            classifyCancelled(outcome, endedAt);
        } else if (outcome == RunOutcome::Completed) {
            report_.observed = opens == 1 && SendsAtStep(attemptBytes(0), target_.script, step_) > 1
                                   ? "completes after resend"
                                   : "completes";
            // The clean write, with the step sent as often as the protocol
            // resends it.
            checkWrittenUnit(line_.sent(), SentWithStepRepeated(target_.script, step_, cell_.sends),
                             0);
        } else {
            report_.observed = outcome == RunOutcome::FileError ? "file error" : "ends, no box";
            problem("the run ended without \"Problem on COM port\"");
        }
    }

    void classifyFailure(RunOutcome outcome) {
        report_.observed = outcome == RunOutcome::Completed ? "fail+retry ok" : "fail, retry fails";
        if (box_->text != kFailureText) {
            problem("the instruction label did not show the failure text at the box: \"" +
                    box_->text + "\"");
        }
        if (box_->lamp != 4) {
            problem("the lamp was " + std::to_string(box_->lamp) + " at the box, not 4 (yellow)");
        }
        checkTimeBound(box_->at);
        checkFirstAttempt(attemptBytes(0));
        if (host_.problemBoxes != 1) {
            problem("\"Problem on COM port\" was asked " + std::to_string(host_.problemBoxes) +
                    " times");
        }
        if (line_.openedAfterByte().size() != 2) {
            problem("the port was opened " + std::to_string(line_.openedAfterByte().size()) +
                    " times, not twice");
        }
        checkWrittenUnit(attemptBytes(1), Flatten(retryScript_), box_->violations);
    }

    void classifyCancelled(RunOutcome outcome, sim::Micros endedAt) {
        report_.observed = outcome == RunOutcome::Ended && host_.problemBoxes == 0
                               ? "resends until Cancel"
                               : "cancelled, then a box";
        checkTimeBound(endedAt);
        checkFirstAttempt(attemptBytes(0));
        if (host_.lastLamp() != 5 || host_.dialogCloses == 0) {
            problem("Cancel did not end the run with the lamp green and the dialog closed");
        }
        // A new press of WRITE, the radio switched off and on.
        const std::size_t violationsBefore = radio_->violations().size();
        line_.close();
        clearFaults();
        run_.reset();
        run_.emplace(line_, host_, state_);
        RunOutcome again{};
        if (!runGuarded(again)) {
            return;
        }
        if (again != RunOutcome::Completed) {
            problem("the new run after Cancel did not complete");
        }
        checkWrittenUnit(attemptBytes(line_.openedAfterByte().size() - 1), Flatten(retryScript_),
                         violationsBefore);
    }

    const Target& target_;
    const Row<Faults>& row_;
    const Cell<Faults>& cell_;
    std::unique_ptr<Model> radio_;
    sim::VirtualLine virtualLine_;
    VanishingPortLine line_;
    RecordingHost host_;
    SharedState state_;
    std::optional<WriteRun> run_;  // made last, gone first: the line outlives it
    Script retryScript_;
    StepSpan step_;
    std::optional<Box> box_;
    bool cancelled_ = false;
    CellReport report_;
};

template <class Target>
CellReport RunCell(const Target& target, const Row<typename Target::Faults>& row,
                   const Cell<typename Target::Faults>& cell) {
    CellRun<Target> run(target, row, cell);
    return run.play();
}

// Every cell of the rows, each reported as a test failure when its outcome
// differs from the expected one.
template <class Target>
std::vector<CellReport> RunMatrix(const Target& target,
                                  const std::vector<Row<typename Target::Faults>>& rows) {
    std::vector<CellReport> reports;
    for (const auto& row : rows) {
        for (const auto& cell : row.cells) {
            CellReport report = RunCell(target, row, cell);
            if (!report.passed()) {
                std::ostringstream text;
                text << target.name << ", step \"" << row.name << "\", fault \""
                     << FaultName(cell.kind) << "\": expected \"" << report.expected << "\", got \""
                     << report.observed << "\"";
                for (const std::string& p : report.problems) {
                    text << "\n  - " << p;
                }
                ADD_FAILURE() << text.str();
            }
            reports.push_back(std::move(report));
        }
    }
    return reports;
}

// ---- the table ------------------------------------------------------------

template <class Faults>
void PrintMatrix(std::ostream& out, const std::string& title, const std::vector<Row<Faults>>& rows,
                 const std::vector<CellReport>& reports) {
    constexpr int kStepWidth = 38;
    constexpr int kCellWidth = 27;
    const auto rule = [&] {
        out << std::string(kStepWidth, '-');
        for (std::size_t i = 0; i < kFaultKinds.size(); ++i) {
            out << "+" << std::string(kCellWidth + 1, '-');
        }
        out << "\n";
    };
    out << "\n" << std::left << std::setw(kStepWidth) << title;
    for (FaultKind kind : kFaultKinds) {
        out << "| " << std::setw(kCellWidth) << FaultName(kind);
    }
    out << "\n";
    rule();
    for (const auto& row : rows) {
        out << std::setw(kStepWidth) << row.name;
        for (FaultKind kind : kFaultKinds) {
            std::string text = row.notRun;
            for (const CellReport& report : reports) {
                if (report.row == row.name && report.kind == kind) {
                    text = report.text();
                }
            }
            out << "| " << std::setw(kCellWidth) << text;
        }
        out << "\n";
    }
    rule();
    out << std::right
        << "Each cell is one whole write with that fault from that step on (\"one answer\" rows:\n"
           "that answer only). fail+retry ok: failure text and \"Problem on COM port\" within the\n"
           "step's time-outs (virtual time from the step's first byte), then a retry after OK "
           "that\n"
           "wrote the unit byte for byte. completes: the protocol does not fail on it, and the "
           "write\n"
           "is byte-exact. resends until Cancel: the protocol asks again without end; Cancel ends "
           "the\n"
           "run and a new one completes. n/a: the step's answer has no such fault.\n";
}

}  // namespace qrb::test
