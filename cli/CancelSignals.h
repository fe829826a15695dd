// Ctrl+C (SIGINT) and SIGTERM act as the write dialog's Cancel button. The
// signal handler only writes to a pipe; the event loop that the write run
// pumps reads it and calls the callback on the run's thread. On Windows the
// console's Ctrl+C and Ctrl+Break do the same through a queued call.
#pragma once

#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace qrb::cli {

class CancelSignals {
  public:
    explicit CancelSignals(std::function<void()> onCancel,
                           std::string notice = "cancelling the write...");
    ~CancelSignals();
    CancelSignals(const CancelSignals&) = delete;
    CancelSignals& operator=(const CancelSignals&) = delete;

    // Runs the callback; on the run's thread.
    void cancel();

  private:
    std::function<void()> onCancel_;
    std::string notice_;
    std::unique_ptr<QSocketNotifier> notifier_;  // POSIX: watches the signal pipe
};

}  // namespace qrb::cli
