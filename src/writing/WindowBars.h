// How the main window's two progress bars follow a run's work reports.
// ProgressBar1 counts a routine's bytes, and cycles as frames are
// acknowledged; ProgressBar2 follows the transfer through the firmware on a
// full scale of its own per target. Free of widgets, so that the values the
// bars take can be checked against the engine alone.
#pragma once

#include "writing/WriteHost.h"

namespace qrb {

enum class ProgressBarId { Bar1, Bar2 };  // ProgressBar1, ProgressBar2

// The two bars as the window has them.
class ProgressBars {
  public:
    virtual ~ProgressBars() = default;
    virtual void setRange(ProgressBarId bar, int minimum, int maximum) = 0;
    virtual void setPosition(ProgressBarId bar, int position) = 0;
    virtual void setVisible(ProgressBarId bar, bool visible) = 0;
};

class WindowBars {
  public:
    explicit WindowBars(ProgressBars& bars) : bars_(bars) {}

    void workStarted(WorkPhase phase, int total);
    void workProgressed(const WorkProgress& progress);
    void workEnded();  // both bars hidden

  private:
    void prepare(ProgressBarId bar, int maximum);  // range from 0, at 0, visible

    ProgressBars& bars_;
    int lastDone_ = 0;  // the phase's units done at its last report
};

}  // namespace qrb
