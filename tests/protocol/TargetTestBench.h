// A bench for the Slave CPU and option unit procedures in virtual time: one
// radio model on a VirtualLine, a recording host and the write run that owns
// the receive framework, plus helpers to read the bytes the engine sent and
// to act at a chosen moment (a Cancel press) from inside the engine's waits.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "RecordingHost.h"
#include "sim/VirtualLine.h"
#include "writing/RadioQRB.h"
#include "writing/SharedState.h"

namespace qrb::test {

using Bytes = std::vector<std::uint8_t>;
using sim::Micros;

inline constexpr const char* kCompletionTextForTests =
    "\r\nThe writing procedure is completed.  To terminate the writing procedure, follow the "
    "steps below.\r\n1. Click on the OK button on the screen.\r\n2. Turn off the radio.\r\n"
    "3. Remove a LC-508B from the radio.";

// Expects run to throw Error; cases of refused files name theirs with it.
using ErrorCheck = void (*)(const std::function<void()>& run);
template <class Error>
void ExpectThrows(const std::function<void()>& run) {
    EXPECT_THROW(run(), Error);
}

// Names parameterised cases after their `name` member.
struct CaseName {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& info) const {
        return info.param.name;
    }
};

// A folder of its own for each test, removed afterwards.
class TempFolder {
  public:
    explicit TempFolder(const std::string& tag)
        : path_(std::filesystem::temp_directory_path() /
                ("qrb-" + tag + "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

template <class Model>
class TargetBench {
  public:
    template <class... ModelArgs>
    TargetBench(WriteTarget target, sim::VirtualLineOptions options, ModelArgs&&... modelArgs)
        : radio(std::forward<ModelArgs>(modelArgs)...),
          line(radio, options),
          run(line, host, state) {
        state.SelectedTarget = target;
        state.ComPortNumber = 1;
        state.ComBitRate = 38400;
    }

    Model radio;
    sim::VirtualLine line;
    RecordingHost host;
    SharedState state;
    WriteRun run;

    WriteFramework& fw() { return run.framework(); }

    // Meets the radio and identifies the unit, as the driver does before a
    // target procedure; true when that worked.
    bool Handshake() {
        run.ConfigurePort();
        return IsOk(run.Handshake());
    }

    // Marks the trace so that sentSinceMark() returns what followed.
    void mark() {
        mark_ = line.trace().size();
        markBytes_ = line.counters().bytesSent;
    }
    Bytes sentSinceMark() const { return sent(mark_); }
    Bytes sent(std::size_t fromTraceIndex = 0) const {
        Bytes bytes;
        const auto& trace = line.trace();
        for (std::size_t i = fromTraceIndex; i < trace.size(); ++i) {
            if (trace[i].direction == sim::TraceEntry::Direction::ToRadio)
                bytes.push_back(trace[i].byte);
        }
        return bytes;
    }
    // Times at which the engine sent each byte after the mark.
    std::vector<Micros> sendTimesSinceMark() const {
        std::vector<Micros> times;
        const auto& trace = line.trace();
        for (std::size_t i = mark_; i < trace.size(); ++i) {
            if (trace[i].direction == sim::TraceEntry::Direction::ToRadio)
                times.push_back(trace[i].at);
        }
        return times;
    }

    // Runs action once, inside the engine's event passes, at the first pass
    // (checked every 100 µs of virtual time) where condition holds. Keep
    // conditions cheap: they run often.
    void whenever(std::function<bool()> condition, std::function<void()> action) {
        line.after(Micros{100}, Poll{this, std::move(condition), std::move(action)});
    }
    // A Cancel press at the first pass where condition holds.
    void cancelWhen(std::function<bool()> condition) {
        whenever(std::move(condition), [this] {
            cancelledAt = line.now();
            cancelSentCount = line.counters().bytesSent;
            run.btnWCancelClick();
        });
    }
    // True once the engine has sent `count` bytes after the mark.
    std::function<bool()> sentAtLeast(std::uint64_t count) {
        const std::uint64_t base = markBytes_;
        return [this, base, count] { return line.counters().bytesSent >= base + count; };
    }
    // True once the last byte the engine sent is `value`.
    std::function<bool()> lastSentIs(std::uint8_t value) {
        return [this, value] {
            const auto& trace = line.trace();
            for (auto it = trace.rbegin(); it != trace.rend(); ++it) {
                if (it->direction == sim::TraceEntry::Direction::ToRadio)
                    return it->byte == value;
            }
            return false;
        };
    }

    Micros cancelledAt{-1};
    std::uint64_t cancelSentCount = 0;  // bytes the engine had sent when Cancel was pressed

  private:
    struct Poll {
        TargetBench* bench;
        std::function<bool()> condition;
        std::function<void()> action;
        void operator()() const {
            if (condition()) {
                action();
                return;
            }
            bench->line.after(Micros{100}, *this);
        }
    };

    std::size_t mark_ = 0;
    std::uint64_t markBytes_ = 0;
};

}  // namespace qrb::test
