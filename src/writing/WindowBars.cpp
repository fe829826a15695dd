#include "writing/WindowBars.h"

#include <algorithm>

namespace qrb {

namespace {

// ProgressBar1 while frames or lines are acknowledged: 0 to 49 and round
// again (option unit blocks: 0 to 29).
constexpr int kFrameCycle = 50;
constexpr int kOptionBlockCycle = 30;

// ProgressBar2's full scales: the Master CPU image's 2048 blocks passed, the
// option unit's block index 0..1023, the Slave CPU's line index against 1248
// lines (a longer file keeps the bar full).
constexpr int kMasterBlocks = 2048;
constexpr int kOptionLastBlock = 1023;
constexpr int kSlaveLastLine = 1247;

}  // namespace

void WindowBars::prepare(ProgressBarId bar, int maximum) {
    bars_.setRange(bar, 0, maximum);
    bars_.setPosition(bar, 0);
    bars_.setVisible(bar, true);
}

void WindowBars::workStarted(WorkPhase phase, int total) {
    lastDone_ = 0;
    switch (phase) {
        case WorkPhase::MasterBlocks:
            prepare(ProgressBarId::Bar1, kFrameCycle - 1);
            prepare(ProgressBarId::Bar2, kMasterBlocks);
            break;
        case WorkPhase::SlaveLines:
            prepare(ProgressBarId::Bar1, kFrameCycle - 1);
            prepare(ProgressBarId::Bar2, kSlaveLastLine);
            break;
        case WorkPhase::OptionRoutine:
            prepare(ProgressBarId::Bar1, std::max(total - 1, 0));
            break;
        case WorkPhase::OptionBlocks:
            // Bar1 stays where the routine load left it until the first block.
            bars_.setRange(ProgressBarId::Bar1, 0, kOptionBlockCycle - 1);
            prepare(ProgressBarId::Bar2, kOptionLastBlock);
            break;
    }
}

void WindowBars::workProgressed(const WorkProgress& progress) {
    const int position = progress.position;
    switch (progress.phase) {
        case WorkPhase::MasterBlocks:
            // Block 0, sent last, leaves Bar1 where it is.
            if (position < kMasterBlocks)
                bars_.setPosition(ProgressBarId::Bar1, position % kFrameCycle);
            bars_.setPosition(ProgressBarId::Bar2, position);
            break;
        case WorkPhase::SlaveLines:
            bars_.setPosition(ProgressBarId::Bar1, position % kFrameCycle);
            bars_.setPosition(ProgressBarId::Bar2, std::min(position, kSlaveLastLine));
            break;
        case WorkPhase::OptionRoutine:
            bars_.setPosition(ProgressBarId::Bar1,
                              std::min(progress.done, std::max(progress.total - 1, 0)));
            break;
        case WorkPhase::OptionBlocks:
            // Blocks left out move Bar2 only.
            if (progress.done > lastDone_)
                bars_.setPosition(ProgressBarId::Bar1, position % kOptionBlockCycle);
            bars_.setPosition(ProgressBarId::Bar2, position);
            break;
    }
    lastDone_ = progress.done;
}

void WindowBars::workEnded() {
    bars_.setVisible(ProgressBarId::Bar1, false);
    bars_.setVisible(ProgressBarId::Bar2, false);
}

}  // namespace qrb
