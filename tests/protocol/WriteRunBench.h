// The write run against one radio model in virtual time: the model, the
// virtual line, the recording host, the shared state and the driver, plus a
// scratch folder for firmware files. Protocol tests build one per case.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "MasterCpuFiles.h"
#include "RecordingHost.h"
#include "sim/MasterCpuModel.h"
#include "sim/VirtualLine.h"
#include "writing/RadioQRB.h"

namespace qrb::test {

using sim::Micros;

inline Micros Ms(long ms) {
    return Micros(ms * 1000);
}

// Ends a run that is still going at `when` by throwing out of the line's event
// pass, so an engine that loops for ever fails its test instead of hanging it.
inline void FailIfStillRunningAt(sim::VirtualLine& line, Micros when) {
    line.at(when, [] { throw std::runtime_error("the run was still going"); });
}

// A folder of its own for each test, removed afterwards.
class ScratchFolder {
  public:
    ScratchFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "qrb-protocol-" + std::to_string(::getpid());
        if (info != nullptr)
            name += std::string("-") + info->test_suite_name() + "-" + info->name();
        std::replace(name.begin(), name.end(), '/', '_');
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::filesystem::path file(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// One unit on a virtual line with the driver on top, and a scratch folder for
// its firmware file. The run is built last so that the line outlives it.
template <class Model>
struct UnitBench {
    template <class... ModelArgs>
    UnitBench(WriteTarget target, sim::VirtualLineOptions options, ModelArgs&&... modelArgs)
        : radio(std::forward<ModelArgs>(modelArgs)...), line(radio, withTimeLimit(options)) {
        state.SelectedTarget = target;
        state.ComPortNumber = 3;
        state.ComBitRate = 9600;  // the run must talk at 38400 whatever this says
    }

    // An S-record file holding these runs, selected for the next write.
    std::vector<std::uint8_t> selectFile(const std::vector<DataRun>& runs,
                                         const std::string& name = "TN508001_M_V0100.SFL") {
        state.SelectedFileName = WriteLines(folder.file(name), SRecordLines(runs));
        return ImageOf(runs);
    }

    void pressCancelAt(Micros when) {
        line.at(when, [this] { run.btnWCancelClick(); });
    }

    // Bytes the engine sent, in order.
    std::vector<std::uint8_t> sentBytes() const {
        std::vector<std::uint8_t> bytes;
        for (const sim::TraceEntry& entry : line.trace()) {
            if (entry.direction == sim::TraceEntry::Direction::ToRadio)
                bytes.push_back(entry.byte);
        }
        return bytes;
    }
    int timesSent(std::uint8_t byte) const {
        const auto bytes = sentBytes();
        return static_cast<int>(std::count(bytes.begin(), bytes.end(), byte));
    }

    static sim::VirtualLineOptions withTimeLimit(sim::VirtualLineOptions options) {
        options.timeLimit = std::chrono::minutes(30);
        return options;
    }

    ScratchFolder folder;
    Model radio;
    sim::VirtualLine line;
    RecordingHost host;
    SharedState state;
    WriteRun run{line, host, state};
};

struct MasterBench : UnitBench<sim::MasterCpuModel> {
    explicit MasterBench(sim::VirtualLineOptions options = {}, sim::RadioConfig config = {},
                         sim::MasterFaults faults = {})
        : UnitBench(kMasterCpu, options, config, std::move(faults)) {}
};

// The block order on the line and the bar positions after each block.
struct BlockStep {
    int block;
    int bar1;  // -1: Bar1 is not moved for this block
    int bar2;
};

inline std::vector<BlockStep> ExpectedBlockSteps() {
    std::vector<BlockStep> steps;
    for (int i = 160; i <= 2047; ++i)
        steps.push_back({i, (i - 159) % 50, i - 159});
    for (int i = 35; i <= 95; ++i)
        steps.push_back({i, (i + 1918) % 50, i + 1918});
    for (int i = 1; i <= 3; ++i)
        steps.push_back({i, (i + 2044) % 50, i + 2044});
    steps.push_back({0, -1, 2048});
    return steps;
}

inline std::vector<std::uint32_t> ExpectedBlockOrder() {
    std::vector<std::uint32_t> order;
    for (const BlockStep& step : ExpectedBlockSteps())
        order.push_back(step.block);
    return order;
}

inline std::vector<std::uint32_t> BlocksOf(const std::vector<sim::FrameRecord>& frames) {
    std::vector<std::uint32_t> blocks;
    for (const sim::FrameRecord& frame : frames)
        blocks.push_back(frame.number);
    return blocks;
}

}  // namespace qrb::test
